#include "uReloadCommand.h"

#include "ChildRun.h"
#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace ReloadCommand {

namespace {

const QString kUnclosedSingleQuote =
    QStringLiteral("The %1 has a single quote (') that is not closed.");
const QString kUnclosedDoubleQuote =
    QStringLiteral("The %1 has a double quote (\") that is not closed.");
const QString kLoneBackslash =
    QStringLiteral("The %1 ends with a backslash (\\) that escapes nothing.");
const QString kShellOnly = QStringLiteral(
    "The %1 holds \"%2\", which only a shell acts on; the command is run without a shell. "
    "Quote the character, or put the commands into a script and give the script.");
const QString kControlCharacter =
    QStringLiteral("The %1 holds a line end or another control character.");
const QString kProgramMissing = QStringLiteral("The program \"%1\" of the %2 does not exist.");
const QString kProgramNotOnPath =
    QStringLiteral("The program \"%1\" of the %2 is in no folder of PATH.");
const QString kProgramNotExecutable =
    QStringLiteral("The program \"%1\" of the %2 is not an executable file.");

const QString kReloadFailedMessage =
    QStringLiteral("The new certificate was made, but the reload command \"%1\" failed: %2\n%3");
const QString kReloadNotFound = QStringLiteral("the program was not found.");
const QString kReloadRelative =
    QStringLiteral("its program is not named by an absolute path; give the command again.");
const QString kReloadSubject = QStringLiteral("it");

const QString kShellCharacters = QStringLiteral("|&;<>()`");
const QString kDoubleQuoteEscapes = QStringLiteral("$`\"\\");
constexpr QChar kSingleQuote = u'\'';
constexpr QChar kDoubleQuote = u'"';
constexpr QChar kBackslash = u'\\';
constexpr QChar kComment = u'#';
constexpr QChar kSeparator = u'/';
constexpr mode_t kAnyExecuteBit = S_IXUSR | S_IXGRP | S_IXOTH;

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

} // namespace

QStringList split(const QString& text, const QString& what) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control && c != u'\t')
            throw PageError(kControlCharacter.arg(what));
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (isBlank(c)) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        if (kShellCharacters.contains(c) || (c == kComment && !inWord))
            throw PageError(kShellOnly.arg(what, c));
        inWord = true;
        if (c == kBackslash) {
            if (++at == text.size())
                throw PageError(kLoneBackslash.arg(what));
            word += text.at(at);
        } else if (c == kSingleQuote) {
            const qsizetype end = text.indexOf(kSingleQuote, at + 1);
            if (end < 0)
                throw PageError(kUnclosedSingleQuote.arg(what));
            word += text.mid(at + 1, end - at - 1);
            at = end;
        } else if (c == kDoubleQuote) {
            for (++at;; ++at) {
                if (at == text.size())
                    throw PageError(kUnclosedDoubleQuote.arg(what));
                if (text.at(at) == kDoubleQuote)
                    break;
                if (text.at(at) == kBackslash && at + 1 < text.size() &&
                    kDoubleQuoteEscapes.contains(text.at(at + 1)))
                    ++at;
                word += text.at(at);
            }
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

QStringList resolve(const QString& text, const QString& currentFolder, const QString& what) {
    QStringList words = split(text, what);
    if (words.isEmpty())
        return words;
    const QString typed = words.first();
    const bool isPath = typed.contains(kSeparator);
    QString program = isPath ? QDir(currentFolder).absoluteFilePath(typed)
                             : QStandardPaths::findExecutable(typed);
    if (!program.isEmpty()) {
        program = QDir(currentFolder).absoluteFilePath(program);
        // ".." after a link leads elsewhere than a shortened path would: resolve it instead.
        program = program.split(kSeparator).contains(QStringLiteral(".."))
                      ? QFileInfo(program).canonicalFilePath()
                      : QDir::cleanPath(program);
    }
    struct stat status {};
    const QByteArray encoded = QFile::encodeName(program);
    if (program.isEmpty() || ::stat(encoded.constData(), &status) != 0)
        throw PageError((isPath ? kProgramMissing : kProgramNotOnPath).arg(typed, what));
    if (!S_ISREG(status.st_mode) || !(status.st_mode & kAnyExecuteBit) ||
        ::access(encoded.constData(), X_OK) != 0)
        throw PageError(kProgramNotExecutable.arg(typed, what));
    words.first() = program;
    return words;
}

std::optional<Failure> runWords(const QStringList& command, const ToolContext& context,
                                RunCancel* cancel) {
    const QString& typed = command.first();
    Failure failure{OpenSSLCommands::readableCommandLine(typed, command.mid(1)), QString(),
                    QString()};
    // A path is recorded absolute (ReloadCommand::resolve): a relative one would run whatever
    // the current folder holds.
    if (typed.contains(QLatin1Char('/')) && !QDir::isAbsolutePath(typed)) {
        failure.why = kReloadRelative;
        return failure;
    }
    const QString program =
        QDir::isAbsolutePath(typed) ? typed : QStandardPaths::findExecutable(typed);
    if (program.isEmpty()) {
        failure.why = kReloadNotFound;
        return failure;
    }
    const ChildRun reload = runChild({.program = program,
                                      .arguments = command,
                                      .directory = context.currentFolder,
                                      .shown = context.debug},
                                     {.cancel = cancel});
    if (reload.endedWell())
        return std::nullopt;
    failure.output = QString::fromLocal8Bit(reload.output).trimmed();
    failure.why = describeEnding(reload, kReloadSubject);
    return failure;
}

QString run(const QStringList& command, const ToolContext& context) {
    const std::optional<Failure> failure = runWords(command, context);
    if (!failure)
        return QString();
    return kReloadFailedMessage.arg(failure->readable, failure->why, failure->output);
}

} // namespace ReloadCommand
