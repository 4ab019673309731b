#pragma once

#include "RunCancel.h"
#include "uToolContext.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

// Every certificate that the user has, and when each one expires: the certificates recorded for
// renewal, and the certificate files and servers that the user asked to watch. The watch list
// is a private file ($XDG_CONFIG_HOME/certwright/watch), one entry a line: a file by its
// absolute path, or a server as HOST:PORT.
namespace ExpiryWatch {

// The most servers read at a time unless told otherwise, as the check does.
constexpr int kDefaultParallel = 8;

enum class Source { Record, File, Server };

struct Entry {
    Source source = Source::File;
    // Where the certificate is: the folder of a record's files, a file's path, or HOST:PORT.
    QString where;
    QString recordName; // the main name of a record, which renews it; empty for the others
    QStringList names;
    QDateTime notBefore;
    QDateTime expiry;
    QDateTime dueFrom; // when it is due for renewal; invalid when its expiry is unknown
    bool due = false;  // due for renewal by the rule of renew and check, or of unknown expiry
    bool expired = false;
    // The last renewal of a record; lastAttempt is invalid when none was tried.
    QDateTime lastAttempt;
    bool lastRenewed = false;
    QString lastReason;
    QString error; // why the certificate could not be read; empty when it was

    // Due, expired or unreadable: something that the user must see to.
    bool needsAttention() const { return due || expired || !error.isEmpty(); }
    // Whole days from now until it expires; negative once it has passed.
    qint64 daysLeft(const QDateTime& now) const;
    // How the last renewal went, in words; empty for an entry that is not recorded.
    QString lastRenewalText() const;
    // What the source is, in words: "renewal record", "file" or "server".
    QString sourceText() const;
    // One object with every field above, as `certwright expiry --json` prints it.
    QJsonObject toJson(const QDateTime& now) const;
    // The entry for people to read, a few lines.
    QString toText(const QDateTime& now) const;
};

// The watch list's path, for a look that makes nothing.
QString watchFilePath();

// The entries of the watch list, as stored. Throws PageError when it cannot be read.
QStringList watched();

// An entry as the watch list keeps it: a file that exists (or a path with a "/") made
// absolute from the current folder, else a server as HOST:PORT (port 443 unless one is named).
// Throws PageError when the text is neither.
QString watchedForm(const QString& typed, const QString& currentFolder);

// Adds a certificate file (it must be a readable regular file) or a server to the watch list,
// which is written whole, mode 0600, in a private folder. Returns the entry as kept. Throws
// PageError when it cannot be, or the entry is watched already.
QString add(const QString& typed, const QString& currentFolder);

// Takes a file or a server off the watch list. Returns the entry as it was kept. Throws
// PageError when the list does not hold it.
QString remove(const QString& typed, const QString& currentFolder);

// Every entry: the records first, then the watched files and servers in the list's order. The
// files and servers are read as the check reads them, up to parallel at a time, each server
// within the time limit. cancel ends the reading; then SilentAbort is thrown.
QVector<Entry> entries(const ToolContext& context, int timeoutMs, int parallel,
                       RunCancel* cancel = nullptr);

// Whether a comes before b in a list for the user: what needs attention first, then the
// sooner expiry.
bool comesFirst(const Entry& a, const Entry& b);

} // namespace ExpiryWatch
