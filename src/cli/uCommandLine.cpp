#include "uCommandLine.h"

#include "CommandSupport.h"
#include "CommandTable.h"
#include "uCertwrightCommon.h"
#include "uExternalApp.h"
#include "uOutputReplacement.h"
#include "uPassPhraseFolder.h"
#include "uPassPhraseSource.h"
#include "uTerminationSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace CommandLine {

namespace {

const QString kArgumentMessage = QStringLiteral("Unexpected argument \"%1\".");
const QString kTryHelpLine = QStringLiteral("Try \"certwright %1 --help\".\n");
const QString kUnknownCommandMessage =
    QStringLiteral("\"%1\" is not a command of certwright. The commands are: %2.");
const QString kTryProgramHelpLine = QStringLiteral("Try \"certwright --help\".\n");
const QString kUsageLine = QStringLiteral("Usage: certwright %1 [options]");
const QString kHelpDescription = QStringLiteral("certwright %1: %2");
const QString kHelpOptionText = QStringLiteral("Displays help on commandline options.");

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
    // Qt's own help option also takes --help-all, which the parser leaves to the caller: the
    // command would run instead of showing its help.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, kHelpOptionText);
    parser.addOption(help);
    parser.addOptions(command.options);
    const bool takesArgument = !command.argument.isEmpty();
    if (takesArgument)
        parser.addPositionalArgument(command.argument, command.argumentHelp);
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), command.name);
    if (parser.isSet(help)) {
        // Qt's first line names the executable's path; the command's own usage replaces it.
        const QString help = parser.helpText();
        print(stdout, kUsageLine.arg(QString::fromLatin1(command.name)) +
                          (takesArgument ? QLatin1Char(' ') + command.argument : QString()) +
                          help.mid(help.indexOf(QLatin1Char('\n'))));
        return kDone;
    }
    if (!takesArgument && !parser.positionalArguments().isEmpty())
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
