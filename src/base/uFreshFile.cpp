#include "uFreshFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int writeFreshFileAt(int folderFd, const char* name, const char* bytes, std::size_t size) noexcept {
    if (::unlinkat(folderFd, name, 0) != 0 && errno != ENOENT)
        return errno;
    const int fd = ::openat(folderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            kFreshFileMode);
    if (fd < 0)
        return errno;
    int error = 0;
    while (size > 0 && error == 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written > 0) {
            bytes += written;
            size -= std::size_t(written);
        } else if (written == 0 || errno != EINTR) {
            error = written == 0 ? EIO : errno;
        }
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlinkat(folderFd, name, 0);
    return error;
}

int writeFreshFile(const QString& path, const QByteArray& content) {
    return writeFreshFileAt(AT_FDCWD, QFile::encodeName(path).constData(), content.constData(),
                            std::size_t(content.size()));
}
