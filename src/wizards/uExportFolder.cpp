#include "uExportFolder.h"

#include "uCertwrightCommon.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a folder is refused, for the page error of a shared folder.
const QString kFolderOwnerReason = QStringLiteral("\"%1\" belongs to another user (user ID %2)");
const QString kFolderWritableReason = QStringLiteral("all users may write to \"%1\"");
const QString kFolderGroupReason = QStringLiteral("the group \"%2\" may write to \"%1\"");

// True when the group has no member but the user: it is the user's own group (the user's
// primary group or named like the user) and neither its member list nor any account's primary
// group puts another user in it.
bool isPrivateGroupOf(uid_t user, gid_t group) {
    const passwd* account = ::getpwuid(user);
    const struct group* entry = ::getgrgid(group);
    if (!account || !entry)
        return false;
    const QByteArray userName = account->pw_name;
    const bool usersOwn = account->pw_gid == group || userName == entry->gr_name;
    if (!usersOwn)
        return false;
    for (char** member = entry->gr_mem; *member; ++member)
        if (userName != *member)
            return false;
    bool alone = true;
    ::setpwent();
    while (const passwd* other = ::getpwent())
        if (other->pw_gid == group && other->pw_uid != user)
            alone = false;
    ::endpwent();
    return alone;
}

// Why others can change the folder, or empty when only the user and root can. A folder above
// the export folder (isParent) may be world- or group-writable with its sticky bit set.
QString whyShared(const QString& path, const struct stat& status, bool isParent) {
    const uid_t user = ::geteuid();
    if (status.st_uid != user && status.st_uid != 0)
        return kFolderOwnerReason.arg(path).arg(status.st_uid);
    const bool sticky = isParent && (status.st_mode & S_ISVTX);
    if ((status.st_mode & S_IWOTH) && !sticky)
        return kFolderWritableReason.arg(path);
    if ((status.st_mode & S_IWGRP) && !sticky && !isPrivateGroupOf(user, status.st_gid)) {
        const struct group* entry = ::getgrgid(status.st_gid);
        return kFolderGroupReason.arg(path, entry ? QString::fromLocal8Bit(entry->gr_name)
                                                  : QString::number(status.st_gid));
    }
    return QString();
}

// The deepest existing item on the path: the path itself, or the nearest folder above it.
QString deepestExisting(QString path) {
    struct stat status;
    while (::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == ENOENT &&
           path != QLatin1String("/"))
        path = QDir::cleanPath(path + QStringLiteral("/.."));
    return path;
}

} // namespace

void requirePrivateExportFolder(const QString& folder) {
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(folder));
    char* resolved = ::realpath(QFile::encodeName(deepestExisting(absolute)).constData(), nullptr);
    if (!resolved)
        return;
    const QString real = QFile::decodeName(resolved);
    std::free(resolved);
    struct stat status;
    if (::lstat(QFile::encodeName(real).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return;
    // From the folder up to the root: a folder that others can write above it lets them
    // rename it and put their own in its place.
    QString path = real;
    for (bool isParent = false;; isParent = true) {
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            return;
        const QString reason = whyShared(path, status, isParent);
        if (!reason.isEmpty())
            throw PageError(kSharedExportFolderMessage.arg(folder, reason));
        if (path == QLatin1String("/"))
            return;
        path = QDir::cleanPath(path + QStringLiteral("/.."));
    }
}
