#include "uPassPhraseFolder.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kFolderName = QStringLiteral("certwright");
const QString kOwnCopyTemplate = QStringLiteral("certwright-XXXXXX");
const QString kOwnCopyPattern = QStringLiteral("certwright-??????");

const QString kUnsafeFolderMessage =
    QStringLiteral("The folder \"%1\" is not safe for pass phrases: %2. Certwright writes no "
                   "pass phrase there; remove that folder and start Certwright again.");
const QString kOtherOwnerReason = QStringLiteral("it belongs to another user");
const QString kModeReason = QStringLiteral("its mode is %1 instead of 0700");
const QString kNotAFolderReason = QStringLiteral("it is a link or a file, not a folder");
const QString kCannotCreateMessage =
    QStringLiteral("The folder \"%1\" for pass phrases cannot be created (%2).");

constexpr mode_t kPrivateFolderMode = 0700;

const char* const kFileNames[] = {kCurrentPassPhraseName, kNewPassPhraseName};

// The chosen folder as the handlers of signals and of the exit see it: nothing in here needs
// the heap or a lock.
struct HeldFolder {
    std::atomic<bool> active{false};
    int fd = -1; // holds the lock; -1 when the folder was refused
    bool ownCopy = false;
    char ownCopyPath[PATH_MAX] = {};
};
HeldFolder held;

QString chosenFolder;
QString refusal;

// The outcome of one attempt to take a folder.
struct Taken {
    QString folder; // ends in '/'
    int fd = -1;
    QString refusal;
};

