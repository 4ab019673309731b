#include "ExpiryWatch.h"

#include "CertificateText.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uExportFolder.h"
#include "uFreshFile.h"
#include "uRenewal.h"
#include "uToolSteps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace ExpiryWatch {

namespace {

const QString kFolderName = QStringLiteral("certwright/");
const QString kWatchFileName = QStringLiteral("watch");
constexpr mode_t kPrivateFolderMode = 0700;

const QString kFolderMessage = QStringLiteral("The folder \"%1\" cannot be made: %2.");
const QString kSharedFolderMessage = QStringLiteral(
    "The folder \"%1\" cannot hold the list of watched certificates: %2. Other users could "
    "change what it lists. Please let only yourself change it and the folders above it, or set "
    "XDG_CONFIG_HOME to a folder that only you can change.");
const QString kUnwritableMessage =
    QStringLiteral("The list of watched certificates \"%1\" cannot be written: %2.");
const QString kNotEntryMessage = QStringLiteral(
    "\"%1\" is neither a certificate file nor a server (HOST[:PORT] or https://HOST[:PORT]/).");
const QString kAlreadyWatchedMessage = QStringLiteral("\"%1\" is watched already.");
const QString kNotWatchedMessage = QStringLiteral("\"%1\" is not on the list of watched "
                                                  "certificates (%2).");
const QString kRecordsUnreadable = QStringLiteral("The renewal records cannot be read: %1");
const QString kEndedMessage = QStringLiteral("The reading was ended.");
const QString kNoExpiry = QStringLiteral("The certificate's expiry is not known.");

const QString kRecordSource = QStringLiteral("renewal record");
const QString kFileSource = QStringLiteral("file");
const QString kServerSource = QStringLiteral("server");
const QString kSourceKinds[] = {QStringLiteral("record"), QStringLiteral("file"),
                                QStringLiteral("server")};

const QString kHeadingLine = QStringLiteral("%1\n  where: %2 (%3)\n");
const QString kErrorLine = QStringLiteral("  error: %1\n");
const QString kExpiresLine = QStringLiteral("  expires: %1 (%2 days left)\n");
const QString kExpiredLine = QStringLiteral("  expires: %1 (expired %2 days ago)\n");
const QString kUnknownExpiryLine = QStringLiteral("  expires: unknown\n");
const QString kDueNowLine = QStringLiteral("  due: now (since %1)\n");
const QString kDueUnknownLine = QStringLiteral("  due: now (its expiry is unknown)\n");
const QString kDueLaterLine = QStringLiteral("  due: %1\n");
const QString kLastRenewalLine = QStringLiteral("  last renewal: %1\n");
const QString kNoAttempt = QStringLiteral("none yet");
const QString kRenewed = QStringLiteral("%1, renewed");
const QString kRenewedBut = QStringLiteral("%1, renewed, but %2");
const QString kFailed = QStringLiteral("%1, failed: %2");
const QString kNamesSeparator = QStringLiteral(", ");
const QString kPathMark = QStringLiteral("/");
const QString kSchemeMark = QStringLiteral("://");
constexpr int kHttpsPort = 443;

QString timeText(const QDateTime& time) {
    return CertificateText::shortDateText(time);
}

QString isoText(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QString configFolderPath() {
    return withTrailingSeparator(
               QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) +
           kFolderName;
}

// The folder of the watch list, made private (0700) when it is new, and refused when anyone
// but the user and root can change it or a folder above it.
QString privateFolder() {
    const QString folder = configFolderPath();
    QDir().mkpath(QFileInfo(QDir::cleanPath(folder)).path());
    if (::mkdir(QFile::encodeName(folder).constData(), kPrivateFolderMode) != 0 && errno != EEXIST)
        throw PageError(kFolderMessage.arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    return requirePrivateFolder(folder, QString(), kSharedFolderMessage).path();
}

void writeList(const QStringList& entries) {
    const QString path = withTrailingSeparator(privateFolder()) + kWatchFileName;
    QByteArray content;
    for (const QString& entry : entries)
        content += entry.toUtf8() + '\n';
    if (const int error = replaceFileWhole(path, content); error != 0)
        throw PageError(kUnwritableMessage.arg(path, QString::fromLocal8Bit(std::strerror(error))));
}

// The forms in which the typed text may stand on the list: as a file and as a server.
QStringList possibleForms(const QString& typed, const QString& currentFolder) {
    QStringList forms;
    const QString trimmed = typed.trimmed();
    if (!trimmed.contains(kSchemeMark))
        forms << QDir::cleanPath(ToolSteps::pathForTool(trimmed, currentFolder));
    if (const auto address = CertificateCheck::serverAddress(trimmed, kHttpsPort))
        forms << address->text();
    return forms;
}

void noteDue(Entry& entry, const QDateTime& now) {
    entry.expired = entry.expiry.isValid() && entry.expiry <= now;
    entry.dueFrom = entry.expiry.isValid()
                        ? CertificateCheck::soonFrom(entry.notBefore, entry.expiry)
                        : QDateTime();
    entry.due = !entry.expiry.isValid() ||
                CertificateCheck::expiresSoon(entry.notBefore, entry.expiry, now);
}

QVector<Entry> recordEntries(const QDateTime& now) {
    QVector<Entry> found;
    // No record was ever written while the folder does not exist.
    if (!QFileInfo::exists(Renewal::recordFolderPath()))
        return found;
    QStringList problems;
    QVector<Renewal::Record> records;
    try {
        records = Renewal::records(&problems);
    } catch (const PageError& error) {
        problems << kRecordsUnreadable.arg(withFullStop(error.message()));
    }
    for (const Renewal::Record& record : records) {
        Entry entry;
        entry.source = Source::Record;
        entry.where = record.values.outFolder;
        entry.recordName = record.name;
        entry.names = record.values.names;
        entry.notBefore = record.notBefore;
        entry.expiry = record.expiry;
        entry.lastAttempt = record.lastAttempt;
        entry.lastRenewed = record.lastRenewed;
        entry.lastReason = record.lastReason;
        noteDue(entry, now);
        // The renewal's own rule and due point decide for a record.
        entry.due = Renewal::isDue(record, -1, now);
        entry.dueFrom = Renewal::duePoint(record);
        found << entry;
    }
    for (const QString& problem : problems) {
        Entry entry;
        entry.source = Source::Record;
        entry.where = Renewal::recordFolderPath();
        entry.error = problem;
        found << entry;
    }
    return found;
}

// Reads the certificate of a watched file or server as the check does, into the entry.
void readEntry(Entry& entry, const ToolContext& context, int timeoutMs, RunCancel* cancel) {
    CertificateCheck::CheckInput input;
    input.timeoutMs = timeoutMs;
    input.cancel = cancel;
    if (entry.source == Source::File) {
        input.certificateFile = entry.where;
    } else {
        const auto address = CertificateCheck::serverAddress(entry.where, kHttpsPort);
        if (!address)
            throw PageError(kNotEntryMessage.arg(entry.where));
        input.host = address->host;
        input.port = address->port;
    }
    const CertificateCheck::CheckReport report = CertificateCheck::checkCertificate(input, context);
    // The names come from outside: they are shown as plain text, whatever they hold.
    for (const QString& name : report.names.isEmpty() ? QStringList{report.subject} : report.names)
        entry.names << printableText(name);
    entry.notBefore = report.notBefore;
    entry.expiry = report.notAfter;
    if (!entry.expiry.isValid())
        throw PageError(kNoExpiry);
}

} // namespace

qint64 Entry::daysLeft(const QDateTime& now) const {
    return expiry.isValid() ? CertificateText::wholeDaysLeft(expiry, now) : 0;
}

QString Entry::lastRenewalText() const {
    if (source != Source::Record || !error.isEmpty())
        return QString();
    if (!lastAttempt.isValid())
        return kNoAttempt;
    const QString when = timeText(lastAttempt);
    const QString reason = printableText(lastReason);
    if (!lastRenewed)
        return kFailed.arg(when, reason);
    return reason.isEmpty() ? kRenewed.arg(when) : kRenewedBut.arg(when, reason);
}

QString Entry::sourceText() const {
    return source == Source::Record ? kRecordSource
           : source == Source::File ? kFileSource
                                    : kServerSource;
}

QJsonObject Entry::toJson(const QDateTime& now) const {
    QJsonObject json;
    json.insert(QStringLiteral("source"), kSourceKinds[int(source)]);
    json.insert(QStringLiteral("where"), where);
    if (!error.isEmpty()) {
        json.insert(QStringLiteral("error"), error);
        return json;
    }
    if (source == Source::Record)
        json.insert(QStringLiteral("record"), recordName);
    json.insert(QStringLiteral("names"), QJsonArray::fromStringList(names));
    json.insert(QStringLiteral("notBefore"), isoText(notBefore));
    json.insert(QStringLiteral("notAfter"), isoText(expiry));
    if (expiry.isValid())
        json.insert(QStringLiteral("daysLeft"), daysLeft(now));
    json.insert(QStringLiteral("dueFrom"), isoText(dueFrom));
    json.insert(QStringLiteral("due"), due);
    json.insert(QStringLiteral("expired"), expired);
    if (source == Source::Record) {
        QJsonObject last;
        last.insert(QStringLiteral("time"), isoText(lastAttempt));
        if (lastAttempt.isValid()) {
            last.insert(QStringLiteral("renewed"), lastRenewed);
            last.insert(QStringLiteral("reason"), lastReason);
        }
        json.insert(QStringLiteral("lastRenewal"), last);
    }
    return json;
}

QString Entry::toText(const QDateTime& now) const {
    QString text = kHeadingLine.arg(names.isEmpty() ? where : names.join(kNamesSeparator), where,
                                    sourceText());
    if (!error.isEmpty())
        return text + kErrorLine.arg(error);
    const qint64 days = daysLeft(now);
    text += !expiry.isValid() ? kUnknownExpiryLine
            : expired         ? kExpiredLine.arg(timeText(expiry)).arg(-days)
                              : kExpiresLine.arg(timeText(expiry)).arg(days);
    text += !dueFrom.isValid() ? kDueUnknownLine
            : due              ? kDueNowLine.arg(timeText(dueFrom))
                               : kDueLaterLine.arg(timeText(dueFrom));
    if (source == Source::Record)
        text += kLastRenewalLine.arg(lastRenewalText());
    return text;
}

QString watchFilePath() {
    return configFolderPath() + kWatchFileName;
}

QStringList watched() {
    const QString path = watchFilePath();
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return {};
    // Only a list in a folder that no one else can change is believed.
    privateFolder();
    const QString text = QString::fromUtf8(CertificateCheck::readRegularFile(path, ToolContext{}));
    QStringList entries;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString entry = line.trimmed();
        if (!entry.isEmpty() && !entries.contains(entry))
            entries << entry;
    }
    return entries;
}

QString watchedForm(const QString& typed, const QString& currentFolder) {
    const QString trimmed = typed.trimmed();
    // The list holds one entry a line.
    if (std::any_of(trimmed.begin(), trimmed.end(),
                    [](QChar c) { return c.category() == QChar::Other_Control; }))
        throw PageError(kNotEntryMessage.arg(printableText(trimmed)));
    if (!trimmed.isEmpty() && !trimmed.contains(kSchemeMark)) {
        // A file is what exists as one, or what is typed as a path.
        const QString file = QDir::cleanPath(ToolSteps::pathForTool(trimmed, currentFolder));
        if (trimmed.contains(kPathMark) || QFileInfo::exists(file))
            return file;
    }
    if (const auto address = CertificateCheck::serverAddress(trimmed, kHttpsPort);
        address && !trimmed.isEmpty())
        return address->text();
    throw PageError(kNotEntryMessage.arg(trimmed));
}

QString add(const QString& typed, const QString& currentFolder) {
    const QString entry = watchedForm(typed, currentFolder);
    if (entry.startsWith(kPathMark))
        CertificateCheck::readRegularFile(entry, ToolContext{});
    QStringList entries = watched();
    if (entries.contains(entry))
        throw PageError(kAlreadyWatchedMessage.arg(entry));
    writeList(entries << entry);
    return entry;
}

QString remove(const QString& typed, const QString& currentFolder) {
    QStringList entries = watched();
    for (const QString& form : possibleForms(typed, currentFolder))
        if (entries.removeOne(form)) {
            writeList(entries);
            return form;
        }
    throw PageError(kNotWatchedMessage.arg(typed.trimmed(), watchFilePath()));
}

QVector<Entry> entries(const ToolContext& context, int timeoutMs, int parallel, RunCancel* cancel) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVector<Entry> all = recordEntries(now);
    QVector<Entry> read;
    for (const QString& kept : watched()) {
        Entry entry;
        entry.source = kept.startsWith(kPathMark) ? Source::File : Source::Server;
        entry.where = kept;
        read << entry;
    }
    // Each reading has a cancel of its own, since one ends one run; the caller's ends them all.
    std::vector<std::unique_ptr<RunCancel>> cancels;
    for (qsizetype at = 0; at < read.size(); ++at)
        cancels.push_back(std::make_unique<RunCancel>());
    if (cancel)
        cancel->attachEnder([&cancels] {
            for (const std::unique_ptr<RunCancel>& one : cancels)
                one->cancel();
        });
    const auto detach = qScopeGuard([cancel] {
        if (cancel)
            cancel->attachEnder({});
    });
    if (cancel && cancel->cancelled())
        throw SilentAbort();
    QThreadPool pool;
    pool.setMaxThreadCount(std::max(1, parallel));
    for (qsizetype at = 0; at < read.size(); ++at)
        pool.start([&read, &cancels, &context, timeoutMs, at] {
            Entry& entry = read[at];
            try {
                readEntry(entry, context, timeoutMs, cancels[at].get());
            } catch (const PageError& error) {
                entry.error = withFullStop(error.message());
            } catch (const SilentAbort&) {
                entry.error = kEndedMessage;
            }
        });
    pool.waitForDone();
    if (cancel && cancel->cancelled())
        throw SilentAbort();
    for (Entry& entry : read) {
        if (entry.error.isEmpty())
            noteDue(entry, now);
        all << entry;
    }
    return all;
}

bool comesFirst(const Entry& a, const Entry& b) {
    if (a.needsAttention() != b.needsAttention())
        return a.needsAttention();
    if (a.expiry.isValid() != b.expiry.isValid())
        return !a.expiry.isValid();
    return a.expiry < b.expiry;
}

} // namespace ExpiryWatch
