#include "uCommandLine.h"

#include "ServerFiles.h"
#include "uAcme.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uCountryTable.h"
#include "uExternalApp.h"
#include "uOutputReplacement.h"
#include "uPassPhraseFolder.h"
#include "uPassPhraseSource.h"
#include "uReloadCommand.h"
#include "uRenewal.h"
#include "uTerminalUser.h"
#include "uTerminationSignals.h"
#include "uToolSteps.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThreadPool>

#include <cstdio>
#include <cstring>
#include <functional>

namespace CommandLine {

namespace {

enum ExitStatus { kDone = 0, kFailed = 1, kUsage = 2 };

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
const QString kNumberOptionMessage = QStringLiteral("--%1: \"%2\" is not a number from %3 to %4.");
const QString kServerHeading = QStringLiteral("%1\n");
const QString kServerErrorLine = QStringLiteral("Error: %1\n");
const QString kConnectMessage =
    QStringLiteral("--connect: \"%1\" is not ADDRESS:PORT (a port is a number from 1 to 65535).");
const QString kChainWrittenMessage = QStringLiteral("The chain was written to %1: %2.");
const QString kServerArgument = QStringLiteral("HOST[:PORT]");
const QString kServerArgumentHelp =
    QStringLiteral("the server to check, also as https://HOST[:PORT]/ (port 443 unless given)");
constexpr int kHttpsPort = 443;
constexpr int kHighestPort = 65535;
constexpr int kMsPerSecond = 1000;
constexpr int kLongestTimeoutSeconds = 600;
constexpr int kLongestWarning = 3650;
constexpr int kDefaultParallel = 8;
constexpr int kMostParallel = 64;
const QString kArgumentMessage = QStringLiteral("Unexpected argument \"%1\".");
const QString kMissingOptionMessage = QStringLiteral("The option --%1 is required.");
const QString kKeyTypeMessage = QStringLiteral(
    "--key-type: \"%1\" is not a key type: use rsa2048, rsa3072, rsa4096, ec256 or ec384.");
const QString kAcmeKeyTypeMessage =
    QStringLiteral("--key-type: \"%1\" is not a key type: use ec256, ec384, rsa2048 or rsa4096.");
const QString kCountryMessage =
    QStringLiteral("--country: \"%1\" is not a country code of the list, such as US, GB or DE.");
const QString kPemInputMessage =
    QStringLiteral("Give either --pfx FILE, or --key FILE and --cert FILE.");
const QString kTwiceFromStdinMessage =
    QStringLiteral("--passin and --passout cannot both read standard input.");
const QString kForMessage =
    QStringLiteral("--for: \"%1\" is not a server: use nginx, apache, haproxy, iis or indy.");
const QString kEncryptHaproxyMessage = QStringLiteral(
    "--encrypt-key cannot go with --for haproxy: HAProxy cannot read an encrypted key.");
const QString kKeyPassPhrasePrompt = QStringLiteral("Pass phrase of the key: ");
const QString kSignalMessage = QStringLiteral("The command was ended by a signal.");
const QString kTryHelpLine = QStringLiteral("Try \"certwright %1 --help\".\n");
const QString kUnknownCommandMessage =
    QStringLiteral("\"%1\" is not a command of certwright. The commands are: %2.");
const QString kTryProgramHelpLine = QStringLiteral("Try \"certwright --help\".\n");
const QString kUsageLine = QStringLiteral("Usage: certwright %1 [options]");
const QString kHelpDescription = QStringLiteral("certwright %1: %2");

const QString kChallengeMessage =
    QStringLiteral("Give either --webroot DIR or --standalone: how the authority reaches this "
                   "server.");
const QString kPortOptionMessage =
    QStringLiteral("--http-port: \"%1\" is not a port number from 1 to 65535.");
const QString kDaysMessage = QStringLiteral("--days: \"%1\" is not a number of days.");
const QString kReloadMessage = QStringLiteral("--reload: the command is empty.");
const QString kReloadOptionMessage = QStringLiteral("--reload: %1");
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
const QString kRenewedLine = QStringLiteral("Renewed %1.\n");
const QString kWouldRenewLine = QStringLiteral("%1 would renew: a certificate was obtained and "
                                               "proven, then thrown away.\n");
const QString kRenewFailedLine = QStringLiteral("%1: %2\n");
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
const QString kNoAttemptListing = QStringLiteral("  last renewal: none yet\n");
const QString kRenewedListing = QStringLiteral("  last renewal: %1, renewed\n");
const QString kRenewedButListing = QStringLiteral("  last renewal: %1, renewed, but %2\n");
const QString kFailedListing = QStringLiteral("  last renewal: %1, failed: %2\n");
const QString kReloadListing = QStringLiteral("  reload: %1\n");
const QString kUnknownExpiry = QStringLiteral("unknown");
const QString kListSeparator = QStringLiteral(", ");
const QString kExpiryFormat = QStringLiteral("yyyy-MM-dd HH:mm 'UTC'");
constexpr qint64 kSecondsADay = 24 * 60 * 60;
const QString kYes = QStringLiteral("y");
constexpr int kPercent = 100;

const QString kDefaultKeyType = QStringLiteral("rsa2048");
const QString kDefaultDays = QStringLiteral("365");
const QString kDefaultCountry = QStringLiteral("US");
const QString kHere = QStringLiteral(".");

struct KeyType {
    const char* name;
    QString keySize;
};
const KeyType kKeyTypes[] = {{"rsa2048", QStringLiteral("2048")},
                             {"rsa3072", QStringLiteral("3072")},
                             {"rsa4096", QStringLiteral("4096")},
                             {"ec256", OpenSSLCommands::kCurveP256},
                             {"ec384", OpenSSLCommands::kCurveP384}};

// One command's options and work.
struct Command {
    const char* name;
    const char* summary;
    QList<QCommandLineOption> options;
    std::function<int(const QCommandLineParser&)> run;
    bool takesServer = false; // the one argument HOST[:PORT] besides the options
};

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

QCommandLineOption valueOption(const char* name, const char* description, const char* value) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description),
                              QString::fromLatin1(value));
}

