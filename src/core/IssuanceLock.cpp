#include "IssuanceLock.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLockFileName = QStringLiteral("issuance.lock");
const QString kLockFailedMessage =
    QStringLiteral("The lock \"%1\" of this program's certificates cannot be taken: %2.");
const QString kStillBusyMessage = QStringLiteral(
    "Another run of this program was still obtaining a certificate after %1 minutes, so this "
    "one did not start. Please try again when it has ended.");
constexpr int kRetryMs = 100;
constexpr int kMsPerMinute = 60 * 1000;

} // namespace

IssuanceLock::IssuanceLock(const QString& stateFolder, int timeLimitMs,
                           const std::function<void()>& waiting,
                           const std::function<bool()>& stop) {
    const QString path = stateFolder + kLockFileName;
    fd = ::open(QFile::encodeName(path).constData(),
                O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kFreshFileMode);
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        fd = -1;
        errno = EINVAL;
    }
    if (fd < 0)
        throw PageError(kLockFailedMessage.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    QElapsedTimer waited;
    waited.start();
    bool told = false;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ::close(fd);
            throw PageError(
                kLockFailedMessage.arg(path, QString::fromLocal8Bit(std::strerror(error))));
        }
        if (!told && waiting)
            waiting();
        told = true;
        if (stop && stop()) {
            ::close(fd);
            throw SilentAbort();
        }
        if (waited.elapsed() > timeLimitMs) {
            ::close(fd);
            throw PageError(kStillBusyMessage.arg(timeLimitMs / kMsPerMinute));
        }
        QThread::msleep(kRetryMs);
    }
}

IssuanceLock::~IssuanceLock() {
    ::close(fd);
}
