#include "PortHolder.h"

#include "uCertwrightCommon.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QSet>

#include <algorithm>
#include <dirent.h>
#include <unistd.h>

namespace PortHolder {

namespace {

const QString kHolder = QStringLiteral("\"%1\" (process %2)");
const QString kUnnamedHolder = QStringLiteral("process %1");
const QString kSocketLink = QStringLiteral("socket:[%1]");
const QString kProcFolder = QStringLiteral("/proc/");
const QList<QString> kSocketTables = {QStringLiteral("/proc/net/tcp"),
                                      QStringLiteral("/proc/net/tcp6")};
// A line of the table: its number, local address:port, remote address:port, state, queues,
// timer, retransmits, uid, timeout, inode.
constexpr int kLocalColumn = 1;
constexpr int kStateColumn = 3;
constexpr int kInodeColumn = 9;
const QString kListenState = QStringLiteral("0A");
constexpr int kHexBase = 16;
// The tables and a process's name are small; a bound keeps a strange file from costing much.
constexpr qint64 kLargestTableBytes = 16 * 1024 * 1024;
constexpr qint64 kLargestNameBytes = 256;

// The whole of a small file of /proc, up to the largest size; empty when it cannot be read. Such
// a file tells no size and gives a page or so at each read.
QByteArray readProcFile(const QString& path, qint64 largest) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return QByteArray();
    QByteArray whole;
    while (whole.size() < largest) {
        const QByteArray piece = file.read(largest - whole.size());
        if (piece.isEmpty())
            break;
        whole += piece;
    }
    return whole;
}

// The inodes of the listening sockets on the port.
QSet<QString> listeningInodes(int port) {
    QSet<QString> inodes;
    for (const QString& table : kSocketTables) {
        const QList<QByteArray> lines = readProcFile(table, kLargestTableBytes).split('\n');
        for (const QByteArray& line : lines.mid(1)) {
            const QList<QByteArray> columns = line.simplified().split(' ');
            if (columns.size() <= kInodeColumn || columns.at(kStateColumn) != kListenState)
                continue;
            const QByteArray local = columns.at(kLocalColumn);
            bool isNumber = false;
            const int localPort = local.mid(local.lastIndexOf(':') + 1).toInt(&isNumber, kHexBase);
            const QString inode = QString::fromLatin1(columns.at(kInodeColumn));
            if (isNumber && localPort == port && inode != QLatin1String("0"))
                inodes.insert(kSocketLink.arg(inode));
        }
    }
    return inodes;
}

// The processes of this computer by id, lowest first.
QList<qint64> processIds() {
    QList<qint64> ids;
    for (const QString& entry : QDir(kProcFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 id = entry.toLongLong(&isNumber);
        if (isNumber)
            ids << id;
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool holdsOneOf(qint64 id, const QSet<QString>& sockets) {
    const QByteArray folder = QFile::encodeName(kProcFolder + QString::number(id) + "/fd");
    DIR* descriptors = ::opendir(folder.constData());
    if (!descriptors)
        return false;
    bool holds = false;
    while (const dirent* entry = ::readdir(descriptors)) {
        char target[64] = {};
        const ssize_t length =
            ::readlinkat(::dirfd(descriptors), entry->d_name, target, sizeof target - 1);
        if (length > 0 && sockets.contains(QString::fromLatin1(target, length))) {
            holds = true;
            break;
        }
    }
    ::closedir(descriptors);
    return holds;
}

} // namespace

QString describe(int port) {
    const QSet<QString> sockets = listeningInodes(port);
    if (sockets.isEmpty())
        return QString();
    for (const qint64 id : processIds()) {
        if (!holdsOneOf(id, sockets))
            continue;
        const QString name =
            printableText(QString::fromUtf8(readProcFile(kProcFolder + QString::number(id) +
                                                             QStringLiteral("/comm"),
                                                         kLargestNameBytes))
                              .trimmed());
        return name.isEmpty() ? kUnnamedHolder.arg(id) : kHolder.arg(name).arg(id);
    }
    return QString();
}

} // namespace PortHolder
