#pragma once

#include <QDateTime>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <utility>

// A certificate put into words for people: its names, its alternative names and its dates, the
// same in the windows, the check's report and the command line.
namespace CertificateText {

enum class Name { Subject, Issuer };

// The subject's or the issuer's name, "CN=www.example.org, O=Acme, L=Springfield, C=US": the
// common name first, then the organisation, its unit, the place and the country, then any
// other attribute.
QString nameText(const QSslCertificate& certificate, Name which);

// The alternative names of the certificate with their kinds: the host names, then the
// addresses, then the e-mail addresses, each kind in the certificate's order.
QList<std::pair<QSsl::AlternativeNameEntryType, QString>>
alternativeNameEntries(const QSslCertificate& certificate);
// The host names, then the addresses, in the certificate's order ("www.example.com",
// "192.0.2.1").
QStringList alternativeNames(const QSslCertificate& certificate);

// A moment in UTC to the second ("2030-01-31 23:59:59 UTC"), and to the minute.
QString dateText(const QDateTime& date);
QString shortDateText(const QDateTime& date);
// Whole days from now until the date, cut toward zero (0 in the last day); negative once it has
// passed by a day or more.
qint64 wholeDaysLeft(const QDateTime& date, const QDateTime& now);

} // namespace CertificateText
