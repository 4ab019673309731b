#include "CommandTable.h"

#include <cstring>

namespace CommandLine {

const QList<Command>& commands() {
    // A new command is one unit with its function, and one row here.
    static const QList<Command> all = {
        requestCommand(), selfsignCommand(), pfxCommand(),  pemCommand(),
        checkCommand(),   installCommand(),  acmeCommand(), renewCommand(),
    };
    return all;
}

const Command* commandNamed(const char* name) {
    for (const Command& command : commands())
        if (std::strcmp(command.name, name) == 0)
            return &command;
    return nullptr;
}

} // namespace CommandLine