QCommandLineOption flagOption(const char* name, const char* description) {
    return QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(description));
}

QString required(const QCommandLineParser& parser, const char* name) {
    const QString value = parser.value(QString::fromLatin1(name));
    if (value.isEmpty())
        throw UsageError(kMissingOptionMessage.arg(QString::fromLatin1(name)));
    return value;
}

// Whether the option was given; also asks about options that the command does not have.
bool given(const QCommandLineParser& parser, const QString& option) {
    return parser.optionNames().contains(option);
}

std::optional<QString> passPhraseOption(const QCommandLineParser& parser, const char* name) {
    const QString option = QString::fromLatin1(name);
    if (!given(parser, option))
        return std::nullopt;
    return PassPhraseSource::read(QStringLiteral("--") + option, parser.value(option));
}

// Standard input gives its line only once.
void refuseBothFromStdin(const QCommandLineParser& parser) {
    const auto fromStdin = [&parser](const QString& option) {
        return given(parser, option) && PassPhraseSource::readsStandardInput(parser.value(option));
    };
    if (fromStdin(QStringLiteral("passin")) && fromStdin(QStringLiteral("passout")))
        throw UsageError(kTwiceFromStdinMessage);
}

// Both sources are read before the step.
TerminalUser terminalUser(const QCommandLineParser& parser) {
    refuseBothFromStdin(parser);
    const auto current = passPhraseOption(parser, "passin");
    return TerminalUser(current, passPhraseOption(parser, "passout"),
                        parser.isSet(QStringLiteral("force")));
}

// The key's pass phrase: from --passin; none for a key without one; else asked at a terminal.
QString keyPassPhrase(const QCommandLineParser& parser, const QString& keyFile,
                      const ToolContext& context) {
    if (given(parser, QStringLiteral("passin")))
        return *passPhraseOption(parser, "passin");
    // Without a terminal, the check says that the key does not open.
    if (!PassPhraseSource::canAsk() || !ToolSteps::plainKeyPublicPem(keyFile, context).isEmpty())
        return QString();
    return PassPhraseSource::ask(kKeyPassPhrasePrompt);
}

ToolContext commandContext() {
    return {ProgramFolder(), PassPhraseFolder(), false, withTrailingSeparator(QDir::currentPath())};
}

