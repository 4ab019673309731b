#include "Command.h"
#include "CommandSupport.h"

#include "IssuanceHooks.h"
#include "ServerFiles.h"
#include "uAcme.h"
#include "uCertwrightCommon.h"
#include "uExportFolder.h"
#include "uPassPhraseSource.h"
#include "uRenewal.h"
#include "uTerminalUser.h"

#include <cstdio>

namespace CommandLine {

namespace {

constexpr int kHighestPort = 65535;
const QString kAcmeKeyTypeMessage =
    QStringLiteral("--key-type: \"%1\" is not a key type: use ec256, ec384, rsa2048 or rsa4096.");
const QString kChallengeMessage =
    QStringLiteral("Give either --webroot DIR or --standalone: how the authority reaches this "
                   "server. Or give --dns KIND to prove the names by a DNS record.");
const QString kDnsKindMessage =
    QStringLiteral("--dns: \"%1\" is not a kind of DNS validation: use exec or rfc2136.");
const QString kDnsOptionMessage = QStringLiteral("--%1 belongs to --dns %2 only.");
const QString kDnsWaitOptionMessage =
    QStringLiteral("--dns-wait: \"%1\" is not a number of seconds from 1 to 3600.");
const QString kSecretsFromStdinMessage = QStringLiteral(
    "--passout and --tsig-secret cannot both read standard input: it gives one line only.");
constexpr int kLongestDnsWait = 3600;
const QString kPortOptionMessage =
    QStringLiteral("--http-port: \"%1\" is not a port number from 1 to 65535.");
const QString kTermsQuestion =
    QStringLiteral("The authority's terms of service are at %1\nDo you agree to them? [y/N] ");
const QString kTermsRequiredMessage = QStringLiteral(
    "The authority's terms of service must be agreed to: read them and give --agree-tos.");
const QString kTermsDeclinedMessage =
    QStringLiteral("Without agreeing to the terms of service no certificate is issued.");
const QString kAcmeStepLine = QStringLiteral("%1 (%2%)\n");
const QString kExpiryLine = QStringLiteral("The certificate expires on %1.\n");
const QString kRecordLine = QStringLiteral("It is recorded for renewal in %1.\n");
const QString kPassPhraseKeptLine =
    QStringLiteral("The pass phrase is kept for unattended renewals in %1 (readable by you "
                   "alone).\n");
const QString kYes = QStringLiteral("y");
constexpr int kPercent = 100;

QList<QCommandLineOption> acmeOptions() {
    return {valueOption("domain",
                        "a name of the certificate; repeat for more (the first names the files)",
                        "NAME"),
            valueOption("email", "your e-mail address for the authority", "ADDRESS"),
            valueOption("webroot", "the web root that this server serves for the names", "DIR"),
            flagOption("standalone", "answer the authority with a temporary web server of its own"),
            valueOption("http-port", "the port of the temporary web server (default 80)", "N"),
            valueOption("server",
                        "the authority's ACME directory (default: Let's Encrypt's production one)",
                        "URL"),
            valueOption("ca-bundle",
                        "a CA file that the authority's HTTPS certificate is signed by", "FILE"),
            valueOption("key-type", "ec256 (default), ec384, rsa2048 or rsa4096", "TYPE"),
            valueOption("out", "the folder of the files", "DIR"),
            valueOption("for",
                        "nginx, apache, haproxy, iis or indy: the files to make; repeat for more",
                        "SERVER"),
            valueOption("passout", "the pass phrase of the .pfx file and key.pem", "SOURCE"),
            valueOption("reload",
                        "a command to run after each new certificate (quoted as for a shell, "
                        "run without one)",
                        "COMMAND"),
            valueOption("pre-hook",
                        "a command to run before the authority validates the names, such as one "
                        "that frees port 80 (quoted as for a shell, run without one)",
                        "COMMAND"),
            valueOption("post-hook",
                        "a command to run after the validation, however it ended (quoted as for "
                        "a shell, run without one)",
                        "COMMAND"),
            valueOption("name", "the friendly name in the .pfx file (default: the first name)",
                        "FRIENDLY"),
            flagOption("legacy", "protect the .pfx file as Windows Server 2016 can import it"),
            valueOption("dns",
                        "prove the names by a DNS record instead: exec (a script) or rfc2136 "
                        "(a DNS server's updates); needed for *. names",
                        "KIND"),
            valueOption("dns-script",
                        "exec: the script called with present or cleanup, the record's name and "
                        "value",
                        "PATH"),
            valueOption("dns-server", "rfc2136: the DNS server that takes the updates",
                        "ADDRESS[:PORT]"),
            valueOption("tsig-key", "rfc2136: the name of the TSIG key", "NAME"),
            valueOption("tsig-secret",
                        "rfc2136: the TSIG key's secret (file:PATH, env:VAR, fd:N or stdin)",
                        "SOURCE"),
            valueOption("tsig-algorithm", "rfc2136: the TSIG algorithm (default hmac-sha256)",
                        "ALGORITHM"),
            valueOption("dns-resolver",
                        "the DNS server asked whether the record is in place (default: "
                        "--dns-server; for exec none: wait instead)",
                        "ADDRESS[:PORT]"),
            valueOption("dns-wait",
                        "exec without --dns-resolver: seconds to wait for the record (default 30)",
                        "SECONDS"),
            flagOption("agree-tos", "agree to the authority's terms of service"),
            flagOption("force", "replace existing files")};
}

// Agreement to the terms of service: the option, or a Yes at the terminal.
void requireAgreement(const QCommandLineParser& parser, const Acme::AcmeValues& values) {
    if (parser.isSet(QStringLiteral("agree-tos")))
        return;
    if (!PassPhraseSource::canAsk())
        throw UsageError(kTermsRequiredMessage);
    print(stderr, kTermsQuestion.arg(Acme::termsOfService(values.server, values.caBundle)));
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin) ||
        QString::fromLocal8Bit(answer).trimmed().toLower() != kYes)
        throw PageError(kTermsDeclinedMessage);
}

