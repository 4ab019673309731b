#include "ChallengeFolder.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kUnwritableMessage =
    QStringLiteral("This program cannot write %1 in \"%2\": %3. Please choose a web root that "
                   "you may write, or run the program as a user who may.");
const QString kChallengePath = QStringLiteral(".well-known/acme-challenge/");
const char* const kWellKnown = ".well-known";
const char* const kChallenges = "acme-challenge";
const QString kProbePrefix = QStringLiteral("certwright-probe-");
// The folders must be readable by the web server.
constexpr mode_t kServedFolderMode = 0755;

// An answer is named by its token, which is base64url text.
const QRegularExpression kTokenPattern(QStringLiteral("^[A-Za-z0-9_-]+$"));

struct Opened {
    int fd = -1;
    bool made = false;
};

// Opens the folder under the name in the parent, making it first when it is missing; a link
// is not followed.
Opened openFolder(int parent, const char* name) {
    Opened folder;
    if (::mkdirat(parent, name, kServedFolderMode) == 0)
        folder.made = true;
    else if (errno != EEXIST)
        return folder;
    folder.fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return folder;
}

bool sameFile(int parent, const char* name, int held) {
    struct stat there {};
    struct stat kept {};
    return ::fstatat(parent, name, &there, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(held, &kept) == 0 &&
           there.st_dev == kept.st_dev && there.st_ino == kept.st_ino;
}

} // namespace

struct ChallengeFolder::State {
    int root = -1;
    Opened wellKnown;
    Opened challenges;
    int watch = -1;

    ~State() {
        for (const int fd : {watch, challenges.fd, wellKnown.fd, root})
            if (fd >= 0)
                ::close(fd);
    }

    // Names of the files that were made in the folder while it was watched.
    QStringList made() const {
        QStringList names;
        alignas(inotify_event) char buffer[sizeof(inotify_event) + NAME_MAX + 1];
        for (;;) {
            const ssize_t size = ::read(watch, buffer, sizeof buffer);
            if (size <= 0)
                return names;
            for (ssize_t at = 0; at < size;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && !(event->mask & IN_ISDIR))
                    names << QFile::decodeName(event->name);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

    void removeAnswers() const {
        if (watch < 0)
            return;
        for (const QString& name : made()) {
            const QByteArray encoded = QFile::encodeName(name);
            struct stat status {};
            if (kTokenPattern.match(name).hasMatch() &&
                ::fstatat(challenges.fd, encoded.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(status.st_mode) && status.st_uid == ::geteuid())
                ::unlinkat(challenges.fd, encoded.constData(), 0);
        }
    }

    // A folder that was made here goes again when it is empty, and only when the name still
    // leads to the very folder that was made.
    void removeMadeFolders() const {
        if (challenges.made && sameFile(wellKnown.fd, kChallenges, challenges.fd))
            ::unlinkat(wellKnown.fd, kChallenges, AT_REMOVEDIR);
        if (wellKnown.made && sameFile(root, kWellKnown, wellKnown.fd))
            ::unlinkat(root, kWellKnown, AT_REMOVEDIR);
    }
};

ChallengeFolder::ChallengeFolder(const QString& webRoot) : state(std::make_unique<State>()) {
    const auto failure = [&](int error) {
        state->removeMadeFolders();
        return PageError(kUnwritableMessage.arg(kChallengePath, webRoot,
                                                QString::fromLocal8Bit(std::strerror(error))));
    };
    state->root =
        ::open(QFile::encodeName(webRoot).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (state->root < 0)
        throw failure(errno);
    state->wellKnown = openFolder(state->root, kWellKnown);
    if (state->wellKnown.fd < 0)
        throw failure(errno);
    state->challenges = openFolder(state->wellKnown.fd, kChallenges);
    if (state->challenges.fd < 0)
        throw failure(errno);
    const QByteArray probe = QFile::encodeName(
        kProbePrefix + QString::number(QRandomGenerator::system()->generate64(), 16));
    const int file = ::openat(state->challenges.fd, probe.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFreshFileMode);
    if (file < 0)
        throw failure(errno);
    ::close(file);
    ::unlinkat(state->challenges.fd, probe.constData(), 0);
}

ChallengeFolder::~ChallengeFolder() {
    state->removeAnswers();
    state->removeMadeFolders();
}

void ChallengeFolder::noteNewAnswers() {
    state->watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (state->watch < 0)
        return;
    // The folder held, through its descriptor's name in /proc, not the path that may lead
    // elsewhere by now.
    const QByteArray held = "/proc/self/fd/" + QByteArray::number(state->challenges.fd);
    if (::inotify_add_watch(state->watch, held.constData(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) <
        0) {
        ::close(state->watch);
        state->watch = -1;
    }
}
