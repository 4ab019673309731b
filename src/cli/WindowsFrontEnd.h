#pragma once

// The desktop program lives in a library of its own, windows/certwright-windows.so beside the
// executable: only a start without a command loads it, and with it Qt Gui and Qt Widgets.
namespace WindowsFrontEnd {

// Loads the library and runs the desktop program; returns its exit status, or 1 (with the
// reason on standard error) when the library cannot be loaded. The library beside the
// executable is taken when it is there; otherwise the executable's own search path names its
// folder (the build's, for a copy of the program that a test makes elsewhere).
int start(int argc, char** argv);

} // namespace WindowsFrontEnd
