#pragma once

#include <QByteArray>
#include <QString>

// Writes a file that this program makes for itself (a temporary file beside the outputs) so
// that nobody else's file is ever written instead: whatever stands at the name is removed, the
// file is created new, readable and writable by its owner only, without following a link,
// and the content goes through that one descriptor. Returns 0, or the system's error number
// when the file cannot be made that way (then nothing is left at the name).
int writeFreshFile(const QString& path, const QByteArray& content);