void requireInput(const QCommandLineParser& parser, const char* name) {
    PassPhraseSource::requireReadableFile(QStringLiteral("--") + QString::fromLatin1(name),
                                          required(parser, name));
}

// Without --force an existing output ends the command before anything is asked or touched.
int runPlan(const ToolSteps::StepPlan& plan, TerminalUser& user, const QCommandLineParser& parser,
            const ToolContext& context) {
    if (!parser.isSet(QStringLiteral("force")))
        for (const QString& output : plan.askedAbout)
            if (FileIsPresent(output))
                throw PageError(existingOutputStatement(QFileInfo(output).fileName()));
    const ToolSteps::MadeFiles made = ToolSteps::runStep(plan, user, context);
    for (const QString& path : made.paths)
        if (FileIsPresent(path))
            print(stdout, path + QLatin1Char('\n'));
    return kDone;
}

QList<QCommandLineOption> subjectOptions() {
    return {valueOption("domain",
                        "a name of the certificate; repeat for more (the first is the "
                        "common name and names the files)",
                        "NAME"),
            valueOption("email", "the e-mail address of the subject", "ADDRESS"),
            valueOption("country", "the two-letter country code (default US)", "CC"),
            valueOption("state", "the state or province", "STATE"),
            valueOption("city", "the city or locality", "CITY"),
            valueOption("org", "the legal name of the organisation", "NAME"),
            valueOption("key-type", "rsa2048 (default), rsa3072, rsa4096, ec256 or ec384", "TYPE"),
            valueOption("out", "the folder of the files (default: the current folder)", "DIR"),
            flagOption("force", "replace existing files")};
}

QString keySizeOf(const QString& keyType) {
    for (const KeyType& type : kKeyTypes)
        if (keyType == QLatin1String(type.name))
            return type.keySize;
    throw UsageError(kKeyTypeMessage.arg(keyType));
}

QString countryCodeOf(const QString& code) {
    for (int index = 0; index < CountryTable::kEntryCount; ++index)
        if (CountryTable::code(index) == code)
            return code;
    throw UsageError(kCountryMessage.arg(code));
}

int runCertificate(const ToolSteps::CertificateStep& step, const QCommandLineParser& parser) {
    QStringList domains = parser.values(QStringLiteral("domain"));
    if (domains.isEmpty())
        throw UsageError(kMissingOptionMessage.arg(QStringLiteral("domain")));
    ToolSteps::CertificateValues values;
    if (step.hasTerm)
        values.term = parser.isSet(QStringLiteral("days")) ? parser.value(QStringLiteral("days"))
                                                           : kDefaultDays;
    values.email = parser.value(QStringLiteral("email"));
    values.keySize = keySizeOf(parser.isSet(QStringLiteral("key-type"))
                                   ? parser.value(QStringLiteral("key-type"))
                                   : kDefaultKeyType);
    values.countryCode = countryCodeOf(parser.isSet(QStringLiteral("country"))
                                           ? parser.value(QStringLiteral("country"))
                                           : kDefaultCountry);
    values.city = parser.value(QStringLiteral("city"));
    values.state = parser.value(QStringLiteral("state"));
    values.domain = domains.takeFirst();
    values.moreDomains = domains;
    values.legalName = parser.value(QStringLiteral("org"));
    values.exportFolder =
        parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out")) : kHere;
    TerminalUser user = step.asksPassPhrase ? terminalUser(parser)
                                            : TerminalUser(std::nullopt, std::nullopt,
                                                           parser.isSet(QStringLiteral("force")));
    const ToolContext context = commandContext();
    return runPlan(ToolSteps::certificatePlan(step, values, context), user, parser, context);
}

QList<QCommandLineOption> keyAndCertificateOptions() {
    return {valueOption("key", "the private key file", "FILE"),
            valueOption("cert", "the certificate file of the key", "FILE"),
            valueOption("chain", "an authority certificate file; repeat for more, in any order",
                        "FILE"),
            valueOption("passin", "the key's pass phrase (omit for a key without one)", "SOURCE"),
            valueOption("passout", "the new pass phrase", "SOURCE"),
            flagOption("force", "replace existing files")};
}

