#pragma once

#include "uCertificateCheck.h"
#include "uPassPhraseSource.h"
#include "uReloadCommand.h"
#include "uTerminalUser.h"
#include "uToolContext.h"
#include "uToolSteps.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

class PageError;

// What the commands share: reading their options, their pass phrases and their inputs, and
// telling their results.
namespace CommandLine {

enum ExitStatus { kDone = 0, kFailed = 1, kUsage = 2 };

extern const QString kSignalMessage;
extern const QString kMissingOptionMessage;
extern const QString kListSeparator;
extern const QString kUnknownExpiry;
// The current folder, where the files go unless an option names another.
extern const QString kHere;

// The limits of the options that read servers (check, expiry).
constexpr int kMsPerSecond = 1000;
constexpr int kLongestTimeoutSeconds = 600;
constexpr int kMostParallel = 64;

void print(FILE* stream, const QString& text);

// A whole number option within its bounds, or the fallback when it is not given (UsageError
// otherwise).
int numberOption(const QCommandLineParser& parser, const char* option, int lowest, int highest,
                 int fallback);

QCommandLineOption valueOption(const char* name, const char* description, const char* value);
QCommandLineOption flagOption(const char* name, const char* description);

// The value of an option that must be given (UsageError without it).
QString required(const QCommandLineParser& parser, const char* name);

// Whether the option was given; also asks about options that the command does not have.
bool given(const QCommandLineParser& parser, const QString& option);

// The pass phrase of the option's SOURCE, or none when the option is not given.
std::optional<QString> passPhraseOption(const QCommandLineParser& parser, const char* name);

// Standard input gives its line only once: --passin and --passout cannot both read it.
void refuseBothFromStdin(const QCommandLineParser& parser);

// The user of a step with both pass phrases of --passin and --passout, read before the step.
TerminalUser terminalUser(const QCommandLineParser& parser);

// The key's pass phrase: from --passin; none for a key without one; else asked at a terminal.
QString keyPassPhrase(const QCommandLineParser& parser, const QString& keyFile,
                      const ToolContext& context);

ToolContext commandContext();

// Refuses (UsageError) an option naming a file that is missing or cannot be read.
void requireInput(const QCommandLineParser& parser, const char* name);

// Runs the step and prints the files made. Without --force an existing output ends the command
// before anything is asked or touched.
int runPlan(const ToolSteps::StepPlan& plan, TerminalUser& user, const QCommandLineParser& parser,
            const ToolContext& context);

// The key, its certificate and the chain files as the command line names them.
CertificateCheck::CheckInput keyAndCertificateInput(const QCommandLineParser& parser);

// The pass phrase of the .pfx file, key.pem and an encrypted key: from --passout, else asked
// twice.
QString newPassPhrase(const QCommandLineParser& parser);

// The servers of --for, each once.
QStringList serversOption(const QCommandLineParser& parser);

// The command of --reload (or of another option that names a command, such as a hook),
// resolved; empty without the option.
QStringList reloadOption(const QCommandLineParser& parser,
                         const QString& option = QStringLiteral("reload"),
                         const QString& what = ReloadCommand::kReloadCommandWhat);

QString expiryText(const QDateTime& expiry);

// The task failed: the message as the wizard shows it, the plain reason below it.
int failed(const PageError& error);

} // namespace CommandLine
