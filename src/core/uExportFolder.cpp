#include "uExportFolder.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <acl/libacl.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a folder is refused, for the page error of a shared folder.
const QString kFolderOwnerReason = QStringLiteral("\"%1\" belongs to another user (user ID %2)");
const QString kFolderWritableReason = QStringLiteral("all users may write to \"%1\"");
const QString kFolderGroupReason = QStringLiteral("the group \"%2\" may write to \"%1\"");
const QString kFolderAclUserReason =
    QStringLiteral("an access control list lets the user \"%2\" write to \"%1\"");
const QString kFolderAclGroupReason =
    QStringLiteral("an access control list lets the group \"%2\" write to \"%1\"");
const QString kFileUncheckedReason = QStringLiteral("\"%1\" cannot be checked (%2)");
const QString kNotRegularFileReason = QStringLiteral("\"%1\" is not a regular file");
const QString kAclUnreadableReason =
    QStringLiteral("the access control list of \"%1\" cannot be read (%2)");

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString userName(uid_t user) {
    const passwd* account = ::getpwuid(user);
    return account ? QString::fromLocal8Bit(account->pw_name) : QString::number(user);
}

QString groupName(gid_t group) {
    const struct group* entry = ::getgrgid(group);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(group);
}

// True when the group has no member but the user: it is the user's own group (the user's
// primary group or named like the user), no other group entry shares its ID, and neither its
// member list nor any account's primary group puts another user in it.
bool isPrivateGroupOf(uid_t user, gid_t group) {
    const passwd* account = ::getpwuid(user);
    if (!account)
        return false;
    const QByteArray name = account->pw_name;
    bool usersOwn = account->pw_gid == group;
    int entries = 0;
    bool alone = true;
    ::setgrent();
    while (const struct group* entry = ::getgrent()) {
        if (entry->gr_gid != group)
            continue;
        ++entries;
        usersOwn = usersOwn || name == entry->gr_name;
        for (char** member = entry->gr_mem; *member; ++member)
            alone = alone && name == *member;
    }
    ::endgrent();
    if (entries != 1 || !usersOwn || !alone)
        return false;
    ::setpwent();
    while (const passwd* other = ::getpwent())
        alone = alone && (other->pw_gid != group || other->pw_uid == user);
    ::endpwent();
    return alone;
}

