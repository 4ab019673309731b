#pragma once

#include "Command.h"

#include <QList>
#include <QString>

namespace CommandLine {

// Every command, in the order that the help lists them.
const QList<Command>& commands();

// The program's usage for --help, its list of commands taken from the table.
QString programUsage();

// The command of that name, or nullptr.
const Command* commandNamed(const char* name);

} // namespace CommandLine
