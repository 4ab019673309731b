#pragma once

#include "uCertwrightCommon.h"

#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

// The application's error box: caption "Certwright", critical icon, one OK button; an
// explanation goes below the message and details behind a "Show Details..." button.
void showErrorBox(QWidget* parent, const QString& message, const QString& explanation = QString(),
                  const QString& details = QString());

// Runs an event handler's body; PageError and any other std::exception go to the error box,
// SilentAbort ends the handler quietly. No exception ever escapes into Qt.
void runGuarded(QWidget* parent, const std::function<void()>& body);

// The desktop's "open" verb for web pages and local files.
void openWithShell(const QUrl& address);

// Test hook: captures the addresses instead of opening them (an empty function restores).
void setShellOpenerForTesting(std::function<void(const QUrl&)> opener);

// Shows a busy cursor while a window waits for a run of the tool; for the desktop program's
// start.
void showBusyCursorDuringRuns();
