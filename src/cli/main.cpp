#include "CommandTable.h"
#include "WindowsFrontEnd.h"
#include "uCommandLine.h"

#include <cstdio>
#include <cstring>

namespace {
const char kVersionLine[] = "certwright " CERTWRIGHT_VERSION "\n";

// Exit status 1 when the text could not be written (a closed or full standard output).
int printInformation(const char* text) {
    const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
    return written ? 0 : 1;
}

// The exit status of --help or --version when one of them is asked for, or -1 when the program
// is to start.
int answerInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return printInformation(CommandLine::programUsage().toLocal8Bit().constData());
        if (std::strcmp(argv[i], "--version") == 0)
            return printInformation(kVersionLine);
    }
    return -1;
}
} // namespace

// The program that users start: a command runs here on the core alone, and only the desktop
// program loads the window libraries.
int main(int argc, char** argv) {
    // A command runs without a window, so it needs no display.
    if (CommandLine::isCommand(argc, argv))
        return CommandLine::run(argc, argv);
    // Answered before any window library is loaded, so they need no display and open no window.
    if (const int status = answerInformation(argc, argv); status >= 0)
        return status;
    // A mistyped command must not open the windows, nor ask for a display.
    if (!CommandLine::opensWindows(argc, argv))
        return CommandLine::refuseUnknownCommand(argv[1]);
    return WindowsFrontEnd::start(argc, argv);
}
