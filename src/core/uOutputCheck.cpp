#include "uOutputCheck.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far larger than any key, request or certificate; a larger file is not one of them.
constexpr qint64 kLargestPemOutput = 1024 * 1024;
// A DER SEQUENCE's tag, and its first length byte for an indefinite length, which DER forbids.
constexpr unsigned char kSequenceTag = 0x30;
constexpr unsigned char kIndefiniteLength = 0x80;
// The longest length field read: four bytes hold any file size that this check meets.
constexpr int kLongestLengthField = 4;

QByteArrayList pemLabelsOf(OutputKind kind) {
    switch (kind) {
    case OutputKind::Key:
        return {"RSA PRIVATE KEY", "EC PRIVATE KEY", "PRIVATE KEY", "ENCRYPTED PRIVATE KEY"};
    case OutputKind::Request:
        return {"CERTIFICATE REQUEST", "NEW CERTIFICATE REQUEST"};
    case OutputKind::Certificate:
        return {"CERTIFICATE"};
    case OutputKind::Bundle:
        break;
    }
    return {};
}

// The beginning of the file, at most `limit` bytes, and its size; false when the path is not
// a regular file that can be read.
bool readBeginning(const QString& path, qint64 limit, QByteArray& beginning, qint64& size) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool read = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (read) {
        size = qint64(info.st_size);
        beginning.resize(qsizetype(std::min(size, limit)));
        qsizetype at = 0;
        while (at < beginning.size()) {
            const ssize_t count = ::read(fd, beginning.data() + at, size_t(beginning.size() - at));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            at += count;
        }
        beginning.truncate(at);
    }
    ::close(fd);
    return read;
}

QByteArray lineWithoutEnd(QByteArray line) {
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

bool holdsPemBlock(const QByteArray& text, const QByteArrayList& labels) {
    const QByteArrayList lines = text.split('\n');
    for (qsizetype begin = 0; begin < lines.size(); ++begin) {
        const QByteArray line = lineWithoutEnd(lines.at(begin));
        for (const QByteArray& label : labels) {
            if (line != "-----BEGIN " + label + "-----")
                continue;
            const QByteArray endLine = "-----END " + label + "-----";
            for (qsizetype end = begin + 2; end < lines.size(); ++end)
                if (lineWithoutEnd(lines.at(end)) == endLine)
                    return true;
        }
    }
    return false;
}

bool isOneDerSequence(const QByteArray& beginning, qint64 size) {
    if (beginning.size() < 2 || quint8(beginning.at(0)) != kSequenceTag)
        return false;
    const quint8 first = quint8(beginning.at(1));
    if (first < kIndefiniteLength)
        return 2 + qint64(first) == size;
    const int lengthBytes = first & ~kIndefiniteLength;
    if (lengthBytes == 0 || lengthBytes > kLongestLengthField || beginning.size() < 2 + lengthBytes)
        return false;
    qint64 length = 0;
    for (int i = 0; i < lengthBytes; ++i)
        length = (length << 8) | quint8(beginning.at(2 + i));
    return 2 + lengthBytes + length == size;
}

} // namespace

bool outputIsComplete(const QString& path, OutputKind kind) {
    QByteArray beginning;
    qint64 size = 0;
    if (kind == OutputKind::Bundle)
        return readBeginning(path, 2 + kLongestLengthField, beginning, size) &&
               isOneDerSequence(beginning, size);
    return readBeginning(path, kLargestPemOutput, beginning, size) && size <= kLargestPemOutput &&
           holdsPemBlock(beginning, pemLabelsOf(kind));
}
