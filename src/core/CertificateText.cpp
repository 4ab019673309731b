#include "CertificateText.h"

#include <algorithm>

namespace CertificateText {

namespace {

// The order in which people expect the attributes of a name.
const QList<QByteArray> kNameOrder = {"CN", "O", "OU", "L", "ST", "C"};
const QString kDateFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'");
const QString kShortDateFormat = QStringLiteral("yyyy-MM-dd hh:mm 'UTC'");

} // namespace

QString nameText(const QSslCertificate& certificate, Name which) {
    const bool issuer = which == Name::Issuer;
    QList<QByteArray> attributes =
        issuer ? certificate.issuerInfoAttributes() : certificate.subjectInfoAttributes();
    const auto rank = [](const QByteArray& attribute) {
        const qsizetype at = kNameOrder.indexOf(attribute);
        return at < 0 ? kNameOrder.size() : at;
    };
    std::stable_sort(
        attributes.begin(), attributes.end(),
        [&rank](const QByteArray& a, const QByteArray& b) { return rank(a) < rank(b); });
    QStringList parts;
    for (const QByteArray& attribute : attributes) {
        const QStringList values =
            issuer ? certificate.issuerInfo(attribute) : certificate.subjectInfo(attribute);
        for (const QString& value : values)
            parts << QString::fromLatin1(attribute) + QLatin1Char('=') + value;
    }
    return parts.join(QStringLiteral(", "));
}

QList<std::pair<QSsl::AlternativeNameEntryType, QString>>
alternativeNameEntries(const QSslCertificate& certificate) {
    QList<std::pair<QSsl::AlternativeNameEntryType, QString>> entries;
    const auto all = certificate.subjectAlternativeNames();
    for (const QSsl::AlternativeNameEntryType type :
         {QSsl::DnsEntry, QSsl::IpAddressEntry, QSsl::EmailEntry}) {
        // The map gives the values of one kind from the last inserted to the first.
        QStringList values = all.values(type);
        std::reverse(values.begin(), values.end());
        for (const QString& value : values)
            entries.append({type, value});
    }
    return entries;
}

QStringList alternativeNames(const QSslCertificate& certificate) {
    QStringList names;
    for (const auto& [type, value] : alternativeNameEntries(certificate))
        if (type != QSsl::EmailEntry)
            names << value;
    return names;
}

QString dateText(const QDateTime& date) {
    return date.toUTC().toString(kDateFormat);
}

QString shortDateText(const QDateTime& date) {
    return date.toUTC().toString(kShortDateFormat);
}

qint64 wholeDaysLeft(const QDateTime& date, const QDateTime& now) {
    constexpr qint64 kSecondsADay = 24 * 60 * 60;
    return now.secsTo(date) / kSecondsADay;
}

} // namespace CertificateText
