#include "uOutputReplacement.h"

#include "uCertwrightCommon.h"
#include "uExternalApp.h"
#include "uOutputCheck.h"
#include "uPassPhraseFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Message of a file that cannot be moved aside, and so cannot be replaced.
const QString kMoveAsideFailedMessage =
    QStringLiteral("Cannot move the file \"%1\" aside, so it cannot be replaced. %2");
// Added to the step's own explanation when an old file cannot be put back: where it is kept.
const QString kPutBackFailedMessage =
    QStringLiteral("The earlier file \"%1\" could not be put back (%3); it is kept as \"%2\".");

// Tells the user about files that a killed copy of the program left set aside.
const QString kNotPutBackMessage = QStringLiteral(
    "Certwright was ended while it replaced files, and these earlier files could not be put "
    "back, as their names are taken again:\n%1");
const QString kKeptAsLine = QStringLiteral("\"%1\" is kept as \"%2\".");
const QString kCutNameMark = QStringLiteral("...");

// A name that no output of any wizard uses: hidden, marked as this program's, with the id of
// the process that set it aside, random, and ending in the output's name, "-" before it when
// the whole name follows and "~" when it had to be cut to fit.
const QString kAsideName = QStringLiteral(".certwright-old-%1-%2%3%4");
const QString kAsidePrefix = QStringLiteral(".certwright-old-");
const QRegularExpression
    kAsidePattern(QStringLiteral("^\\.certwright-old-([0-9]+)-[0-9a-f]{16}([-~])(.+)$"),
                  QRegularExpression::DotMatchesEverythingOption);
const QLatin1Char kWholeName('-');
const QLatin1Char kCutName('~');
constexpr int kLongestName = 255;

// An output and the name under which its old file waits while the step runs, with the lock
// that tells other copies of the program that its owner is still running (-1: none).
struct MovedAside {
    QString output;
    QString kept;
    int lock = -1;
};

// The steps' files that an ending through exit() must tidy up. Never destroyed, as the exit
// handler may run after static objects are gone.
struct StepFiles {
    std::vector<MovedAside> setAside;
    QStringList scratch;
};
StepFiles& stepFiles() {
    static StepFiles* files = new StepFiles;
    return *files;
}

void forgetSetAside(const QString& kept) {
    std::vector<MovedAside>& setAside = stepFiles().setAside;
    setAside.erase(std::remove_if(setAside.begin(), setAside.end(),
                                  [&](const MovedAside& file) { return file.kept == kept; }),
                   setAside.end());
}

void unlinkPath(const QString& path) {
    ::unlink(QFile::encodeName(path).constData());
}

void closeLock(int& lock) {
    if (lock >= 0)
        ::close(lock);
    lock = -1;
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Renames without ever replacing what is at the target, and without following a link at
// either name; returns 0 or the system's error. Another user who can write the folder may
// have planted something under the target name, which must stay as it is.
int renameWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that kind of rename: a second name and the removal of the first
    // do the same, and creating a name never replaces one either.
    if (::linkat(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), 0) != 0)
        return errno;
    if (::unlink(source.constData()) != 0) {
        const int error = errno;
        ::unlink(target.constData());
        return error;
    }
    return 0;
}

