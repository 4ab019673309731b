#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The subject of a request or self-signed certificate, handed to the tool's request command in
// the file "__config.tmp" of the export folder so that the tool prompts for nothing.
struct RequestConfigValues {
    QString keySize; // RSA bits, or the elliptic curve of the key
    QString countryCode;
    QString state;
    QString city;
    QString legalName;
    QString domain; // as typed: an asterisk stays an asterisk here
    QString email;
    QStringList moreDomains = {}; // further names of the subjectAltName, after the domain
};

namespace RequestConfig {

inline const QString kFileName = QStringLiteral("__config.tmp");

// Refuses (PageError) a value that the file cannot carry faithfully: a character outside
// Latin-1, or a control character, which would end the line and let the value forge further
// lines. Call it before anything is asked or touched.
void checkValues(const RequestConfigValues& values);

// The subjectAltName for a domain as typed: "DNS:<domain>", and for a domain beginning with
// "www." or "*." also "DNS:<the rest>"; a domain outside ASCII in its ASCII (ACE) form; an IP
// address as "IP:<address>". Empty when the domain can be neither a host name nor an IP
// address: an IPv4 address counts only as four decimal parts from 0 to 255 without leading
// zeros, and a name whose last label reads as a number ("2001", "127.1", "10.0x1") is
// neither.
QString subjectAltName(const QString& domain);
// The subjectAltName of several domains: each one's names in turn, every name once.
QString subjectAltName(const QStringList& domains);

// The file's bytes: Latin-1, CR LF after every line, values escaped for the tool's
// configuration syntax. Besides the subject it asks for the domain's subjectAltName: as a
// requested extension of a request, and in a self-signed certificate, which it makes a
// version 3 server certificate, with the names of the domain and of the further domains.
// Every domain must have a subjectAltName. For a key on an
// elliptic curve it gives no default_bits, and the certificate's key usage is signing only.
QByteArray content(const RequestConfigValues& values);

// Creates the file in the folder (which ends in a separator) afresh, readable by its owner
// only; whatever stood at its name is removed first, and a link is never followed. Throws
// PageError naming the full path and the system's reason when it cannot be made so.
void write(const QString& folder, const RequestConfigValues& values);

} // namespace RequestConfig