// The key, its certificate and the chain files as the command line names them.
CertificateCheck::CheckInput keyAndCertificateInput(const QCommandLineParser& parser) {
    requireInput(parser, "key");
    requireInput(parser, "cert");
    CertificateCheck::CheckInput input;
    input.keyFile = parser.value(QStringLiteral("key"));
    input.certificateFile = parser.value(QStringLiteral("cert"));
    input.chainFiles = parser.values(QStringLiteral("chain"));
    for (const QString& file : input.chainFiles)
        PassPhraseSource::requireReadableFile(QStringLiteral("--chain"), file);
    return input;
}

// The key and its certificate with the chain sorted, completed and proven (held by `proven`),
// and the pass phrases read, for a step into the export folder.
ToolSteps::KeyAndCertificateValues
keyAndCertificate(const QCommandLineParser& parser, const QString& exportFolder,
                  const ToolContext& context, std::optional<ServerFiles::ProvenChain>& proven,
                  std::optional<TerminalUser>& user) {
    CertificateCheck::CheckInput input = keyAndCertificateInput(parser);
    const CheckedFolder folder = requirePrivateExportFolder(exportFolder, context.currentFolder);
    refuseBothFromStdin(parser);
    input.passPhrase = keyPassPhrase(parser, input.keyFile, context);
    user.emplace(input.passPhrase, passPhraseOption(parser, "passout"),
                 parser.isSet(QStringLiteral("force")));
    proven.emplace(input, context);
    ToolSteps::KeyAndCertificateValues values{
        given(parser, QStringLiteral("name")) ? parser.value(QStringLiteral("name")) : QString(),
        input.keyFile, proven->serverFile(), folder};
    if (const QString authorities = proven->authoritiesFile(); !authorities.isEmpty())
        values.chainFiles = {authorities};
    return values;
}

int runPfx(const QCommandLineParser& parser) {
    const ToolContext context = commandContext();
    const QString key = required(parser, "key");
    const QString out = parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out"))
                                                            : ToolSteps::pfxPath(key, kHere);
    std::optional<ServerFiles::ProvenChain> proven;
    std::optional<TerminalUser> user;
    ToolSteps::KeyAndCertificateValues values =
        keyAndCertificate(parser, QFileInfo(out).path(), context, proven, user);
    values.pfxName = QFileInfo(out).fileName();
    if (parser.isSet(QStringLiteral("legacy")))
        values.protection = OpenSSLCommands::PfxProtection::OlderWindows;
    return runPlan(ToolSteps::createPfxPlan(values, context), *user, parser, context);
}

int runPem(const QCommandLineParser& parser) {
    const ToolContext context = commandContext();
    const bool fromPfx = parser.isSet(QStringLiteral("pfx"));
    const bool fromKey =
        parser.isSet(QStringLiteral("key")) || parser.isSet(QStringLiteral("cert"));
    if (fromPfx == fromKey || (fromPfx && parser.isSet(QStringLiteral("chain"))))
        throw UsageError(kPemInputMessage);
    const QString out =
        parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out")) : kHere;
    if (fromPfx) {
        requireInput(parser, "pfx");
        TerminalUser user = terminalUser(parser);
        const ToolSteps::PfxExtractionValues values{parser.value(QStringLiteral("pfx")), out, true};
        return runPlan(ToolSteps::extractFromPfxPlan(values, context), user, parser, context);
    }
    std::optional<ServerFiles::ProvenChain> proven;
    std::optional<TerminalUser> user;
    const ToolSteps::KeyAndCertificateValues values =
        keyAndCertificate(parser, out, context, proven, user);
    return runPlan(ToolSteps::convertKeyAndCertPlan(values, context), *user, parser, context);
}

int failed(const PageError& error);

void refuseWithout(const QCommandLineParser& parser, const char* option, bool allowed,
                   const QString& partner) {
    if (given(parser, QString::fromLatin1(option)) && !allowed)
        throw UsageError(kCheckOptionMessage.arg(QString::fromLatin1(option), partner));
}