// Why the folder's access control list lets someone but the user and root write to it, or
// empty when it does not. A folder without a list of its own has one made from its mode, so
// the mode's bits are judged here too.
QString whyAclShared(const QString& path, gid_t owningGroup) {
    const std::unique_ptr<std::remove_pointer_t<acl_t>, int (*)(void*)> acl(
        ::acl_get_file(QFile::encodeName(path).constData(), ACL_TYPE_ACCESS), ::acl_free);
    if (!acl)
        return kAclUnreadableReason.arg(path, systemReason(errno));
    // Named entries and the owning group write only as far as the mask allows; the owner's
    // and everybody's entries are not masked.
    bool maskAllowsWrite = true;
    acl_entry_t entry;
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(acl.get(), which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t permissions;
        if (::acl_get_tag_type(entry, &tag) == 0 && tag == ACL_MASK &&
            ::acl_get_permset(entry, &permissions) == 0)
            maskAllowsWrite = ::acl_get_perm(permissions, ACL_WRITE) == 1;
    }
    const uid_t user = ::geteuid();
    for (int which = ACL_FIRST_ENTRY; ::acl_get_entry(acl.get(), which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t permissions;
        if (::acl_get_tag_type(entry, &tag) != 0 || ::acl_get_permset(entry, &permissions) != 0)
            return kAclUnreadableReason.arg(path, systemReason(errno));
        if (::acl_get_perm(permissions, ACL_WRITE) != 1)
            continue;
        if (tag == ACL_OTHER)
            return kFolderWritableReason.arg(path);
        if (!maskAllowsWrite || (tag != ACL_USER && tag != ACL_GROUP && tag != ACL_GROUP_OBJ))
            continue;
        id_t id = owningGroup;
        if (tag != ACL_GROUP_OBJ) {
            void* qualifier = ::acl_get_qualifier(entry);
            if (!qualifier)
                return kAclUnreadableReason.arg(path, systemReason(errno));
            id = *static_cast<const id_t*>(qualifier);
            ::acl_free(qualifier);
        }
        if (tag == ACL_USER && id != user && id != 0)
            return kFolderAclUserReason.arg(path, userName(id));
        if (tag == ACL_GROUP_OBJ && !isPrivateGroupOf(user, id))
            return kFolderGroupReason.arg(path, groupName(id));
        if (tag == ACL_GROUP && !isPrivateGroupOf(user, id))
            return kFolderAclGroupReason.arg(path, groupName(id));
    }
    return QString();
}

// Why others can change the folder, or empty when only the user and root can. A folder above
// the export folder (isParent) may be writable by others with its sticky bit set.
QString whyShared(const QString& path, const struct stat& status, bool isParent) {
    const uid_t user = ::geteuid();
    if (status.st_uid != user && status.st_uid != 0)
        return kFolderOwnerReason.arg(path).arg(status.st_uid);
    if (isParent && (status.st_mode & S_ISVTX))
        return QString();
    return whyAclShared(path, status.st_gid);
}

// Why a path could not be resolved or opened as a folder, as the page error says it.
PageError refusal(const QString& folder, int error) {
    if (error == ENOENT)
        return PageError(kMissingExportFolderMessage.arg(folder));
    if (error == ENOTDIR || error == ELOOP)
        return PageError(kNotAFolderMessage.arg(folder));
    return PageError(kUncheckedExportFolderMessage.arg(folder, systemReason(error)));
}

// Where a walk down a path ended (see walkDown).
struct Walked {
    std::shared_ptr<const Descriptor> last; // the last part, open; null when it was not reached
    struct stat status {};                  // of the last part reached
    int error = 0;                          // why a part could not be opened or is no folder
    QString shared;                         // why others can change a part
};

// From the root down, each part of the absolute path opened without following a link from the
// folder above it, and judged by whyShared, so that the part held at the end is the one whose
// path was judged: a folder that others can write above it lets them rename it and put their own
// in its place. Every part but the last must be a folder, the last one too when lastIsFolder.
Walked walkDown(const QString& absolute, bool lastIsFolder) {
    const QStringList names = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    Walked walked;
    QString path = QStringLiteral("/");
    int opened = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (qsizetype depth = 0;; ++depth) {
        if (opened < 0) {
            walked.error = errno;
            walked.last.reset();
            return walked;
        }
        walked.last = std::make_shared<const Descriptor>(opened);
        const bool isLast = depth == names.size();
        if (::fstat(opened, &walked.status) != 0)
            walked.error = errno;
        else if ((!isLast || lastIsFolder) && !S_ISDIR(walked.status.st_mode))
            walked.error = ENOTDIR;
        else
            walked.shared = whyShared(path, walked.status, !isLast);
        if (walked.error != 0 || !walked.shared.isEmpty() || isLast)
            return walked;
        path = withTrailingSeparator(path) + names[depth];
        const bool folderNext = depth + 1 < names.size() || lastIsFolder;
        opened = ::openat(walked.last->fd, QFile::encodeName(names[depth]).constData(),
                          O_PATH | O_NOFOLLOW | O_CLOEXEC | (folderNext ? O_DIRECTORY : 0));
    }
}

} // namespace

CheckedFolder::CheckedFolder(const QString& path, std::shared_ptr<const Descriptor> folder,
                             const struct stat& status)
    : resolved(path), held(std::move(folder)), device(status.st_dev), inode(status.st_ino) {}

void CheckedFolder::requireUnchanged() const {
    struct stat status;
    if (::stat(QFile::encodeName(resolved).constData(), &status) != 0 || status.st_dev != device ||
        status.st_ino != inode)
        throw PageError(kReplacedExportFolderMessage.arg(resolved));
}

CheckedFolder requirePrivateExportFolder(const QString& folder, const QString& currentFolder) {
    return requirePrivateFolder(folder, currentFolder, kSharedExportFolderMessage);
}

CheckedFolder requirePrivateFolder(const QString& folder, const QString& currentFolder,
                                   const QString& sharedMessage) {
    const QString absolute = QDir(currentFolder).absoluteFilePath(folder);
    const std::unique_ptr<char, void (*)(void*)> resolved(
        ::realpath(QFile::encodeName(absolute).constData(), nullptr), std::free);
    if (!resolved)
        throw refusal(folder, errno);
    const QString real = QFile::decodeName(resolved.get());
    const Walked walked = walkDown(real, true);
    if (walked.error != 0)
        throw refusal(folder, walked.error);
    if (!walked.shared.isEmpty())
        throw PageError(sharedMessage.arg(folder, walked.shared));
    return CheckedFolder(withTrailingSeparator(real), walked.last, walked.status);
}

QString whyFileIsShared(const QString& path) {
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    const Walked walked = walkDown(absolute, false);
    if (walked.error != 0)
        return kFileUncheckedReason.arg(absolute, systemReason(walked.error));
    if (!walked.shared.isEmpty())
        return walked.shared;
    if (!S_ISREG(walked.status.st_mode))
        return kNotRegularFileReason.arg(absolute);
    return QString();
}
