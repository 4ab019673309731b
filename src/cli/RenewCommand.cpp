#include "CertificateText.h"
#include "Command.h"
#include "CommandSupport.h"

#include "JournalLine.h"
#include "uOpenSSLCommands.h"
#include "uRenewal.h"
#include "uTerminalUser.h"

#include <QCoreApplication>

namespace CommandLine {

namespace {

const QString kDaysMessage = QStringLiteral("--days: \"%1\" is not a number of days.");
const QString kRenewedLine = QStringLiteral("Renewed %1.\n");
const QString kWouldRenewLine = QStringLiteral("%1 would renew: a certificate was obtained and "
                                               "proven, then thrown away.\n");
const QString kRenewFailedLine = QStringLiteral("%1: %2");
const QString kNothingDueLine =
    QStringLiteral("No certificate is due for renewal (recorded in \"%1\": %2).\n");
const QString kNoRecordsLine =
    QStringLiteral("No certificate was obtained with \"certwright acme\" yet: \"%1\" holds no "
                   "records.\n");
const QString kRecordListing =
    QStringLiteral("%1\n  names: %2\n  expires: %3\n  outputs: %4 in %5\n  due: %6\n");
const QString kDaysLeft = QStringLiteral("%1 (%2 days left)");
const QString kDueNow = QStringLiteral("now (since %1)");
const QString kDueUnknownExpiry = QStringLiteral("now (its expiry is unknown)");
const QString kWebRootChallenge = QStringLiteral("  challenge: files in the web root %1\n");
const QString kServerChallenge = QStringLiteral("  challenge: a temporary web server on port %1\n");
const QString kScriptChallenge = QStringLiteral("  challenge: a DNS record set by the script %1\n");
const QString kUpdateChallenge =
    QStringLiteral("  challenge: a DNS record updated at %1 with the TSIG key %2\n");
const QString kNoAttemptListing = QStringLiteral("  last renewal: none yet\n");
const QString kRenewedListing = QStringLiteral("  last renewal: %1, renewed\n");
const QString kRenewedButListing = QStringLiteral("  last renewal: %1, renewed, but %2\n");
const QString kFailedListing = QStringLiteral("  last renewal: %1, failed: %2\n");
const QString kReloadListing = QStringLiteral("  reload: %1\n");
const QString kPreHookListing = QStringLiteral("  pre-hook: %1\n");
const QString kPostHookListing = QStringLiteral("  post-hook: %1\n");

QList<QCommandLineOption> renewOptions() {
    return {valueOption("days",
                        "renew what ends within N days (default: when a third of its lifetime, "
                        "at most 30 days, is left)",
                        "N"),
            valueOption("name", "renew only the certificate of this main name", "NAME"),
            flagOption("all", "renew every recorded certificate, due or not"),
            flagOption("dry-run", "obtain and prove each certificate into a scratch folder and "
                                  "throw it away: no file, record or reload changes"),
            flagOption("list", "list the recorded certificates"),
            flagOption("install-timer", "install the systemd timer that renews daily"),
            flagOption("system", "with --install-timer: for the whole system (root only)")};
}

int listRecords() {
    QStringList problems;
    const QVector<Renewal::Record> all = Renewal::records(&problems);
    if (all.isEmpty() && problems.isEmpty())
        print(stdout, kNoRecordsLine.arg(Renewal::recordFolderPath()));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Renewal::Record& record : all) {
        const QDateTime due = Renewal::duePoint(record);
        const QString expires = record.expiry.isValid()
                                    ? kDaysLeft.arg(expiryText(record.expiry))
                                          .arg(CertificateText::wholeDaysLeft(record.expiry, now))
                                    : kUnknownExpiry;
        print(stdout, kRecordListing.arg(record.name, record.values.names.join(kListSeparator),
                                         expires, record.values.outputs.join(kListSeparator),
                                         record.values.outFolder,
                                         !due.isValid() ? kDueUnknownExpiry
                                         : due > now    ? expiryText(due)
                                                        : kDueNow.arg(expiryText(due))));
        const Acme::DnsValidation& dns = record.values.dns;
        print(stdout,
              dns.provider == Acme::kDnsExec      ? kScriptChallenge.arg(dns.script)
              : dns.provider == Acme::kDnsRfc2136 ? kUpdateChallenge.arg(dns.server, dns.tsigKey)
              : record.values.webRoot.isEmpty()   ? kServerChallenge.arg(record.values.httpPort)
                                                  : kWebRootChallenge.arg(record.values.webRoot));
        const QString when = expiryText(record.lastAttempt);
        print(stdout, !record.lastAttempt.isValid() ? kNoAttemptListing
                      : !record.lastRenewed         ? kFailedListing.arg(when, record.lastReason)
                      : record.lastReason.isEmpty()
                          ? kRenewedListing.arg(when)
                          : kRenewedButListing.arg(when, record.lastReason));
        const QStringList& reload = record.values.reloadCommand;
        if (!reload.isEmpty())
            print(stdout, kReloadListing.arg(
                              OpenSSLCommands::readableCommandLine(reload.first(), reload.mid(1))));
        for (const auto& [hook, listing] : {std::pair{record.values.preHook, kPreHookListing},
                                            std::pair{record.values.postHook, kPostHookListing}})
            if (!hook.isEmpty())
                print(stdout,
                      listing.arg(OpenSSLCommands::readableCommandLine(hook.first(), hook.mid(1))));
    }
    for (const QString& problem : problems)
        print(stderr, problem + QLatin1Char('\n'));
    return problems.isEmpty() ? kDone : kFailed;
}

int runRenew(const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("list")))
        return listRecords();
    if (parser.isSet(QStringLiteral("install-timer"))) {
        const Renewal::TimerInstallation installed = Renewal::installTimer(
            QCoreApplication::applicationFilePath(), parser.isSet(QStringLiteral("system")));
        print(stdout, installed.message + QLatin1Char('\n'));
        return kDone;
    }
    // Without --days a certificate is due by its lifetime (Renewal::isDue).
    int days = parser.isSet(QStringLiteral("all")) ? Renewal::kEveryCertificate : -1;
    if (parser.isSet(QStringLiteral("days")) && !parser.isSet(QStringLiteral("all"))) {
        const QString daysText = parser.value(QStringLiteral("days"));
        bool isNumber = false;
        days = daysText.toInt(&isNumber);
        if (!isNumber || days < 0)
            throw UsageError(kDaysMessage.arg(daysText));
    }
    const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
    TerminalUser user(std::nullopt, std::nullopt, true);
    const QVector<Renewal::Outcome> outcomes = Renewal::renewDue(
        days, parser.value(QStringLiteral("name")), user, commandContext(), dryRun);
    bool allWell = true;
    for (const Renewal::Outcome& outcome : outcomes) {
        if (outcome.renewed)
            print(stdout, (dryRun ? kWouldRenewLine : kRenewedLine).arg(outcome.name));
        if (!outcome.error.isEmpty()) {
            allWell = false;
            // One line for each failure, which the journal of the renewal timer keeps.
            print(stderr,
                  JournalLine::error(outcome.name.isEmpty()
                                         ? outcome.error
                                         : kRenewFailedLine.arg(outcome.name, outcome.error)));
        }
    }
    if (outcomes.isEmpty()) {
        QStringList names;
        for (const Renewal::Record& record : Renewal::records())
            names << record.name;
        print(stdout, names.isEmpty() ? kNoRecordsLine.arg(Renewal::recordFolderPath())
                                      : kNothingDueLine.arg(Renewal::recordFolderPath(),
                                                            names.join(kListSeparator)));
    }
    return allWell ? kDone : kFailed;
}

} // namespace

Command renewCommand() {
    return {"renew", "renew the certificates obtained with acme that end soon", renewOptions(),
            runRenew};
}

} // namespace CommandLine
