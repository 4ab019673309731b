#include "uOutputReplacement.h"

#include "uCertwrightCommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QVector>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Message of a file that cannot be moved aside, and so cannot be replaced.
const QString kMoveAsideFailedMessage =
    QStringLiteral("Cannot move the file \"%1\" aside, so it cannot be replaced. %2");
// Added to the step's own explanation when an old file cannot be put back: where it is kept.
const QString kPutBackFailedMessage =
    QStringLiteral("The earlier file \"%1\" could not be put back (%3); it is kept as \"%2\".");

// A name that no output of any wizard uses: hidden, marked as this program's, and random. It
// ends in (the start of) the output's name, so that someone who finds it knows what it was.
const QString kAsideName = QStringLiteral(".certwright-old-%1-%2");
const int kNamePartLength = 64;

// An output and the name under which its old file waits while the step runs.
struct MovedAside {
    QString output;
    QString kept;
};

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

QString moveAside(const QString& output) {
    const QFileInfo info(output);
    for (;;) {
        const QString kept = info.dir().filePath(
            kAsideName.arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'))
                .arg(info.fileName().left(kNamePartLength)));
        const int error = renameWithoutReplacing(output, kept);
        if (error == 0)
            return kept;
        if (error != EEXIST)
            throw PageError(kMoveAsideFailedMessage.arg(output, systemReason(error)));
    }
}

// Puts the old files back in place of whatever the step left there; returns what could not be
// put back, one sentence each.
QString putBack(const QVector<MovedAside>& movedAside) {
    QStringList problems;
    for (const MovedAside& file : movedAside) {
        ::unlink(QFile::encodeName(file.output).constData());
        const int error = renameWithoutReplacing(file.kept, file.output);
        if (error != 0)
            problems << kPutBackFailedMessage.arg(file.output, file.kept, systemReason(error));
    }
    return problems.join(QLatin1Char(' '));
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
                movedAside.append({output, moveAside(output)});
        makeOutputs();
    } catch (...) {
        const QString problems = putBack(movedAside);
        if (problems.isEmpty())
            throw;
        rethrowWith(problems);
    }
    // The new files are in place; an old file that cannot be deleted stays under its hidden
    // name rather than turning a finished step into a failed one.
    for (const MovedAside& file : movedAside)
        ::unlink(QFile::encodeName(file.kept).constData());
}
