#pragma once

#include <QString>

// The program's own data folder, $XDG_DATA_HOME/certwright/, and the private folders in it.
namespace Acme {

// A folder of the program's own data ($XDG_DATA_HOME/certwright/<name>/, ending in a
// separator), made with mode 0700 when missing; one that is not a real folder of the user's
// own is refused (PageError), and one that others may enter is closed to them.
QString privateDataFolder(const QString& name);

// The path of that folder, for a look that must make nothing: whether it exists at all.
QString dataFolderPath(const QString& name);

// The folder of lego's account and state ($XDG_DATA_HOME/certwright/acme/).
QString stateFolder();

} // namespace Acme
