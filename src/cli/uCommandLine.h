#pragma once

// The commands that run one task without a window: "certwright <command> [options]".
namespace CommandLine {

// Whether the program was started as a command (argv[1] names one) rather than as the desktop
// program.
bool isCommand(int argc, const char* const* argv);

// Runs the command with a QCoreApplication and returns the exit status: 0 when the task was
// done, 1 when it failed (its message and plain reason on standard error), 2 on a usage error or
// an input file that cannot be read.
int run(int argc, char** argv);

} // namespace CommandLine
