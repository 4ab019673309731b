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
    QStringLiteral("The reload command has a single quote (') that is not closed.");
const QString kUnclosedDoubleQuote =
    QStringLiteral("The reload command has a double quote (\") that is not closed.");
const QString kLoneBackslash =
    QStringLiteral("The reload command ends with a backslash (\\) that escapes nothing.");
const QString kShellOnly = QStringLiteral(
    "The reload command holds \"%1\", which only a shell acts on; the command is run without a "
    "shell. Quote the character, or put the commands into a script and give the script.");
const QString kControlCharacter =
    QStringLiteral("The reload command holds a line end or another control character.");
const QString kProgramMissing =
    QStringLiteral("The program \"%1\" of the reload command does not exist.");
const QString kProgramNotOnPath =
    QStringLiteral("The program \"%1\" of the reload command is in no folder of PATH.");
const QString kProgramNotExecutable =
    QStringLiteral("The program \"%1\" of the reload command is not an executable file.");

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

QStringList split(const QString& text) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control && c != u'\t')
            throw PageError(kControlCharacter);
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
            throw PageError(kShellOnly.arg(c));
        inWord = true;
        if (c == kBackslash) {
            if (++at == text.size())
                throw PageError(kLoneBackslash);
            word += text.at(at);
        } else if (c == kSingleQuote) {
            const qsizetype end = text.indexOf(kSingleQuote, at + 1);
            if (end < 0)
                throw PageError(kUnclosedSingleQuote);
            word += text.mid(at + 1, end - at - 1);
            at = end;
        } else if (c == kDoubleQuote) {
            for (++at;; ++at) {
                if (at == text.size())
                    throw PageError(kUnclosedDoubleQuote);
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

QStringList resolve(const QString& text, const QString& currentFolder) {
    QStringList words = split(text);
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
        throw PageError((isPath ? kProgramMissing : kProgramNotOnPath).arg(typed));
    if (!S_ISREG(status.st_mode) || !(status.st_mode & kAnyExecuteBit) ||
        ::access(encoded.constData(), X_OK) != 0)
        throw PageError(kProgramNotExecutable.arg(typed));
    words.first() = program;
    return words;
}

QString run(const QStringList& command, const ToolContext& context) {
    const QString& typed = command.first();
    const QString readable = OpenSSLCommands::readableCommandLine(typed, command.mid(1));
    // A path is recorded absolute (ReloadCommand::resolve): a relative one would run whatever
    // the current folder holds.
    if (typed.contains(QLatin1Char('/')) && !QDir::isAbsolutePath(typed))
        return kReloadFailedMessage.arg(readable, kReloadRelative, QString());
    const QString program =
        QDir::isAbsolutePath(typed) ? typed : QStandardPaths::findExecutable(typed);
    if (program.isEmpty())
        return kReloadFailedMessage.arg(readable, kReloadNotFound, QString());
    const ChildRun reload = runChild({.program = program,
                                      .arguments = command,
                                      .directory = context.currentFolder,
                                      .shown = context.debug});
    if (reload.endedWell())
        return QString();
    return kReloadFailedMessage.arg(readable, describeEnding(reload, kReloadSubject),
                                    QString::fromLocal8Bit(reload.output).trimmed());
}

} // namespace ReloadCommand
