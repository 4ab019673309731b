#include "JournalLine.h"

#include <QByteArray>
#include <QList>

#include <sys/stat.h>
#include <unistd.h>

namespace JournalLine {

namespace {

const QString kErrorPriority = QStringLiteral("<3>");
constexpr char kJournalStreamVariable[] = "JOURNAL_STREAM";

// Whether standard error is the stream that JOURNAL_STREAM ("device:inode") names.
bool stderrIsJournal() {
    const QList<QByteArray> named = qgetenv(kJournalStreamVariable).split(':');
    struct stat status {};
    if (named.size() != 2 || ::fstat(STDERR_FILENO, &status) != 0)
        return false;
    bool deviceIsNumber = false;
    bool inodeIsNumber = false;
    const qulonglong device = named.first().toULongLong(&deviceIsNumber);
    const qulonglong inode = named.last().toULongLong(&inodeIsNumber);
    return deviceIsNumber && inodeIsNumber && device == status.st_dev && inode == status.st_ino;
}

} // namespace

QString error(const QString& text) {
    QString line;
    for (const QChar c : text.trimmed())
        line += c.category() == QChar::Other_Control ? QChar(u' ') : c;
    return (stderrIsJournal() ? kErrorPriority : QString()) + line.simplified() + QLatin1Char('\n');
}

} // namespace JournalLine
