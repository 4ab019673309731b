#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>

// "certwright expiry": every certificate that the user has and when it expires, the watch list
// kept up, and the calendar of it all.
namespace ExpiryCommand {

QList<QCommandLineOption> options();

// Exit 0 when nothing is due, 1 when an entry is due, expired or cannot be read (or the list
// cannot be changed), 2 for a usage error. Throws UsageError and PageError for the caller.
int run(const QCommandLineParser& parser);

} // namespace ExpiryCommand
