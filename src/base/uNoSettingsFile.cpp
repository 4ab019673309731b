#include "uNoSettingsFile.h"

#include <QSettings>

namespace {
// Not a folder, and never one: a settings file below it can be neither read nor created.
const QString kNoFolder = QStringLiteral("/dev/null");
} // namespace

void preventSettingsFiles() {
    // Qt's dialogs ask for the native format whatever the default format is; on Unix both
    // formats are files with paths of their own.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, kNoFolder);
}
