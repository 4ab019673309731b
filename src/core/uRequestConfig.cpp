#include "uRequestConfig.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"
#include "uOpenSSLCommands.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <utility>

namespace RequestConfig {

namespace {

const QString kNotLatin1Message =
    QStringLiteral("The entry \"%1\" holds the character \"%2\", which a certificate subject "
                   "cannot carry here. Please use only Western European (Latin-1) characters.");
const QString kControlCharacterMessage =
    QStringLiteral("The entry \"%1\" holds a control character (such as a line break or a tab), "
                   "which a certificate subject cannot carry. Please remove it.");
const QString kCreateFailedMessage = QStringLiteral("Cannot create file \"%1\". %2");

// Characters that the tool's configuration parser would take as a comment, a variable, an
// escape or a quote; a backslash before each makes the parser keep it as it is.
const QString kConfigSyntaxCharacters = QStringLiteral("\\#$\"'`");

constexpr int kValueColumn = 23; // attribute names are padded to this width

const QString kRequestedExtensions = QStringLiteral("requested_extensions");
const QString kCertificateExtensions = QStringLiteral("certificate_extensions");
const QString kDnsPrefix = QStringLiteral("DNS:");
const QString kIpPrefix = QStringLiteral("IP:");
const QString kWildcardPrefix = QStringLiteral("*.");
const QString kWwwPrefix = QStringLiteral("www.");

bool isAscii(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// The address in its usual text, when the whole text is one: an IPv4 address only as four
// decimal parts without leading zeros, an IPv6 address as the standard reads it. The older
// forms ("127.1", "0x7f.0.0.1", "010.0.0.1" in octal) are not taken: the tool would certify
// another address than the one the subject shows.
QString ipAddress(const QString& text) {
    if (!isAscii(text))
        return QString();
    const QByteArray ascii = text.toLatin1();
    in6_addr address{};
    char written[INET6_ADDRSTRLEN] = {};
    for (const int family : {AF_INET, AF_INET6})
        if (::inet_pton(family, ascii.constData(), &address) == 1 &&
            ::inet_ntop(family, &address, written, sizeof written))
            return QString::fromLatin1(written);
    return QString();
}

// Whether the last label of the name reads as a number, as resolvers and browsers take it:
// all digits, or "0x" and hex digits. No top-level domain looks so, and such a name is an
// address in an older form, which resolvers turn into another address than the text shows.
bool endsInNumber(const QString& name) {
    static const QRegularExpression numericLabel(
        QStringLiteral("(^|\\.)([0-9]+|0[xX][0-9a-fA-F]*)\\.?$"));
    return numericLabel.match(name).hasMatch();
}

// The host name as a certificate carries it: as typed when it is ASCII, else in its ASCII
// (ACE) form; empty when it cannot be a host name.
QString dnsName(const QString& name) {
    const QString ace = QString::fromLatin1(QUrl::toAce(name));
    if (ace.isEmpty() || endsInNumber(ace))
        return QString();
    return isAscii(name) ? name : ace;
}

bool isControlCharacter(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString escaped(const QString& value) {
    QString result;
    result.reserve(value.size() * 2);
    for (const QChar c : value) {
        if (kConfigSyntaxCharacters.contains(c))
            result += QLatin1Char('\\');
        result += c;
    }
    return result;
}

// Walks characters, not UTF-16 units, so that the message quotes a refused emoji whole.
void checkValue(const QString& value) {
    for (const char32_t character : value.toUcs4()) {
        if (character > 0xFF)
            throw PageError(kNotLatin1Message.arg(value, QString::fromUcs4(&character, 1)));
        if (isControlCharacter(QChar(character)))
            throw PageError(kControlCharacterMessage.arg(value));
    }
}

QString attributeLine(const char* name, const QString& value) {
    return QString::fromLatin1(name).leftJustified(kValueColumn) + QStringLiteral("= ") +
           escaped(value);
}

QString sectionLine(const QString& name) {
    return QStringLiteral("[ ") + name + QStringLiteral(" ]");
}

} // namespace

QString subjectAltName(const QString& domain) {
    // A scope ("%eth0") names an interface of one machine, which no certificate can carry:
    // the standard reading refuses it.
    const QString address = ipAddress(domain);
    if (!address.isEmpty())
        return kIpPrefix + address;
    // An asterisk may only stand for the whole first label; what follows is a host name.
    const bool isWildcard = domain.startsWith(kWildcardPrefix);
    const QString hostName = dnsName(isWildcard ? domain.mid(kWildcardPrefix.size()) : domain);
    if (hostName.isEmpty())
        return QString();
    QStringList names = {kDnsPrefix + (isWildcard ? kWildcardPrefix : QString()) + hostName};
    // A certificate for "www.shop.test" or "*.shop.test" also serves "shop.test".
    QString rest;
    if (isWildcard)
        rest = hostName;
    else if (hostName.startsWith(kWwwPrefix, Qt::CaseInsensitive))
        rest = hostName.mid(kWwwPrefix.size());
    if (!rest.isEmpty())
        names << kDnsPrefix + rest;
    return names.join(QStringLiteral(", "));
}

QString subjectAltName(const QStringList& domains) {
    QStringList names;
    for (const QString& domain : domains)
        for (const QString& name : subjectAltName(domain).split(QStringLiteral(", ")))
            if (!name.isEmpty() && !names.contains(name))
                names << name;
    return names.join(QStringLiteral(", "));
}

void checkValues(const RequestConfigValues& values) {
    for (const QString* value : {&values.keySize, &values.countryCode, &values.state, &values.city,
                                 &values.legalName, &values.domain, &values.email})
        checkValue(*value);
    for (const QString& domain : values.moreDomains)
        checkValue(domain);
}

QByteArray content(const RequestConfigValues& values) {
    const QString altNameLine =
        QStringLiteral("subjectAltName= ") +
        escaped(subjectAltName(QStringList{values.domain} + values.moreDomains));
    // An elliptic-curve key has no bit size to give, and it signs but cannot encipher: a
    // certificate that claims keyEncipherment for it breaks the rules for such keys.
    const bool ellipticCurve = OpenSSLCommands::isEllipticCurve(values.keySize);
    QStringList lines = {OpenSSLCommands::kRequestSection, QStringLiteral("prompt= no")};
    if (!ellipticCurve)
        lines << QStringLiteral("default_bits= ") + values.keySize;
    // The tool takes req_extensions for a request and x509_extensions for a self-signed
    // certificate, so both wizards write the same file.
    lines << QStringList{QStringLiteral("distinguished_name= req_distinguished_name"),
                         QStringLiteral("req_extensions= ") + kRequestedExtensions,
                         QStringLiteral("x509_extensions= ") + kCertificateExtensions,
                         QStringLiteral("[ req_distinguished_name ]")};
    // The tool refuses an attribute without a value, so an empty one is left out of the subject.
    const std::pair<const char*, const QString*> attributes[] = {
        {"C", &values.countryCode}, {"ST", &values.state},  {"L", &values.city},
        {"O", &values.legalName},   {"CN", &values.domain}, {"emailAddress", &values.email}};
    for (const auto& [name, value] : attributes)
        if (!value->isEmpty())
            lines << attributeLine(name, *value);
    lines << QStringList{
        sectionLine(kRequestedExtensions),
        altNameLine,
        sectionLine(kCertificateExtensions),
        altNameLine,
        QStringLiteral("basicConstraints= CA:FALSE"),
        ellipticCurve ? QStringLiteral("keyUsage= digitalSignature")
                      : QStringLiteral("keyUsage= digitalSignature, keyEncipherment"),
        QStringLiteral("extendedKeyUsage= serverAuth"),
    };
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toLatin1() + "\r\n";
    return bytes;
}

void write(const QString& folder, const RequestConfigValues& values) {
    const QString path = folder + kFileName;
    const int error = writeFreshFile(path, content(values));
    if (error != 0)
        throw PageError(
            kCreateFailedMessage.arg(path, QString::fromLocal8Bit(std::strerror(error))));
}

} // namespace RequestConfig
