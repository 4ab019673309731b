// Compiled as a unit of the core, which must not reach the widgets: the build of this file
// fails, and the test that builds it expects that failure.
#include <QWidget>
