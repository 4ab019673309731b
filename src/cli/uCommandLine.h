#pragma once

// The commands that run one task without a window: "certwright <command> [options]".
namespace CommandLine {

// Whether the program was started as a command (argv[1] names one) rather than as the desktop
// program.
bool isCommand(int argc, const char* const* argv);

// Whether the arguments are the desktop program's: none, or -DEBUG (in any letter case) first.
bool opensWindows(int argc, const char* const* argv);

// Refuses a first argument that is neither a command nor the desktop program's, naming the
// commands on standard error; returns the exit status of a usage error, 2.
int refuseUnknownCommand(const char* argument);

// Runs the command with a QCoreApplication and returns the exit status: 0 when the task was
// done, 1 when it failed (its message and plain reason on standard error), 2 on a usage error or
// an input file that cannot be read.
int run(int argc, char** argv);

} // namespace CommandLine
