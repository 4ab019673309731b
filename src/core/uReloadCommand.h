#pragma once

#include "uToolContext.h"

#include <QString>
#include <QStringList>

// The command that runs after each new certificate (such as "systemctl reload nginx"), as the
// user types it in the window or after --reload. It is run later without a shell, often by a
// timer in another folder, so it is recorded as words with its program's absolute path.
namespace ReloadCommand {

// The words of the command as a POSIX shell splits them: blanks separate words; single quotes
// keep everything up to the next single quote; double quotes keep everything up to the next
// unescaped double quote, where a backslash escapes only $, `, " and a backslash; a backslash
// outside quotes keeps the next character. Nothing is expanded: $NAME, ~ and * stay as they
// are. Refuses (PageError) a quote that is not closed, a backslash at the end, a control
// character other than a tab, and what only a shell would act on: | & ; < > ( ) ` and # at the
// start of a word. Blank text gives no words.
QStringList split(const QString& text);

// The command as it is recorded: split, with its program made absolute, a path from the current
// folder (./reload.sh) and a bare name through the folders of PATH. Refuses (PageError) what
// split refuses and a program that cannot be found or is not an executable regular file. Blank
// text gives no words (no command).
QStringList resolve(const QString& text, const QString& currentFolder);

// Runs the recorded command without a shell, in the context's current folder. Empty when it
// ended by itself with status 0; otherwise why it failed, with its output, for the user. A
// program not named by an absolute path (an older record) is refused.
QString run(const QStringList& command, const ToolContext& context);

} // namespace ReloadCommand
