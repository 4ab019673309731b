#pragma once

#include <QString>

#include <memory>
#include <sys/stat.h>

class Descriptor;

// The page error of an export folder that someone other than the user (and root) can change.
inline const QString kSharedExportFolderMessage = QStringLiteral(
    "The folder \"%1\" can be changed by other users: %2. They could replace the files that "
    "are made there. Please choose a folder that only you can change, such as one in your "
    "home folder.");
inline const QString kMissingExportFolderMessage =
    QStringLiteral("The folder \"%1\" does not exist. Please choose an existing folder for the "
                   "exported files; the folder chooser can also make a new one.");
inline const QString kNotAFolderMessage =
    QStringLiteral("\"%1\" is not a folder. Please choose a folder for the exported files.");
inline const QString kUncheckedExportFolderMessage =
    QStringLiteral("The folder \"%1\" cannot be checked: %2. Please choose another folder for "
                   "the exported files.");
inline const QString kReplacedExportFolderMessage =
    QStringLiteral("The folder \"%1\" was moved or replaced after it was checked, so nothing "
                   "more is made there. Please check the folder and try again.");

// An export folder that requirePrivateExportFolder accepted. Its path is the one that was
// checked, and a step uses exactly that path for everything it writes and every command line,
// so that a link in the typed path that changes later leads nowhere else. The folder itself
// stays open, so that a folder put in its place later is told apart from it.
class CheckedFolder {
  public:
    // The folder as checked: absolute, without links, ending in a separator.
    const QString& path() const { return resolved; }
    // Throws PageError(kReplacedExportFolderMessage) when the folder at path() is no longer
    // the one that was checked.
    void requireUnchanged() const;

  private:
    friend CheckedFolder requirePrivateFolder(const QString& folder, const QString& currentFolder,
                                              const QString& sharedMessage);
    CheckedFolder(const QString& path, std::shared_ptr<const Descriptor> folder,
                  const struct stat& status);

    QString resolved;
    std::shared_ptr<const Descriptor> held;
    dev_t device;
    ino_t inode;
};

// Resolves an export folder as typed (a relative one is taken from the current folder) once, and
// refuses it (PageError) when it does not exist, is no folder, cannot be resolved or checked, or
// anyone but the user and root can change it: the folder and every folder above it must belong to
// the user or to root, and neither their modes nor their access control lists may let other users
// write to them, nor a group other than the user's own private one. A folder above it may be
// writable by others when its sticky bit keeps them from renaming what they do not own (/tmp), the
// folder itself never.
CheckedFolder requirePrivateExportFolder(const QString& folder, const QString& currentFolder);

// The same check for a folder of the program's own; sharedMessage is the page error of a folder
// that others can change, with the folder as typed (%1) and the reason (%2).
CheckedFolder requirePrivateFolder(const QString& folder, const QString& currentFolder,
                                   const QString& sharedMessage);

// Why someone other than the user and root can change the file at the path (made absolute from
// the current folder) or what leads to it, by the same rules: the file and every folder above
// it must belong to the user or to root, and no mode or access control list may let anyone else
// write to them. A folder above it may be writable by others when its sticky bit is set. Empty
// when no one else can; otherwise the reason in words, also when the path is no regular file,
// passes through a link or cannot be checked.
QString whyFileIsShared(const QString& path);
