#include "uPassPhraseFiles.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QByteArray>
#include <QDir>
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

PageError fileError(const QString& message, const QString& path, const QString& reason) {
    return PageError(message.arg(path, reason));
}

PageError fileError(const QString& message, const QString& path, int error) {
    return fileError(message, path, QString::fromLocal8Bit(std::strerror(error)));
}

// The folder chosen at start-up is the very folder that was checked and locked, whatever its
// name leads to now; any other folder (a test's) is opened by its name, not through a link.
int openFolder(const QString& folder) {
    if (folder == PassPhraseFolder())
        return openPassPhraseFolder();
    return ::open(QFile::encodeName(QDir::cleanPath(folder)).constData(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

QString refusalOf(const QString& folder) {
    return folder == PassPhraseFolder() ? PassPhraseFolderRefusal() : QString();
}

void writePassPhraseBytes(const QString& folderPath, const QString& fileName,
                          const QByteArray& content) {
    const QString refusal = refusalOf(folderPath);
    if (!refusal.isEmpty())
        throw PageError(refusal);
    const QString path = folderPath + fileName;
    const Descriptor folder(openFolder(folderPath));
    if (folder.fd < 0)
        throw fileError(kFileErrorMessage, path, errno);
    const int error = writeFreshFileAt(folder.fd, QFile::encodeName(fileName).constData(),
                                       content.constData(), size_t(content.size()));
    if (error != 0)
        throw fileError(kFileErrorMessage, path, error);
}

// The content of a pass-phrase file that is a regular file; a link is not followed, and a
// FIFO or device neither blocks nor is read.
QByteArray readPassPhraseBytes(const QString& folderPath, const QString& fileName) {
    const QString path = folderPath + fileName;
    const Descriptor folder(openFolder(folderPath));
    if (folder.fd < 0)
        throw fileError(kReadErrorMessage, path, errno);
    const Descriptor file(::openat(folder.fd, QFile::encodeName(fileName).constData(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
        throw errno == ELOOP ? fileError(kReadErrorMessage, path, kNotARegularFile)
                             : fileError(kReadErrorMessage, path, errno);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        throw fileError(kReadErrorMessage, path, errno);
    if (!S_ISREG(info.st_mode) || info.st_size > kReadLimit)
        throw fileError(kReadErrorMessage, path, kNotARegularFile);
    QByteArray content(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t got = ::read(file.fd, content.data() + done, size_t(content.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw fileError(kReadErrorMessage, path, errno);
        if (got == 0)
            break;
        done += got;
    }
    content.truncate(done);
    return content;
}

QByteArray contentOf(const QString& passPhrase) {
    return passPhrase.isEmpty() ? kEmptyPassPhraseContent : passPhrase.toUtf8();
}
} // namespace

void writePassPhrases(const QString& folder, const PassPhrases& phrases) {
    writePassPhraseBytes(folder, kCurrentPassPhraseFile, contentOf(phrases.current));
    writePassPhraseBytes(folder, kNewPassPhraseFile, contentOf(phrases.fresh));
}

void emptyPassPhraseFiles(const QString& folder) {
    if (!refusalOf(folder).isEmpty())
        return;
    // One file that cannot be emptied must not leave the other's pass phrase on disk as well,
    // so both are tried; the first failure is the one reported.
    std::optional<PageError> failure;
    for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile}) {
        try {
            writePassPhraseBytes(folder, name, QByteArray());
        } catch (const PageError& error) {
            if (!failure)
                failure = error;
        }
    }
    if (failure)
        throw *failure;
}

void emptyPassPhraseFiles() {
    emptyPassPhraseFiles(PassPhraseFolder());
}

void copyNewPassPhraseOverCurrent(const QString& folder) {
    writePassPhraseBytes(folder, kCurrentPassPhraseFile,
                         readPassPhraseBytes(folder, kNewPassPhraseFile));
}
