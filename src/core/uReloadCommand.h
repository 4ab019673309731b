#pragma once

#include "RunCancel.h"
#include "uToolContext.h"

#include <QString>
#include <QStringList>

#include <optional>

// The command that runs after each new certificate (such as "systemctl reload nginx"), as the
// user types it in the window or after --reload. It is run later without a shell, often by a
// timer in another folder, so it is recorded as words with its program's absolute path.
namespace ReloadCommand {

// How the refusals below name the command: the reload command unless another is given (a hook).
inline const QString kReloadCommandWhat = QStringLiteral("reload command");

// The words of the command as a POSIX shell splits them: blanks separate words; single quotes
// keep everything up to the next single quote; double quotes keep everything up to the next
// unescaped double quote, where a backslash escapes only $, `, " and a backslash; a backslash
// outside quotes keeps the next character. Nothing is expanded: $NAME, ~ and * stay as they
// are. Refuses (PageError) a quote that is not closed, a backslash at the end, a control
// character other than a tab, and what only a shell would act on: | & ; < > ( ) ` and # at the
// start of a word. Blank text gives no words.
QStringList split(const QString& text, const QString& what = kReloadCommandWhat);

// The command as it is recorded: split, with its program made absolute, a path from the current
// folder (./reload.sh) and a bare name through the folders of PATH. Refuses (PageError) what
// split refuses and a program that cannot be found or is not an executable regular file. Blank
// text gives no words (no command).
QStringList resolve(const QString& text, const QString& currentFolder,
                    const QString& what = kReloadCommandWhat);

// Runs the recorded command without a shell, in the context's current folder. Empty when it
// ended by itself with status 0; otherwise why it failed, with its output, for the user. A
// program not named by an absolute path (an older record) is refused.
QString run(const QStringList& command, const ToolContext& context);

// Why a recorded command failed: its words as a shell would show them, why in a few words, and
// what it wrote.
struct Failure {
    QString readable;
    QString why;
    QString output;
};

// Runs a recorded command as run does; nothing when it ended by itself with status 0. Cancel
// ends it at once (it then fails as one that did not end by itself).
std::optional<Failure> runWords(const QStringList& command, const ToolContext& context,
                                RunCancel* cancel = nullptr);

} // namespace ReloadCommand
