#pragma once

#include "Command.h"

#include <QList>

namespace CommandLine {

// Every command, in the order that the help lists them.
const QList<Command>& commands();

// The command of that name, or nullptr.
const Command* commandNamed(const char* name);

} // namespace CommandLine
