#include "Command.h"
#include "CommandSupport.h"
#include "ExpiryCalendar.h"
#include "ExpiryWatch.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uRenewal.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

namespace CommandLine {

namespace {

const QString kAddedLine = QStringLiteral("Watching %1 (in %2).\n");
const QString kRemovedLine = QStringLiteral("No longer watching %1.\n");
const QString kNothingLine = QStringLiteral(
    "No certificate is known: none is recorded for renewal in \"%1\", and none is watched in "
    "\"%2\". Add a file or a server with \"certwright expiry --add FILE|HOST[:PORT]\".\n");
const QString kCalendarLine = QStringLiteral("The calendar was written to %1.\n");
const QString kForceMessage = QStringLiteral("--force goes with --ics.");
const QString kChangeWithListMessage =
    QStringLiteral("--%1 changes the list: it goes with none of --json, --ics, --force, "
                   "--timeout and --parallel.");

QList<QCommandLineOption> expiryOptions() {
    return {
        valueOption("add", "watch this certificate file or server too; repeat for more",
                    "FILE|HOST[:PORT]"),
        valueOption("remove", "stop watching this file or server", "FILE|HOST[:PORT]"),
        flagOption("json", "print one JSON object a line, one for each certificate"),
        valueOption("ics",
                    "write a calendar (iCalendar) with the day each certificate is due for "
                    "renewal and the day it expires",
                    "FILE"),
        flagOption("force", "with --ics: replace an existing file"),
        valueOption("timeout",
                    "seconds that the connection and handshake with a server may take "
                    "(default: 10)",
                    "SECONDS"),
        valueOption("parallel", "read this many files and servers at a time (default: 8)", "N"),
    };
}

// Adds and then removes what the options name.
int changeList(const QCommandLineParser& parser, const QString& currentFolder) {
    for (const char* option : {"json", "ics", "force", "timeout", "parallel"})
        if (parser.isSet(QString::fromLatin1(option)))
            throw UsageError(kChangeWithListMessage.arg(parser.isSet(QStringLiteral("add"))
                                                            ? QStringLiteral("add")
                                                            : QStringLiteral("remove")));
    // What is neither a server nor a readable file is a usage error.
    const QStringList added = parser.values(QStringLiteral("add"));
    for (const QString& typed : added) {
        try {
            const QString entry = ExpiryWatch::watchedForm(typed, currentFolder);
            if (QFileInfo(entry).isAbsolute())
                CertificateCheck::readRegularFile(entry, ToolContext{});
        } catch (const PageError& error) {
            throw UsageError(error.message());
        }
    }
    for (const QString& typed : added)
        print(stdout,
              kAddedLine.arg(ExpiryWatch::add(typed, currentFolder), ExpiryWatch::watchFilePath()));
    for (const QString& typed : parser.values(QStringLiteral("remove")))
        print(stdout, kRemovedLine.arg(ExpiryWatch::remove(typed, currentFolder)));
    return kDone;
}

// Exit 0 when nothing needs attention, 1 when an entry is due, expired or cannot be read.
int runExpiry(const QCommandLineParser& parser) {
    const ToolContext context = commandContext();
    if (parser.isSet(QStringLiteral("add")) || parser.isSet(QStringLiteral("remove")))
        return changeList(parser, context.currentFolder);
    const bool force = parser.isSet(QStringLiteral("force"));
    const QString typedCalendar = parser.value(QStringLiteral("ics"));
    if (force && typedCalendar.isEmpty())
        throw UsageError(kForceMessage);
    const int timeoutSeconds = numberOption(parser, "timeout", 1, kLongestTimeoutSeconds,
                                            CertificateCheck::kServerTimeoutMs / kMsPerSecond);
    const int parallel =
        numberOption(parser, "parallel", 1, kMostParallel, ExpiryWatch::kDefaultParallel);
    // An existing calendar ends the command before anything is read, as other outputs do.
    const QString calendar = typedCalendar.isEmpty()
                                 ? QString()
                                 : ToolSteps::pathForTool(typedCalendar, context.currentFolder);
    const QFileInfo existing(calendar);
    if (!calendar.isEmpty() && !force && (existing.exists() || existing.isSymLink()))
        throw PageError(existingOutputStatement(typedCalendar));
    QVector<ExpiryWatch::Entry> entries =
        ExpiryWatch::entries(context, timeoutSeconds * kMsPerSecond, parallel);
    std::stable_sort(entries.begin(), entries.end(), ExpiryWatch::comesFirst);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool json = parser.isSet(QStringLiteral("json"));
    if (entries.isEmpty() && !json)
        print(stdout, kNothingLine.arg(Renewal::recordFolderPath(), ExpiryWatch::watchFilePath()));
    bool attention = false;
    for (qsizetype at = 0; at < entries.size(); ++at) {
        const ExpiryWatch::Entry& entry = entries[at];
        attention = attention || entry.needsAttention();
        if (json)
            print(stdout, QString::fromUtf8(
                              QJsonDocument(entry.toJson(now)).toJson(QJsonDocument::Compact)) +
                              QLatin1Char('\n'));
        else
            print(stdout, (at == 0 ? QString() : QStringLiteral("\n")) + entry.toText(now));
    }
    if (!calendar.isEmpty()) {
        ExpiryCalendar::writeCalendar(entries, calendar, force);
        print(stderr, kCalendarLine.arg(typedCalendar));
    }
    return attention ? kFailed : kDone;
}

} // namespace

Command expiryCommand() {
    return {"expiry", "list when each certificate expires and whether it is due", expiryOptions(),
            runExpiry};
}

} // namespace CommandLine
