#pragma once

// The desktop program: the About screen, then the task chooser, until the last window closes.
// The command-line program loads the library that holds this and calls it when it is started
// without a command, so that a command never loads the window libraries. Returns the exit
// status.
extern "C" __attribute__((visibility("default"))) int certwrightWindowsMain(int argc, char** argv);