// The DNS validation of --dns and the options that belong to it; none without --dns.
Acme::DnsValidation dnsValidation(const QCommandLineParser& parser) {
    Acme::DnsValidation dns;
    const QString kind = parser.value(QStringLiteral("dns"));
    const QStringList execOnly = {QStringLiteral("dns-script"), QStringLiteral("dns-wait")};
    const QStringList rfc2136Only = {QStringLiteral("dns-server"), QStringLiteral("tsig-key"),
                                     QStringLiteral("tsig-secret"),
                                     QStringLiteral("tsig-algorithm")};
    for (const QString& option : execOnly + rfc2136Only + QStringList{"dns-resolver"}) {
        const bool belongs = (kind == Acme::kDnsExec && !rfc2136Only.contains(option)) ||
                             (kind == Acme::kDnsRfc2136 && !execOnly.contains(option));
        if (parser.isSet(option) && !belongs)
            throw UsageError(kDnsOptionMessage.arg(
                option, execOnly.contains(option) ? Acme::kDnsExec
                        : rfc2136Only.contains(option)
                            ? Acme::kDnsRfc2136
                            : Acme::kDnsProviders.join(QStringLiteral(" or --dns "))));
    }
    if (!parser.isSet(QStringLiteral("dns")))
        return dns;
    if (!Acme::kDnsProviders.contains(kind))
        throw UsageError(kDnsKindMessage.arg(kind));
    dns.provider = kind;
    dns.resolver = parser.value(QStringLiteral("dns-resolver"));
    if (kind == Acme::kDnsExec) {
        dns.script = required(parser, "dns-script");
        if (parser.isSet(QStringLiteral("dns-wait"))) {
            bool isNumber = false;
            dns.waitSeconds = parser.value(QStringLiteral("dns-wait")).toInt(&isNumber);
            if (!isNumber || dns.waitSeconds < 1 || dns.waitSeconds > kLongestDnsWait)
                throw UsageError(
                    kDnsWaitOptionMessage.arg(parser.value(QStringLiteral("dns-wait"))));
        }
        return dns;
    }
    dns.server = required(parser, "dns-server");
    dns.tsigKey = required(parser, "tsig-key");
    const QString secret = required(parser, "tsig-secret");
    if (PassPhraseSource::readsStandardInput(secret) &&
        PassPhraseSource::readsStandardInput(parser.value(QStringLiteral("passout"))))
        throw UsageError(kSecretsFromStdinMessage);
    dns.tsigSecret = PassPhraseSource::read(QStringLiteral("--tsig-secret"), secret);
    if (parser.isSet(QStringLiteral("tsig-algorithm")))
        dns.tsigAlgorithm = parser.value(QStringLiteral("tsig-algorithm"));
    return dns;
}