// True when something other than a folder has the name; a link counts as itself, wherever
// it leads, so that the tool never writes through a link that was left under an output name.
bool isTaken(const QString& path) {
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// A descriptor that holds the exclusive lock of the regular file at the path; -1 when it is no
// regular file, cannot be opened or another holds its lock. Nothing else is opened: a FIFO or
// a device must not be touched.
int lockRegularFile(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(bytes.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    int fd = ::open(bytes.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 &&
        (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0))
        closeLock(fd);
    return fd;
}

// The hidden name for an output's name, cut where a file name could not hold all of it.
QString keptName(const QString& process, const QString& random, const QString& name) {
    const QString whole = kAsideName.arg(process, random, QString(kWholeName), name);
    if (QFile::encodeName(whole).size() <= kLongestName)
        return whole;
    QString cut = kAsideName.arg(process, random, QString(kCutName), QString());
    for (const QChar character : name) {
        if (QFile::encodeName(cut + character).size() > kLongestName)
            break;
        cut += character;
    }
    return cut;
}

// The old file is locked before it moves, so that no other copy of the program ever sees it
// set aside and unlocked while this one runs.
MovedAside moveAside(const QString& output) {
    const QFileInfo info(output);
    const QString name = info.fileName();
    const QString process = QString::number(::getpid());
    MovedAside moved{output, QString(), lockRegularFile(output)};
    for (;;) {
        const QString random = QStringLiteral("%1").arg(QRandomGenerator::system()->generate64(),
                                                        16, 16, QLatin1Char('0'));
        moved.kept = info.dir().filePath(keptName(process, random, name));
        const int error = renameWithoutReplacing(output, moved.kept);
        if (error == 0) {
            stepFiles().setAside.push_back(moved);
            return moved;
        }
        if (error != EEXIST) {
            closeLock(moved.lock);
            throw PageError(kMoveAsideFailedMessage.arg(output, systemReason(error)));
        }
    }
}

// Puts the old files back in place of whatever the step left there; returns what could not be
// put back, one sentence each.
QString putBack(QVector<MovedAside>& movedAside) {
    QStringList problems;
    for (MovedAside& file : movedAside) {
        unlinkPath(file.output);
        const int error = renameWithoutReplacing(file.kept, file.output);
        if (error != 0)
            problems << kPutBackFailedMessage.arg(file.output, file.kept, systemReason(error));
        forgetSetAside(file.kept);
        closeLock(file.lock);
    }
    return problems.join(QLatin1Char(' '));
}

// True when the copy of the program that set the file aside no longer runs. The lock of a
// regular file tells it even when its process id has been taken by another process since;
// then the lock is held in *lock while the file is put back.
bool ownerIsGone(pid_t owner, const QString& kept, int* lock) {
    if (::kill(owner, 0) != 0 && errno == ESRCH)
        return true;
    *lock = lockRegularFile(kept);
    return *lock >= 0;
}

// True when a regular file holds no complete output of any kind: what a copy of the program
// that was killed in the middle of a run left under an output's name (an empty or cut key,
// say). The earlier file that waits set aside wins over it.
bool isUnfinished(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    for (const OutputKind kind :
         {OutputKind::Key, OutputKind::Request, OutputKind::Certificate, OutputKind::Bundle})
        if (outputIsComplete(path, kind))
            return false;
    return true;
}

// The failure that is being handled, with what could not be put back added to it.
[[noreturn]] void rethrowWith(const QString& problems) {
    try {
        throw;
    } catch (const PageError& error) {
        const QString explanation = error.explanation().isEmpty()
                                        ? problems
                                        : error.explanation() + QStringLiteral("\n\n") + problems;
        throw PageError(error.message(), explanation, error.details());
    } catch (const std::exception&) {
        throw PageError(problems);
    }
}

} // namespace

void replaceOutputs(const QStringList& outputs, const std::function<void()>& makeOutputs) {
    QVector<MovedAside> movedAside;
    try {
        for (const QString& output : outputs)
            if (isTaken(output))
                movedAside.append(moveAside(output));
        makeOutputs();
    } catch (...) {
        const QString problems = putBack(movedAside);
        if (problems.isEmpty())
            throw;
        rethrowWith(problems);
    }
    // The new files are in place; an old file that cannot be deleted stays under its hidden
    // name rather than turning a finished step into a failed one.
    for (MovedAside& file : movedAside) {
        unlinkPath(file.kept);
        forgetSetAside(file.kept);
        closeLock(file.lock);
    }
}

QString putBackLeftBehindFiles(const QString& folder) {
    const QDir dir(folder);
    QStringList notPutBack;
    for (const QString& name :
         dir.entryList({kAsidePrefix + QLatin1Char('*')},
                       QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = kAsidePattern.match(name);
        const QString kept = dir.filePath(name);
        int lock = -1;
        if (!match.hasMatch() || !ownerIsGone(pid_t(match.captured(1).toLongLong()), kept, &lock))
            continue;
        const QString original = dir.filePath(match.captured(3));
        const bool whole = match.captured(2) == QString(kWholeName);
        int error = whole ? renameWithoutReplacing(kept, original) : EEXIST;
        if (whole && error == EEXIST && isUnfinished(original))
            error = ::rename(QFile::encodeName(kept).constData(),
                             QFile::encodeName(original).constData()) == 0
                        ? 0
                        : errno;
        // ENOENT: another copy put it back meanwhile.
        if (error != 0 && error != ENOENT)
            notPutBack << kKeptAsLine.arg(whole ? original : original + kCutNameMark, kept);
        closeLock(lock);
    }
    return notPutBack.isEmpty() ? QString() : kNotPutBackMessage.arg(notPutBack.join('\n'));
}

ScratchFiles::ScratchFiles(const QStringList& paths) : paths(paths) {
    stepFiles().scratch << paths;
}

ScratchFiles::~ScratchFiles() {
    QStringList& scratch = stepFiles().scratch;
    for (const QString& path : paths) {
        unlinkPath(path);
        scratch.removeOne(path);
    }
}

void tidyUpStepFilesAtExit() noexcept {
    StepFiles& files = stepFiles();
    for (const QString& path : files.scratch)
        unlinkPath(path);
    for (const MovedAside& file : files.setAside) {
        unlinkPath(file.output);
        renameWithoutReplacing(file.kept, file.output);
    }
    files.setAside.clear();
    files.scratch.clear();
}

void tidyUpAtExit() {
    // Handlers run in the reverse order of their registration.
    std::atexit(endPassPhraseFolder);
    std::atexit(tidyUpStepFilesAtExit);
    std::atexit(TExternalApp::EndRunsAtExit);
}
