#include "uPassPhraseFiles.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kFileErrorMessage = QStringLiteral("Cannot create file \"%1\". %2");
const QString kReadErrorMessage = QStringLiteral("Cannot read file \"%1\". %2");
const QString kNotARegularFile = QStringLiteral("It is not a regular file");

// Far more than any pass-phrase file the dialog writes.
constexpr qsizetype kReadLimit = 64 * 1024;

// The tool refuses an empty pass-phrase file, but reads a lone line end as the empty pass
// phrase; any other pass phrase is stored exactly as typed.
const QByteArray kEmptyPassPhraseContent = QByteArrayLiteral("\n");

PageError fileError(const QString& message, const QString& fileName, const QString& reason) {
    return PageError(message.arg(PassPhraseFolder() + fileName, reason));
}

PageError fileError(const QString& message, const QString& fileName, int error) {
    return fileError(message, fileName, QString::fromLocal8Bit(std::strerror(error)));
}

void writePassPhraseBytes(const QString& fileName, const QByteArray& content) {
    const QString refusal = PassPhraseFolderRefusal();
    if (!refusal.isEmpty())
        throw PageError(refusal);
    const Descriptor folder(openPassPhraseFolder());
    if (folder.fd < 0)
        throw fileError(kFileErrorMessage, fileName, errno);
    const int error = writeFreshFileAt(folder.fd, QFile::encodeName(fileName).constData(),
                                       content.constData(), size_t(content.size()));
    if (error != 0)
        throw fileError(kFileErrorMessage, fileName, error);
}

// The content of a pass-phrase file that is a regular file; a link is not followed, and a
// FIFO or device neither blocks nor is read.
QByteArray readPassPhraseBytes(const QString& fileName) {
    const Descriptor folder(openPassPhraseFolder());
    if (folder.fd < 0)
        throw fileError(kReadErrorMessage, fileName, errno);
    const Descriptor file(::openat(folder.fd, QFile::encodeName(fileName).constData(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
        throw errno == ELOOP ? fileError(kReadErrorMessage, fileName, kNotARegularFile)
                             : fileError(kReadErrorMessage, fileName, errno);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        throw fileError(kReadErrorMessage, fileName, errno);
    if (!S_ISREG(info.st_mode) || info.st_size > kReadLimit)
        throw fileError(kReadErrorMessage, fileName, kNotARegularFile);
    QByteArray content(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t got = ::read(file.fd, content.data() + done, size_t(content.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw fileError(kReadErrorMessage, fileName, errno);
        if (got == 0)
            break;
        done += got;
    }
    content.truncate(done);
    return content;
}
} // namespace

void writePassPhraseFile(const QString& fileName, const QString& passPhrase) {
    writePassPhraseBytes(fileName,
                         passPhrase.isEmpty() ? kEmptyPassPhraseContent : passPhrase.toUtf8());
}

void emptyPassPhraseFiles() {
    if (!PassPhraseFolderRefusal().isEmpty())
        return;
    // One file that cannot be emptied must not leave the other's pass phrase on disk as well,
    // so both are tried; the first failure is the one reported.
    std::optional<PageError> failure;
    for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile}) {
        try {
            writePassPhraseBytes(name, QByteArray());
        } catch (const PageError& error) {
            if (!failure)
                failure = error;
        }
    }
    if (failure)
        throw *failure;
}

void copyNewPassPhraseOverCurrent() {
    writePassPhraseBytes(kCurrentPassPhraseFile, readPassPhraseBytes(kNewPassPhraseFile));
}
