#include "Command.h"
#include "CommandSupport.h"

#include "uCertificateChain.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uTerminalUser.h"
#include "uToolSteps.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThreadPool>
#include <algorithm>

namespace CommandLine {

namespace {

const QString kCheckInputMessage =
    QStringLiteral("Give one of HOST[:PORT], --cert FILE or --pfx FILE.");
const QString kCheckOptionMessage = QStringLiteral("--%1 goes with %2.");
const QString kServerMessage = QStringLiteral(
    "\"%1\" is not HOST[:PORT] or https://HOST[:PORT]/ (a port is a number from 1 to 65535).");
const QString kHostsLineMessage =
    QStringLiteral("--hosts: line %1 of \"%2\" is not HOST[:PORT] [ADDRESS:PORT]: \"%3\".");
const QString kNoHostsMessage = QStringLiteral("--hosts: \"%1\" names no server.");
const QString kManyServersOptionMessage =
    QStringLiteral("--%1 goes with one server; several are checked without it.");
const QString kServerHeading = QStringLiteral("%1\n");
const QString kServerErrorLine = QStringLiteral("Error: %1\n");
const QString kConnectMessage =
    QStringLiteral("--connect: \"%1\" is not ADDRESS:PORT (a port is a number from 1 to 65535).");
const QString kChainWrittenMessage = QStringLiteral("The chain was written to %1: %2.");
const QString kServerArgument = QStringLiteral("HOST[:PORT]");
const QString kServerArgumentHelp =
    QStringLiteral("the server to check, also as https://HOST[:PORT]/ (port 443 unless given)");
constexpr int kHttpsPort = 443;
constexpr int kLongestWarning = 3650;
constexpr int kDefaultParallel = 8;

void refuseWithout(const QCommandLineParser& parser, const char* option, bool allowed,
                   const QString& partner) {
    if (given(parser, QString::fromLatin1(option)) && !allowed)
        throw UsageError(kCheckOptionMessage.arg(QString::fromLatin1(option), partner));
}

// The servers of a --hosts file: one "HOST[:PORT] [ADDRESS:PORT]" a line; "#" begins a comment.
QList<std::pair<QString, QString>> hostsOfFile(const QString& file, const ToolContext& context) {
    const QStringList lines = QString::fromUtf8(CertificateCheck::readRegularFile(file, context))
                                  .split(QLatin1Char('\n'));
    QList<std::pair<QString, QString>> hosts;
    for (qsizetype number = 0; number < lines.size(); ++number) {
        const QStringList words =
            lines[number]
                .section(QLatin1Char('#'), 0, 0)
                .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        if (words.size() > 2)
            throw UsageError(kHostsLineMessage.arg(number + 1).arg(file, lines[number].trimmed()));
        hosts << std::pair{words[0], words.value(1)};
    }
    if (hosts.isEmpty())
        throw UsageError(kNoHostsMessage.arg(file));
    return hosts;
}

// The check's input for one server as typed, with the address to connect to (may be empty).
CertificateCheck::CheckInput serverInput(const QString& typed, const QString& connect) {
    CertificateCheck::CheckInput input;
    const auto address = CertificateCheck::serverAddress(typed, kHttpsPort);
    if (!address)
        throw UsageError(kServerMessage.arg(typed));
    input.host = address->host;
    input.port = address->port;
    if (!connect.isEmpty()) {
        const auto connectTo = CertificateCheck::serverAddress(connect, 0);
        if (!connectTo)
            throw UsageError(kConnectMessage.arg(connect));
        input.connectAddress = connectTo->text();
    }
    return input;
}

// Checks many servers, a few at a time, and prints each report in the order given: a JSON object
// a line with --json. The exit status is the worst of all.
int checkServers(const QList<CertificateCheck::CheckInput>& inputs, int parallel, bool json,
                 const ToolContext& context) {
    struct Outcome {
        CertificateCheck::CheckReport report;
        QString error;
    };
    QVector<Outcome> outcomes(inputs.size());
    QThreadPool pool;
    pool.setMaxThreadCount(parallel);
    for (qsizetype at = 0; at < inputs.size(); ++at)
        pool.start([&inputs, &outcomes, &context, at] {
            try {
                outcomes[at].report = CertificateCheck::checkCertificate(inputs[at], context);
            } catch (const PageError& error) {
                outcomes[at].error = withFullStop(error.message());
            } catch (const SilentAbort&) {
                outcomes[at].error = kSignalMessage;
            }
        });
    pool.waitForDone();
    int status = kDone;
    for (qsizetype at = 0; at < inputs.size(); ++at) {
        const Outcome& outcome = outcomes[at];
        const QString host =
            CertificateCheck::ServerAddress{inputs[at].host, inputs[at].port}.text();
        status = std::max(status, !outcome.error.isEmpty()            ? int(kUsage)
                                  : outcome.report.problems.isEmpty() ? int(kDone)
                                                                      : int(kFailed));
        if (json) {
            QJsonObject object = outcome.error.isEmpty() ? outcome.report.toJson() : QJsonObject();
            object.insert(QStringLiteral("host"), host);
            if (!outcome.error.isEmpty())
                object.insert(QStringLiteral("error"), outcome.error);
            print(stdout, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                              QLatin1Char('\n'));
        } else {
            print(stdout, kServerHeading.arg(host) +
                              (outcome.error.isEmpty() ? outcome.report.toText()
                                                       : kServerErrorLine.arg(outcome.error)) +
                              QLatin1Char('\n'));
        }
    }
    return status;
}

// Exit 0 without a problem, 1 with one, 2 when the input cannot be read.
int runCheck(const QCommandLineParser& parser) {
    CertificateCheck::CheckInput input;
    const QStringList servers = parser.positionalArguments();
    const bool hostsFile = given(parser, QStringLiteral("hosts"));
    const bool server = !servers.isEmpty() || hostsFile;
    const bool files = given(parser, QStringLiteral("cert"));
    const bool pfx = given(parser, QStringLiteral("pfx"));
    if (int(server) + int(files) + int(pfx) != 1)
        throw UsageError(kCheckInputMessage);
    refuseWithout(parser, "connect", server, kServerArgument);
    refuseWithout(parser, "chain", files, QStringLiteral("--cert"));
    refuseWithout(parser, "key", files, QStringLiteral("--cert"));
    refuseWithout(parser, "passin", !server, QStringLiteral("--key or --pfx"));
    const bool writesChain = given(parser, QStringLiteral("write-chain"));
    refuseWithout(parser, "force", writesChain, QStringLiteral("--write-chain"));
    refuseWithout(parser, "parallel", server, kServerArgument);
    refuseWithout(parser, "timeout", server, kServerArgument);
    const int timeoutSeconds = numberOption(parser, "timeout", 1, kLongestTimeoutSeconds,
                                            CertificateCheck::kServerTimeoutMs / kMsPerSecond);
    const int warnDays = numberOption(parser, "warn-days", 0, kLongestWarning, -1);
    const bool many = hostsFile || servers.size() > 1;
    if (many) {
        for (const char* option : {"connect", "write-chain", "name"})
            if (given(parser, QString::fromLatin1(option)))
                throw UsageError(kManyServersOptionMessage.arg(QString::fromLatin1(option)));
        const ToolContext context = commandContext();
        QList<std::pair<QString, QString>> hosts;
        for (const QString& typed : servers)
            hosts << std::pair{typed, QString()};
        if (hostsFile)
            hosts += hostsOfFile(parser.value(QStringLiteral("hosts")), context);
        QList<CertificateCheck::CheckInput> inputs;
        for (const auto& [typed, connect] : hosts) {
            inputs << serverInput(typed, connect);
            inputs.last().caFile = parser.value(QStringLiteral("ca-file"));
            inputs.last().timeoutMs = timeoutSeconds * kMsPerSecond;
            inputs.last().warnDays = warnDays;
        }
        return checkServers(inputs,
                            numberOption(parser, "parallel", 1, kMostParallel, kDefaultParallel),
                            parser.isSet(QStringLiteral("json")), context);
    }
    input.timeoutMs = timeoutSeconds * kMsPerSecond;
    input.warnDays = warnDays;
    if (server) {
        const CertificateCheck::CheckInput typed =
            serverInput(servers.first(), parser.value(QStringLiteral("connect")));
        input.host = typed.host;
        input.port = typed.port;
        input.connectAddress = typed.connectAddress;
    } else if (files) {
        requireInput(parser, "cert");
        input.certificateFile = parser.value(QStringLiteral("cert"));
        input.chainFiles = parser.values(QStringLiteral("chain"));
        for (const QString& file : input.chainFiles)
            PassPhraseSource::requireReadableFile(QStringLiteral("--chain"), file);
        if (given(parser, QStringLiteral("key"))) {
            requireInput(parser, "key");
            input.keyFile = parser.value(QStringLiteral("key"));
        }
    } else {
        requireInput(parser, "pfx");
        input.pfxFile = parser.value(QStringLiteral("pfx"));
    }
    if (given(parser, QStringLiteral("ca-file"))) {
        requireInput(parser, "ca-file");
        input.caFile = parser.value(QStringLiteral("ca-file"));
    }
    input.name = parser.value(QStringLiteral("name"));
    input.passPhrase = passPhraseOption(parser, "passin").value_or(QString());

    const ToolContext context = commandContext();
    // An existing file ends the command before the check, as for the other commands' outputs.
    const QString chainFile = parser.value(QStringLiteral("write-chain"));
    const bool force = parser.isSet(QStringLiteral("force"));
    if (writesChain && !force) {
        const QFileInfo existing(ToolSteps::pathForTool(chainFile, context.currentFolder));
        if (existing.exists() || existing.isSymLink())
            throw PageError(existingOutputStatement(chainFile));
    }
    CertificateCheck::CheckReport report;
    try {
        report = CertificateCheck::checkCertificate(input, context);
    } catch (const PageError& error) {
        failed(error);
        return kUsage;
    }
    if (parser.isSet(QStringLiteral("json")))
        print(stdout, QString::fromUtf8(QJsonDocument(report.toJson()).toJson()));
    else
        print(stdout, report.toText());
    if (writesChain) {
        const CertificateChain written =
            CertificateCheck::writeCompleteChain(report, chainFile, input.caFile, context, force);
        print(stderr, kChainWrittenMessage.arg(
                          chainFile, chainSummaryLines(written).join(QStringLiteral(", "))) +
                          QLatin1Char('\n'));
    }
    return report.problems.isEmpty() ? kDone : kFailed;
}

} // namespace

Command checkCommand() {
    return {
        "check",
        "check a server's certificate, or certificate files, and name each problem",
        {valueOption("connect", "connect there instead of HOST; HOST stays the name checked",
                     "ADDRESS:PORT"),
         valueOption("cert", "the certificate file (PEM, DER or PKCS#7), or a whole chain", "FILE"),
         valueOption("chain", "a file of authority certificates; repeat for more", "FILE"),
         valueOption("key", "the private key file of the certificate", "FILE"),
         valueOption("pfx", "a .pfx file (instead of --cert)", "FILE"),
         valueOption("passin", "the pass phrase of the key or the .pfx", "SOURCE"),
         valueOption("name", "the host name that the certificate must name (default: HOST)",
                     "HOST"),
         valueOption("ca-file", "further trusted root certificates", "FILE"),
         flagOption("json", "print the report as one JSON object"),
         valueOption("write-chain",
                     "write the certificate and its complete chain in order, fetching a "
                     "missing authority certificate",
                     "FILE"),
         flagOption("force", "with --write-chain: replace an existing file"),
         valueOption("hosts",
                     "check the servers of the file too: one HOST[:PORT] [ADDRESS:PORT] a line",
                     "FILE"),
         valueOption("parallel", "check this many servers at a time (default: 8)", "N"),
         valueOption("timeout", "seconds that the connection and handshake may take (default: 10)",
                     "SECONDS"),
         valueOption("warn-days",
                     "a certificate expires soon within this many days (default: when a third of "
                     "its lifetime, at most 30 days, is left)",
                     "N")},
        runCheck,
        kServerArgument,
        kServerArgumentHelp};
}

} // namespace CommandLine
