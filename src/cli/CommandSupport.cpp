#include "CommandSupport.h"

#include "CertificateText.h"
#include "ServerFiles.h"
#include "uCertwrightCommon.h"
#include "uPassPhraseFolder.h"
#include "uReloadCommand.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace CommandLine {

const QString kSignalMessage = QStringLiteral("The command was ended by a signal.");
const QString kMissingOptionMessage = QStringLiteral("The option --%1 is required.");
const QString kListSeparator = QStringLiteral(", ");
const QString kUnknownExpiry = QStringLiteral("unknown");
const QString kHere = QStringLiteral(".");

namespace {
const QString kTwiceFromStdinMessage =
    QStringLiteral("--passin and --passout cannot both read standard input.");
const QString kForMessage =
    QStringLiteral("--for: \"%1\" is not a server: use nginx, apache, haproxy, iis or indy.");
const QString kKeyPassPhrasePrompt = QStringLiteral("Pass phrase of the key: ");
const QString kReloadMessage = QStringLiteral("--%1: the command is empty.");
const QString kReloadOptionMessage = QStringLiteral("--%1: %2");
const QString kNumberOptionMessage = QStringLiteral("--%1: \"%2\" is not a number from %3 to %4.");
} // namespace

void print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

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

// The pass phrase of the .pfx file, key.pem and an encrypted key: from --passout, else asked
// twice.
QString newPassPhrase(const QCommandLineParser& parser) {
    if (given(parser, QStringLiteral("passout")))
        return *passPhraseOption(parser, "passout");
    TerminalUser asking(std::nullopt, std::nullopt, false);
    return asking.askPassPhrases(PassPhraseUse::CertificateRequest).fresh;
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

QStringList reloadOption(const QCommandLineParser& parser, const QString& option,
                         const QString& what) {
    if (!parser.isSet(option))
        return {};
    QStringList command;
    try {
        command = ReloadCommand::resolve(parser.value(option), QDir::currentPath(), what);
    } catch (const PageError& error) {
        throw UsageError(kReloadOptionMessage.arg(option, error.message()));
    }
    if (command.isEmpty())
        throw UsageError(kReloadMessage.arg(option));
    return command;
}

QString expiryText(const QDateTime& expiry) {
    return expiry.isValid() ? CertificateText::shortDateText(expiry) : kUnknownExpiry;
}

// The task failed: the message as the wizard shows it, the plain reason below it.
int failed(const PageError& error) {
    print(stderr, withFullStop(error.message()) + QLatin1Char('\n'));
    if (!error.explanation().isEmpty())
        print(stderr, error.explanation() + QLatin1Char('\n'));
    return kFailed;
}

} // namespace CommandLine