QString errorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// True when the user may write the folder and no other user may.
bool onlyTheUserMayWrite(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    struct stat info {};
    return ::access(path.constData(), W_OK) == 0 && ::stat(path.constData(), &info) == 0 &&
           S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// True when the descriptor holds the folder's exclusive lock; false when another copy of the
// program holds it (or locks do not work there).
bool lockExclusively(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// The program folder when the user may write it and no other user may; else no folder (-1).
Taken takeProgramFolder(const QString& programFolder) {
    Taken taken{withTrailingSeparator(programFolder), -1, QString()};
    if (onlyTheUserMayWrite(programFolder))
        taken.fd = ::open(QFile::encodeName(programFolder).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return taken;
}

// Why a folder that already stood there may not hold pass phrases; empty when it may.
QString reasonAgainst(const struct stat& info) {
    if (!S_ISDIR(info.st_mode))
        return kNotAFolderReason;
    if (info.st_uid != ::getuid())
        return kOtherOwnerReason;
    if ((info.st_mode & 07777) != kPrivateFolderMode)
        return kModeReason.arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

// The folder "certwright" in the base, created when missing; a folder that was already there
// is checked on the opened descriptor itself, so that nothing can be swapped in between.
Taken takePrivateFolder(const QString& base) {
    const QString path = withTrailingSeparator(base) + kFolderName;
    Taken taken{path + QLatin1Char('/'), -1, QString()};
    const QByteArray bytes = QFile::encodeName(path);
    // A base that cannot be made shows in the failure of the folder inside it.
    QDir().mkpath(base);
    const bool created = ::mkdir(bytes.constData(), kPrivateFolderMode) == 0;
    if (!created && errno != EEXIST) {
        taken.refusal = kCannotCreateMessage.arg(path, errorText(errno));
        return taken;
    }
    const int fd = ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        taken.refusal = errno == ELOOP || errno == ENOTDIR
                            ? kUnsafeFolderMessage.arg(path, kNotAFolderReason)
                            : kCannotCreateMessage.arg(path, errorText(errno));
        return taken;
    }
    // The folder is new: whatever the umask took away is put back.
    if (created)
        ::fchmod(fd, kPrivateFolderMode);
    struct stat info {};
    const QString reason = ::fstat(fd, &info) == 0 ? reasonAgainst(info) : errorText(errno);
    if (!reason.isEmpty()) {
        ::close(fd);
        taken.refusal = kUnsafeFolderMessage.arg(path, reason);
        return taken;
    }
    taken.fd = fd;
    return taken;
}

// A new folder of this copy alone in the base: made fresh with mode 0700 under a unique name,
// and locked, so that a later copy knows it from the folder of a copy that was killed.
Taken takeOwnCopy(const QString& base) {
    QByteArray name = QFile::encodeName(withTrailingSeparator(base) + kOwnCopyTemplate);
    Taken taken;
    QDir().mkpath(base);
    if (!::mkdtemp(name.data())) {
        taken.folder = withTrailingSeparator(base) + kOwnCopyTemplate + QLatin1Char('/');
        taken.refusal = kCannotCreateMessage.arg(QFile::decodeName(name), errorText(errno));
        return taken;
    }
    taken.folder = QFile::decodeName(name) + QLatin1Char('/');
    taken.fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (taken.fd < 0 || size_t(name.size()) >= sizeof held.ownCopyPath ||
        !lockExclusively(taken.fd)) {
        taken.refusal = kCannotCreateMessage.arg(taken.folder, errorText(errno));
        if (taken.fd >= 0)
            ::close(taken.fd);
        taken.fd = -1;
        ::rmdir(name.constData());
        return taken;
    }
    std::memcpy(held.ownCopyPath, name.constData(), size_t(name.size()) + 1);
    held.ownCopy = true;
    return taken;
}

void emptyFilesIn(int fd) noexcept {
    for (const char* name : kFileNames)
        writeFreshFileAt(fd, name, "", 0);
}

// A program that was killed left its pass phrases behind: those in the folder now held, which
// it held before, are emptied, and the folders of other copies that no copy holds any more go.
void removeLeftoversOfKilledCopies(int heldFd, const QString& base) {
    for (const char* name : kFileNames) {
        struct stat info {};
        if (::fstatat(heldFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0)
            writeFreshFileAt(heldFd, name, "", 0);
    }
    const int baseFd =
        ::open(QFile::encodeName(base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0)
        return;
    const QStringList copies = QDir(base).entryList(
        {kOwnCopyPattern}, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& copy : copies) {
        const QByteArray name = QFile::encodeName(copy);
        // Only a real folder of the user's own is entered; a link is never followed.
        const int fd =
            ::openat(baseFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_uid == ::getuid() && lockExclusively(fd)) {
            for (const char* file : kFileNames)
                ::unlinkat(fd, file, 0);
            ::unlinkat(baseFd, name.constData(), AT_REMOVEDIR);
        }
        ::close(fd);
    }
    ::close(baseFd);
}
} // namespace

QString PassPhraseFolder() {
    return held.active ? chosenFolder : ProgramFolder();
}

QString PassPhraseFolderRefusal() {
    return held.active ? refusal : QString();
}

bool passPhraseFolderIsOwnCopy() {
    return held.active && held.ownCopy;
}

int openPassPhraseFolder() {
    if (held.active) {
        if (held.fd < 0) {
            errno = EACCES;
            return -1;
        }
        return ::fcntl(held.fd, F_DUPFD_CLOEXEC, 0);
    }
    return ::open(QFile::encodeName(ProgramFolder()).constData(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

QString privatePassPhraseBase() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    struct stat info {};
    if (QDir::isAbsolutePath(runtime) &&
        ::stat(QFile::encodeName(runtime).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::getuid())
        return runtime;
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

void choosePassPhraseFolder(const QString& programFolder, const QString& privateBase) {
    endPassPhraseFolder();
    held.ownCopy = false;
    Taken taken = takeProgramFolder(programFolder);
    if (taken.fd < 0)
        taken = takePrivateFolder(privateBase);
    if (taken.fd >= 0 && !lockExclusively(taken.fd)) {
        ::close(taken.fd);
        taken = takeOwnCopy(privateBase);
    }
    if (taken.fd >= 0)
        removeLeftoversOfKilledCopies(taken.fd, privateBase);
    chosenFolder = taken.folder;
    refusal = taken.refusal;
    held.fd = taken.fd;
    held.active = true;
}

void emptyChosenPassPhraseFiles() noexcept {
    if (held.active && held.fd >= 0)
        emptyFilesIn(held.fd);
}

void endPassPhraseFolder() noexcept {
    if (!held.active.exchange(false) || held.fd < 0)
        return;
    if (held.ownCopy) {
        for (const char* name : kFileNames)
            ::unlinkat(held.fd, name, 0);
        ::rmdir(held.ownCopyPath);
    } else {
        emptyFilesIn(held.fd);
    }
    ::close(held.fd);
    held.fd = -1;
}
