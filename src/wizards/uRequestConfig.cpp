#include "uRequestConfig.h"

#include "uCertwrightCommon.h"

#include <QFile>

namespace RequestConfig {

namespace {

const QString kNotLatin1Message =
    QStringLiteral("The entry \"%1\" holds the character \"%2\", which a certificate subject "
                   "cannot carry here. Please use only Western European (Latin-1) characters.");
const QString kControlCharacterMessage =
    QStringLiteral("The entry \"%1\" holds a control character (such as a line break or a tab), "
                   "which a certificate subject cannot carry. Please remove it.");
const QString kCreateFailedMessage = QStringLiteral("Cannot create file \"%1\". %2");
const QString kWriteFailedMessage = QStringLiteral("Cannot write file \"%1\". %2");

// Characters that the tool's configuration parser would take as a comment, a variable, an
// escape or a quote; a backslash before each makes the parser keep it as it is.
const QString kConfigSyntaxCharacters = QStringLiteral("\\#$\"'`");

constexpr int kValueColumn = 23; // attribute names are padded to this width

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

void checkValue(const QString& value) {
    for (const QChar c : value) {
        if (c.unicode() > 0xFF)
            throw PageError(kNotLatin1Message.arg(value, QString(c)));
        if (isControlCharacter(c))
            throw PageError(kControlCharacterMessage.arg(value));
    }
}

QString attributeLine(const char* name, const QString& value) {
    return QString::fromLatin1(name).leftJustified(kValueColumn) + QStringLiteral("= ") +
           escaped(value);
}

} // namespace

void checkValues(const RequestConfigValues& values) {
    for (const QString* value : {&values.keySize, &values.countryCode, &values.state, &values.city,
                                 &values.legalName, &values.domain, &values.email})
        checkValue(*value);
}

QByteArray content(const RequestConfigValues& values) {
    const QString lines[] = {
        QStringLiteral("[ req ]"),
        QStringLiteral("prompt= no"),
        QStringLiteral("default_bits= ") + values.keySize,
        QStringLiteral("distinguished_name= req_distinguished_name"),
        QStringLiteral("[ req_distinguished_name ]"),
        attributeLine("C", values.countryCode),
        attributeLine("ST", values.state),
        attributeLine("L", values.city),
        attributeLine("O", values.legalName),
        attributeLine("CN", values.domain),
        attributeLine("emailAddress", values.email),
    };
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toLatin1() + "\r\n";
    return bytes;
}

void write(const QString& folder, const RequestConfigValues& values) {
    const QString path = folder + kFileName;
    const QByteArray bytes = content(values);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw PageError(kCreateFailedMessage.arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw PageError(kWriteFailedMessage.arg(path, file.errorString()));
}

void remove(const QString& folder) {
    QFile::remove(folder + kFileName);
}

} // namespace RequestConfig
