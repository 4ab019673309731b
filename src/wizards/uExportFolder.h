#pragma once

#include <QString>

// The page error of an export folder that someone other than the user (and root) can change.
inline const QString kSharedExportFolderMessage = QStringLiteral(
    "The folder \"%1\" can be changed by other users: %2. They could replace the files that "
    "are made there. Please choose a folder that only you can change, such as one in your "
    "home folder.");

// Refuses (PageError) an export folder (as typed; a relative one is taken from the current
// directory) that anyone but the user and root can change: the folder and every folder above
// it must belong to the user or to root and must not be writable by other users, nor by a
// group other than the user's own private one. A folder above it may be writable by all when
// its sticky bit keeps them from renaming what they do not own (/tmp), the folder itself never.
// A folder that does not exist yet is judged by the deepest folder of its path that does: whoever
// can write there could make it. A path that cannot name a folder at all passes; the step's
// first file reports it.
void requirePrivateExportFolder(const QString& folder);