Acme::AcmeValues acmeValues(const QCommandLineParser& parser) {
    Acme::AcmeValues values;
    values.names = parser.values(QStringLiteral("domain"));
    if (values.names.isEmpty())
        throw UsageError(kMissingOptionMessage.arg(QStringLiteral("domain")));
    values.email = required(parser, "email");
    const bool standalone = parser.isSet(QStringLiteral("standalone"));
    const int ways = int(standalone) + int(parser.isSet(QStringLiteral("webroot"))) +
                     int(parser.isSet(QStringLiteral("dns")));
    if (ways != 1)
        throw UsageError(kChallengeMessage);
    values.webRoot = parser.value(QStringLiteral("webroot"));
    if (parser.isSet(QStringLiteral("http-port"))) {
        bool isNumber = false;
        values.httpPort = parser.value(QStringLiteral("http-port")).toInt(&isNumber);
        if (!isNumber || values.httpPort < 1 || values.httpPort > kHighestPort)
            throw UsageError(kPortOptionMessage.arg(parser.value(QStringLiteral("http-port"))));
    }
    if (parser.isSet(QStringLiteral("server")))
        values.server = parser.value(QStringLiteral("server"));
    values.caBundle = parser.value(QStringLiteral("ca-bundle"));
    if (!values.caBundle.isEmpty())
        PassPhraseSource::requireReadableFile(QStringLiteral("--ca-bundle"), values.caBundle);
    if (parser.isSet(QStringLiteral("key-type")))
        values.keyType = parser.value(QStringLiteral("key-type"));
    if (!Acme::kKeyTypes.contains(values.keyType))
        throw UsageError(kAcmeKeyTypeMessage.arg(values.keyType));
    values.outFolder = required(parser, "out");
    values.outputs = parser.values(QStringLiteral("for"));
    values.outputs = serversOption(parser);
    values.reloadCommand = reloadOption(parser);
    values.preHook = reloadOption(parser, QStringLiteral("pre-hook"), IssuanceHooks::kPreHookWhat);
    values.postHook =
        reloadOption(parser, QStringLiteral("post-hook"), IssuanceHooks::kPostHookWhat);
    values.friendlyName = parser.value(QStringLiteral("name"));
    values.legacyPfx = parser.isSet(QStringLiteral("legacy"));
    values.dns = dnsValidation(parser);
    return values;
}

// Each new step on its own line of standard error, with how far the run is.
Acme::ProgressCallback printedProgress() {
    return [last = QString()](const QString& step, double fraction) mutable {
        if (step == last)
            return;
        last = step;
        print(stderr, kAcmeStepLine.arg(step).arg(qRound(fraction * kPercent)));
    };
}

int runAcme(const QCommandLineParser& parser) {
    Acme::AcmeValues values = acmeValues(parser);
    const ToolContext context = commandContext();
    const bool force = parser.isSet(QStringLiteral("force"));
    const QString folder =
        requirePrivateExportFolder(values.outFolder, context.currentFolder).path();
    if (!force)
        for (const QString& name : Acme::outputNames(values))
            if (FileIsPresent(folder + name))
                throw PageError(existingOutputStatement(name));
    if (values.outputs.contains(ServerFiles::kForIis) ||
        values.outputs.contains(ServerFiles::kForIndy))
        values.passPhrase = newPassPhrase(parser);
    const Acme::CheckedAcmeValues checked = Acme::checkValues(values, context);
    requireAgreement(parser, values);
    TerminalUser user(std::nullopt, std::nullopt, force);
    const Acme::AcmeResult result =
        Renewal::obtainAndRecord(checked, user, context, printedProgress());
    for (const QString& path : result.made.paths)
        if (FileIsPresent(path))
            print(stdout, path + QLatin1Char('\n'));
    print(stderr, kExpiryLine.arg(expiryText(result.expiry)));
    if (!result.recordPath.isEmpty())
        print(stderr, kRecordLine.arg(result.recordPath));
    if (!result.passPhrasePath.isEmpty())
        print(stderr, kPassPhraseKeptLine.arg(result.passPhrasePath));
    if (!result.reloadProblem.isEmpty()) {
        print(stderr, result.reloadProblem + QLatin1Char('\n'));
        return kFailed;
    }
    return kDone;
}

} // namespace

Command acmeCommand() {
    return {"acme", "get a certificate from an ACME authority and make the server files",
            acmeOptions(), runAcme};
}

} // namespace CommandLine