// A whole number option within its bounds, or the default when it is not given.
int numberOption(const QCommandLineParser& parser, const char* option, int lowest, int highest,
                 int fallback) {
    const QString name = QString::fromLatin1(option);
    if (!parser.isSet(name))
        return fallback;
    bool number = false;
    const int value = parser.value(name).toInt(&number);
    if (!number || value < lowest || value > highest)
        throw UsageError(
            kNumberOptionMessage.arg(name, parser.value(name)).arg(lowest).arg(highest));
    return value;
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
            valueOption("name", "the friendly name in the .pfx file (default: the first name)",
                        "FRIENDLY"),
            flagOption("legacy", "protect the .pfx file as Windows Server 2016 can import it"),
            flagOption("agree-tos", "agree to the authority's terms of service"),
            flagOption("force", "replace existing files")};
}

// The pass phrase of the .pfx file, key.pem and an encrypted key: from --passout, else asked
// twice.
QString newPassPhrase(const QCommandLineParser& parser) {
    if (given(parser, QStringLiteral("passout")))
        return *passPhraseOption(parser, "passout");
    TerminalUser asking(std::nullopt, std::nullopt, false);
    return asking.askPassPhrases(PassPhraseUse::CertificateRequest).fresh;
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

// The servers of --for, each once.
QStringList serversOption(const QCommandLineParser& parser) {
    QStringList servers = parser.values(QStringLiteral("for"));
    if (servers.isEmpty())
        throw UsageError(kMissingOptionMessage.arg(QStringLiteral("for")));
    servers.removeDuplicates();
    for (const QString& server : servers)
        if (!ServerFiles::kServerKinds.contains(server))
            throw UsageError(kForMessage.arg(server));
    return servers;
}

// The command of --reload, resolved; empty without the option.
QStringList reloadOption(const QCommandLineParser& parser) {
    if (!parser.isSet(QStringLiteral("reload")))
        return {};
    QStringList command;
    try {
        command =
            ReloadCommand::resolve(parser.value(QStringLiteral("reload")), QDir::currentPath());
    } catch (const PageError& error) {
        throw UsageError(kReloadOptionMessage.arg(error.message()));
    }
    if (command.isEmpty())
        throw UsageError(kReloadMessage);
    return command;
}

Acme::AcmeValues acmeValues(const QCommandLineParser& parser) {
    Acme::AcmeValues values;
    values.names = parser.values(QStringLiteral("domain"));
    if (values.names.isEmpty())
        throw UsageError(kMissingOptionMessage.arg(QStringLiteral("domain")));
    values.email = required(parser, "email");
    const bool standalone = parser.isSet(QStringLiteral("standalone"));
    if (standalone == parser.isSet(QStringLiteral("webroot")))
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
    values.friendlyName = parser.value(QStringLiteral("name"));
    values.legacyPfx = parser.isSet(QStringLiteral("legacy"));
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

QString expiryText(const QDateTime& expiry) {
    return expiry.isValid() ? expiry.toUTC().toString(kExpiryFormat) : kUnknownExpiry;
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
    Acme::checkValues(values, context);
    requireAgreement(parser, values);
    TerminalUser user(std::nullopt, std::nullopt, force);
    const Acme::AcmeResult result =
        Renewal::obtainAndRecord(values, user, context, printedProgress());
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

QList<QCommandLineOption> installOptions() {
    return {
        valueOption("key", "the private key file", "FILE"),
        valueOption("passin", "the key's pass phrase (omit for a key without one)", "SOURCE"),
        valueOption("cert", "the authority's answer: PEM (blocks in any order), DER or PKCS#7",
                    "FILE"),
        valueOption("chain", "a further authority certificate file; repeat for more", "FILE"),
        valueOption("for",
                    "nginx, apache, haproxy, iis or indy: the files to make; repeat "
                    "for more",
                    "SERVER"),
        valueOption("out", "the folder of the files (default: the current folder)", "DIR"),
        valueOption("name",
                    "the base name of the files (default: the certificate's first "
                    "name)",
                    "BASE"),
        valueOption("passout", "the pass phrase of the .pfx file, key.pem and an encrypted key",
                    "SOURCE"),
        flagOption("encrypt-key",
                   "encrypt the key for nginx and Apache with AES-256 under --passout"),
        flagOption("legacy", "protect the .pfx file as Windows Server 2016 can import it"),
        valueOption("friendly-name", "the friendly name in the .pfx file (default: BASE)", "TEXT"),
        valueOption("ca-file", "further trusted root certificates", "FILE"),
        valueOption("reload",
                    "a command to run after the files are made (quoted as for a shell, run "
                    "without one)",
                    "COMMAND"),
        flagOption("force", "replace existing files")};
}

int runInstall(const QCommandLineParser& parser) {
    ServerFiles::InstallValues values;
    const CertificateCheck::CheckInput input = keyAndCertificateInput(parser);
    values.keyFile = input.keyFile;
    values.certificateFile = input.certificateFile;
    values.chainFiles = input.chainFiles;
    if (given(parser, QStringLiteral("ca-file"))) {
        requireInput(parser, "ca-file");
        values.caFile = parser.value(QStringLiteral("ca-file"));
    }
    values.servers = serversOption(parser);
    values.encryptKey = parser.isSet(QStringLiteral("encrypt-key"));
    if (values.encryptKey && values.servers.contains(ServerFiles::kForHaproxy))
        throw UsageError(kEncryptHaproxyMessage);
    values.outFolder =
        parser.isSet(QStringLiteral("out")) ? parser.value(QStringLiteral("out")) : kHere;
    values.base = parser.value(QStringLiteral("name"));
    values.friendlyName = parser.value(QStringLiteral("friendly-name"));
    values.legacyPfx = parser.isSet(QStringLiteral("legacy"));
    values.reloadCommand = reloadOption(parser);
    refuseBothFromStdin(parser);
    const ToolContext context = commandContext();
    values.currentPassPhrase = keyPassPhrase(parser, values.keyFile, context);
    if (ServerFiles::needsNewPassPhrase(
            {values.servers, values.base, QString(), values.legacyPfx, values.encryptKey}))
        values.newPassPhrase = newPassPhrase(parser);
    ServerFiles::checkInstallValues(values);
    TerminalUser user(std::nullopt, std::nullopt, parser.isSet(QStringLiteral("force")));
    const ServerFiles::InstallResult result = ServerFiles::install(values, user, context);
    for (const QString& path : result.made.paths)
        if (FileIsPresent(path))
            print(stdout, path + QLatin1Char('\n'));
    for (const QString& note : result.notes)
        print(stderr, note + QLatin1Char('\n'));
    if (!result.reloadProblem.isEmpty()) {
        print(stderr, result.reloadProblem + QLatin1Char('\n'));
        return kFailed;
    }
    return kDone;
}

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
                                          .arg(now.secsTo(record.expiry) / kSecondsADay)
                                    : kUnknownExpiry;
        print(stdout, kRecordListing.arg(record.name, record.values.names.join(kListSeparator),
                                         expires, record.values.outputs.join(kListSeparator),
                                         record.values.outFolder,
                                         !due.isValid() ? kDueUnknownExpiry
                                         : due > now    ? expiryText(due)
                                                        : kDueNow.arg(expiryText(due))));
        print(stdout, record.values.webRoot.isEmpty()
                          ? kServerChallenge.arg(record.values.httpPort)
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
            print(stderr, outcome.name.isEmpty()
                              ? outcome.error + QLatin1Char('\n')
                              : kRenewFailedLine.arg(outcome.name, outcome.error));
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

QVector<Command> commands() {
    return {
        {"request", "make an encrypted key <base>.key and a certificate request <base>.csr",
         subjectOptions() << valueOption("passout", "the new pass phrase of the key", "SOURCE"),
         [](const QCommandLineParser& parser) {
             return runCertificate(ToolSteps::kRequestStep, parser);
         }},
        {"selfsign", "make a key <base>.key and a self-signed certificate <base>.cer",
         subjectOptions() << valueOption("days", "the term in days, 1-36500 (default 365)", "N"),
         [](const QCommandLineParser& parser) {
             return runCertificate(ToolSteps::kSelfSignedStep, parser);
         }},
        {"pfx", "pack a key, its certificate and its chain into a .pfx file",
         keyAndCertificateOptions()
             << valueOption("out", "the .pfx file (default: named after the key, here)", "FILE")
             << valueOption("name", "the friendly name in the bundle", "FRIENDLY")
             << flagOption("legacy", "protect the bundle as Windows Server 2016 can import it"),
         runPfx},
        {"pem", "make key.pem, cert.pem and root.pem (the authority certificates)",
         keyAndCertificateOptions()
             << valueOption("pfx", "the .pfx file (instead of --key and --cert)", "FILE")
             << valueOption("out", "the folder of the files (default: the current folder)", "DIR"),
         runPem},
        {"check",
         "check a server's certificate, or certificate files, and name each problem",
         {valueOption("connect", "connect there instead of HOST; HOST stays the name checked",
                      "ADDRESS:PORT"),
          valueOption("cert", "the certificate file (PEM, DER or PKCS#7), or a whole chain",
                      "FILE"),
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
         true},
        {"install", "make the server files from a key and the certificate that an authority sent",
         installOptions(), runInstall},
        {"acme", "get a certificate from an ACME authority and make the server files",
         acmeOptions(), runAcme},
        {"renew", "renew the certificates obtained with acme that end soon", renewOptions(),
         runRenew},
    };
}

const Command* commandNamed(const char* name) {
    static const QVector<Command> all = commands();
    for (const Command& command : all)
        if (std::strcmp(command.name, name) == 0)
            return &command;
    return nullptr;
}

// The task failed: the message as the wizard shows it, the plain reason below it.
int failed(const PageError& error) {
    print(stderr, withFullStop(error.message()) + QLatin1Char('\n'));
    if (!error.explanation().isEmpty())
        print(stderr, error.explanation() + QLatin1Char('\n'));
    return kFailed;
}

int usageError(const QString& message, const char* command) {
    print(stderr, message + QLatin1Char('\n'));
    print(stderr, kTryHelpLine.arg(QString::fromLatin1(command)));
    return kUsage;
}

int runCommand(const Command& command, const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(kHelpDescription.arg(QString::fromLatin1(command.name),
                                                          QString::fromLatin1(command.summary)));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions(command.options);
    if (command.takesServer)
        parser.addPositionalArgument(kServerArgument, kServerArgumentHelp);
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), command.name);
    if (parser.isSet(help)) {
        // Qt's first line names the executable's path; the command's own usage replaces it.
        const QString help = parser.helpText();
        print(stdout, kUsageLine.arg(QString::fromLatin1(command.name)) +
                          (command.takesServer ? QLatin1Char(' ') + kServerArgument : QString()) +
                          help.mid(help.indexOf(QLatin1Char('\n'))));
        return kDone;
    }
    if (!command.takesServer && !parser.positionalArguments().isEmpty())
        return usageError(kArgumentMessage.arg(parser.positionalArguments().first()), command.name);
    try {
        return command.run(parser);
    } catch (const UsageError& error) {
        return usageError(error.message(), command.name);
    } catch (const PageError& error) {
        return failed(error);
    }
}

} // namespace

bool isCommand(int argc, const char* const* argv) {
    return argc > 1 && commandNamed(argv[1]);
}

bool opensWindows(int argc, const char* const* argv) {
    return argc < 2 || readDebugSwitch(argc, argv);
}

int refuseUnknownCommand(const char* argument) {
    QStringList names;
    for (const Command& command : commands())
        names << QString::fromLatin1(command.name);
    print(stderr,
          kUnknownCommandMessage.arg(QString::fromLocal8Bit(argument), names.join(kListSeparator)) +
              QLatin1Char('\n'));
    print(stderr, kTryProgramHelpLine);
    return kUsage;
}

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("certwright"));
    choosePassPhraseFolder(ProgramFolder(), privatePassPhraseBase());
    tidyUpAtExit();
    // A termination ends the run in progress; the step then puts the old files back.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested,
                     &TExternalApp::EndRunsInProgress);
    QObject::connect(&termination, &TerminationSignals::terminationRequested,
                     [] { PassPhraseSource::terminationArrived = true; });
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeAt(1);
    try {
        return runCommand(*commandNamed(argv[1]), arguments);
    } catch (const SilentAbort&) {
        print(stderr, kSignalMessage + QLatin1Char('\n'));
        return kFailed;
    }
}

} // namespace CommandLine
