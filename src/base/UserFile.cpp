#include "UserFile.h"

#include "uFreshFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace UserFile {

QString Failure::systemReason() const {
    return QString::fromLocal8Bit(std::strerror(error));
}

int open(const QString& path, const Limits& limits, Failure* failure) {
    const int flags =
        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (limits.followLinks ? 0 : O_NOFOLLOW);
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        *failure = errno == ELOOP && !limits.followLinks ? Failure{Refusal::NotRegular, ELOOP}
                                                         : Failure{Refusal::System, errno};
        return -1;
    }
    struct stat status {};
    Failure refused;
    if (::fstat(fd, &status) != 0)
        refused = {Refusal::System, errno};
    else if (!S_ISREG(status.st_mode))
        refused = {Refusal::NotRegular, 0};
    else if (limits.ownedByUser && status.st_uid != ::geteuid())
        refused = {Refusal::NotOwned, 0};
    else if (limits.largestBytes > 0 && status.st_size > limits.largestBytes)
        refused = {Refusal::TooLarge, 0};
    else
        return fd;
    ::close(fd);
    *failure = refused;
    return -1;
}

std::optional<QByteArray> read(const QString& path, const Limits& limits, Failure* failure) {
    const Descriptor file(open(path, limits, failure));
    if (file.fd < 0)
        return std::nullopt;
    QFile reader;
    if (!reader.open(file.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        *failure = {Refusal::System, EIO};
        return std::nullopt;
    }
    QByteArray content =
        limits.largestBytes > 0 ? reader.read(limits.largestBytes + 1) : reader.readAll();
    if (reader.error() != QFileDevice::NoError) {
        *failure = {Refusal::System, EIO};
        return std::nullopt;
    }
    if (limits.largestBytes > 0 && content.size() > limits.largestBytes) {
        *failure = {Refusal::TooLarge, 0};
        return std::nullopt;
    }
    return content;
}

} // namespace UserFile
