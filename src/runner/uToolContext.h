#pragma once

#include <QString>

// Where and how the tool runs: everything a step would otherwise read from the running
// program. The windows and the command line each make their own and hand it to the plans and
// runs, so that no step depends on how the program was started.
struct ToolContext {
    QString programFolder;    // holds the tool, which runs there; ends in a separator
    QString passPhraseFolder; // holds the pass-phrase files; ends in a separator
    bool debug = false;       // runs that follow the debug switch copy the tool's output
    QString currentFolder;    // typed relative paths are taken from here
};

// The context of the running desktop program: its program folder, its pass-phrase folder, its
// debug switch and its current directory, as they are now.
ToolContext desktopToolContext();
