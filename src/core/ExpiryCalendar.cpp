#include "ExpiryCalendar.h"

#include "CertificateText.h"
#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace ExpiryCalendar {

namespace {

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");
// Lines longer than this many octets are folded onto continuation lines.
constexpr int kLongestLine = 75;
const QByteArray kHead = QByteArrayLiteral("BEGIN:VCALENDAR\r\n"
                                           "VERSION:2.0\r\n"
                                           "PRODID:-//Certwright//Certificate expiry//EN\r\n"
                                           "CALSCALE:GREGORIAN\r\n"
                                           "METHOD:PUBLISH\r\n");
const QByteArray kTail = QByteArrayLiteral("END:VCALENDAR\r\n");
const QString kDateFormat = QStringLiteral("yyyyMMdd");
const QString kStampFormat = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
const QString kUidDomain = QStringLiteral("@certwright");
const QString kRenewSummary = QStringLiteral("Renew the certificate of %1");
const QString kExpirySummary = QStringLiteral("The certificate of %1 expires");
const QString kRenewDescription =
    QStringLiteral("The certificate of %1 (%2, %3) is due for renewal from %4; it expires on %5.");
const QString kExpiryDescription = QStringLiteral("The certificate of %1 (%2, %3) expires on %4.");
const QString kNamesSeparator = QStringLiteral(", ");
const QString kRenewKind = QStringLiteral("renew");
const QString kExpiryKind = QStringLiteral("expiry");

const QString kExistsMessage =
    QStringLiteral("The calendar is not written: the file \"%1\" appeared meanwhile.");
const QString kUnwritableMessage = QStringLiteral("The calendar \"%1\" cannot be written: %2.");

// A text value with its backslashes, semicolons, commas and line ends escaped.
QString escaped(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char(';'), QLatin1String("\\;"))
        .replace(QLatin1Char(','), QLatin1String("\\,"))
        .replace(QLatin1String("\r\n"), QLatin1String("\\n"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\r'), QLatin1String("\\n"));
    // Other control characters have no place in a text value.
    QString kept;
    for (const QChar c : text)
        if (c.category() != QChar::Other_Control)
            kept += c;
    return kept;
}

// The content line, folded: no line is longer than kLongestLine octets, a continuation begins
// with a space, and no character is split.
QByteArray line(const QString& name, const QString& value) {
    const QByteArray whole = (name + QLatin1Char(':') + value).toUtf8();
    QByteArray folded;
    int length = 0;
    for (qsizetype at = 0; at < whole.size();) {
        qsizetype size = 1;
        while (at + size < whole.size() && (uchar(whole[at + size]) & 0xC0) == 0x80)
            ++size;
        if (length + size > kLongestLine) {
            folded += kLineEnd + ' ';
            length = 1;
        }
        folded += whole.mid(at, size);
        length += int(size);
        at += size;
    }
    return folded + kLineEnd;
}

QByteArray event(const ExpiryWatch::Entry& entry, const QString& kind, const QDateTime& day,
                 const QString& summary, const QString& description, const QDateTime& stamp) {
    const QString id = QString::fromLatin1(
        QCryptographicHash::hash((kind + QLatin1Char('\n') + entry.where + QLatin1Char('\n') +
                                  entry.names.join(QLatin1Char(',')) + QLatin1Char('\n') +
                                  entry.expiry.toUTC().toString(Qt::ISODate))
                                     .toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(32));
    const QDate date = day.toUTC().date();
    return QByteArrayLiteral("BEGIN:VEVENT\r\n") + line(QStringLiteral("UID"), id + kUidDomain) +
           line(QStringLiteral("DTSTAMP"), stamp.toUTC().toString(kStampFormat)) +
           line(QStringLiteral("DTSTART;VALUE=DATE"), date.toString(kDateFormat)) +
           line(QStringLiteral("DTEND;VALUE=DATE"), date.addDays(1).toString(kDateFormat)) +
           line(QStringLiteral("SUMMARY"), escaped(summary)) +
           line(QStringLiteral("DESCRIPTION"), escaped(description)) +
           line(QStringLiteral("TRANSP"), QStringLiteral("TRANSPARENT")) +
           QByteArrayLiteral("END:VEVENT\r\n");
}

} // namespace

QByteArray calendar(const QVector<ExpiryWatch::Entry>& entries, const QDateTime& stamp) {
    QByteArray text = kHead;
    for (const ExpiryWatch::Entry& entry : entries) {
        if (!entry.error.isEmpty() || !entry.expiry.isValid())
            continue;
        const QString names = entry.names.join(kNamesSeparator);
        const QString expires = CertificateText::shortDateText(entry.expiry);
        if (entry.dueFrom.isValid())
            text +=
                event(entry, kRenewKind, entry.dueFrom, kRenewSummary.arg(names),
                      kRenewDescription.arg(names, entry.where, entry.sourceText(),
                                            CertificateText::shortDateText(entry.dueFrom), expires),
                      stamp);
        text +=
            event(entry, kExpiryKind, entry.expiry, kExpirySummary.arg(names),
                  kExpiryDescription.arg(names, entry.where, entry.sourceText(), expires), stamp);
    }
    return text + kTail;
}

void writeCalendar(const QVector<ExpiryWatch::Entry>& entries, const QString& file,
                   bool mayReplace) {
    const QByteArray content = calendar(entries, QDateTime::currentDateTimeUtc());
    const int error = mayReplace ? replaceFileWhole(file, content) : placeFileWhole(file, content);
    if (error == EEXIST && !mayReplace)
        throw PageError(kExistsMessage.arg(file));
    if (error != 0)
        throw PageError(kUnwritableMessage.arg(file, QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace ExpiryCalendar
