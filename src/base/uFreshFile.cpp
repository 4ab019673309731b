#include "uFreshFile.h"

#include "uCertwrightCommon.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kScratchFolderMessage =
    QStringLiteral("No private folder for the tool's files can be made: %1");
const QString kScratchWriteMessage = QStringLiteral("The file \"%1\" cannot be written: %2");

int writeAll(int fd, const char* bytes, std::size_t size) noexcept {
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written > 0) {
            bytes += written;
            size -= std::size_t(written);
        } else if (written == 0 || errno != EINTR) {
            return written == 0 ? EIO : errno;
        }
    }
    return 0;
}

} // namespace

int writeFreshFileAt(int folderFd, const char* name, const char* bytes, std::size_t size) noexcept {
    if (::unlinkat(folderFd, name, 0) != 0 && errno != ENOENT)
        return errno;
    const int fd = ::openat(folderFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            kFreshFileMode);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, bytes, size);
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

int replaceFileWhole(const QString& path, const QByteArray& content) {
    const QFileInfo target(path);
    const QByteArray fresh = QFile::encodeName(
        target.path() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".new-") +
        QString::number(QRandomGenerator::system()->generate64(), 16));
    const int fd = ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          kFreshFileMode);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, content.constData(), std::size_t(content.size()));
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(fresh.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(fresh.constData());
    return error;
}

ScratchFolder::ScratchFolder() {
    if (!folder.isValid())
        throw PageError(kScratchFolderMessage.arg(folder.errorString()));
}

void ScratchFolder::write(const QString& name, const QByteArray& content) const {
    if (const int error = writeFreshFile(file(name), content); error != 0)
        throw PageError(
            kScratchWriteMessage.arg(file(name), QString::fromLocal8Bit(std::strerror(error))));
}
