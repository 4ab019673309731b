#include "uCertificateChain.h"

#include "UserFile.h"
#include "uCertwrightCommon.h"
#include "uFreshFile.h"
#include "uOpenSSLCommands.h"

#include <QFile>
#include <QSslCertificateExtension>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>

#include <algorithm>

namespace {

const QByteArray kPemCertificateMark = QByteArrayLiteral("-----BEGIN CERTIFICATE-----");
const QByteArray kPemPkcs7Mark = QByteArrayLiteral("-----BEGIN PKCS7-----");
const QByteArray kPemMarkStart = QByteArrayLiteral("-----");
const QString kPkcs7InputName = QStringLiteral("bundle.p7");
const QString kPkcs7OutputName = QStringLiteral("certificates.pem");
const QString kBasicConstraints = QStringLiteral("basicConstraints");
const QString kCertificateAuthorityFlag = QStringLiteral("ca");
// A bundle of every root that a system trusts is a few hundred KiB.
constexpr qint64 kLargestCaFileBytes = 16 * 1024 * 1024;

// The certificates of a PKCS#7 bundle, as the tool prints them.
QList<QSslCertificate> pkcs7Certificates(const QByteArray& data, bool pem,
                                         const ToolContext& context) {
    const QTemporaryDir scratch;
    if (!scratch.isValid())
        return {};
    const QString input = scratch.filePath(kPkcs7InputName);
    const QString output = scratch.filePath(kPkcs7OutputName);
    if (writeFreshFile(input, data) != 0)
        return {};
    const OpenSSLCommands::ToolRun run = OpenSSLCommands::runOpenSSLTool(
        OpenSSLCommands::bundleCertificates(input, pem, output), context, false);
    if (run.exitCode != 0)
        return {};
    QFile printed(output);
    if (!printed.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(printed.readAll(), QSsl::Pem);
}

// A distinguished name as one text, attribute by attribute, so that two names compare equal
// exactly when they name the same.
QString nameKey(const QList<QByteArray>& attributes,
                const std::function<QStringList(const QByteArray&)>& values) {
    QString key;
    for (const QByteArray& attribute : attributes)
        key += QString::fromLatin1(attribute) + QLatin1Char('=') +
               values(attribute).join(QLatin1Char('+')) + QLatin1Char('/');
    return key;
}

QString subjectKey(const QSslCertificate& certificate) {
    return nameKey(certificate.subjectInfoAttributes(),
                   [&certificate](const QByteArray& a) { return certificate.subjectInfo(a); });
}

QString issuerKey(const QSslCertificate& certificate) {
    return nameKey(certificate.issuerInfoAttributes(),
                   [&certificate](const QByteArray& a) { return certificate.issuerInfo(a); });
}

const QString kSubjectKeyIdentifier = QStringLiteral("subjectKeyIdentifier");
const QString kAuthorityKeyIdentifier = QStringLiteral("authorityKeyIdentifier");
const QString kKeyIdentifier = QStringLiteral("keyid");

// The key identifiers as lower-case hexadecimal digits.
QByteArray subjectKeyId(const QSslCertificate& certificate) {
    for (const QSslCertificateExtension& extension : certificate.extensions())
        if (extension.name() == kSubjectKeyIdentifier)
            return extension.value().toString().remove(QLatin1Char(':')).toLower().toLatin1();
    return {};
}

QByteArray authorityKeyId(const QSslCertificate& certificate) {
    for (const QSslCertificateExtension& extension : certificate.extensions())
        if (extension.name() == kAuthorityKeyIdentifier)
            return extension.value().toMap().value(kKeyIdentifier).toByteArray().toLower();
    return {};
}

// The bundle of the system's roots that the tool trusts.
const QString kSystemBundle = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
const QByteArray kPemCertificateEnd = QByteArrayLiteral("-----END CERTIFICATE-----");

// The system's roots, each as the DER bytes of its certificate, read once when first needed:
// they do not change while the program runs. They come from the one bundle, block by block,
// without Qt reading each certificate's fields, which would take it a good part of a
// millisecond per root; where there is no bundle, from Qt (which reads each root twice: from
// its own file and again from the bundle).
const QList<QByteArray>& systemRoots() {
    static const QList<QByteArray> roots = [] {
        QList<QByteArray> der;
        QFile bundle(kSystemBundle);
        const QByteArray pem = bundle.open(QIODevice::ReadOnly) ? bundle.readAll() : QByteArray();
        for (qsizetype begin = pem.indexOf(kPemCertificateMark); begin >= 0;
             begin = pem.indexOf(kPemCertificateMark, begin + 1)) {
            const qsizetype body = begin + kPemCertificateMark.size();
            const qsizetype end = pem.indexOf(kPemCertificateEnd, body);
            if (end < 0)
                break;
            der << QByteArray::fromBase64(pem.mid(body, end - body));
        }
        if (der.isEmpty())
            for (const QSslCertificate& root : QSslConfiguration::systemCaCertificates())
                der << root.toDer();
        return der;
    }();
    return roots;
}

// The text of a name's value as each kind of string in a certificate may hold it: UTF-8 (and
// ASCII), Latin-1, and two and four bytes a character, big-endian.
QList<QByteArray> encodingsOf(const QString& value) {
    QList<QByteArray> encodings{value.toUtf8()};
    QByteArray wide;
    QByteArray widest;
    bool latin = true;
    for (const char32_t character : value.toUcs4()) {
        latin = latin && character <= 0xff;
        wide += char(character >> 8 & 0xff);
        wide += char(character & 0xff);
        widest += char(character >> 24 & 0xff);
        widest += char(character >> 16 & 0xff);
        widest += char(character >> 8 & 0xff);
        widest += char(character & 0xff);
    }
    if (latin)
        encodings << value.toLatin1();
    return encodings << wide << widest;
}

// The values of the certificate's issuer name that a DER certificate must hold, in one of their
// encodings, to bear that name as its subject: those that the certificate itself holds so.
QList<QList<QByteArray>> issuerValues(const QSslCertificate& certificate) {
    const QByteArray own = certificate.toDer();
    QList<QList<QByteArray>> values;
    for (const QByteArray& attribute : certificate.issuerInfoAttributes())
        for (const QString& value : certificate.issuerInfo(attribute)) {
            const QList<QByteArray> encodings = encodingsOf(value);
            if (std::any_of(encodings.begin(), encodings.end(),
                            [&own](const QByteArray& bytes) { return own.contains(bytes); }))
                values << encodings;
        }
    return values;
}

// One DER certificate after another, as the tool writes them into one file: Qt's own reading
// of several loses those after the second.
QList<QSslCertificate> derCertificates(const QByteArray& data) {
    QList<QSslCertificate> certificates;
    for (qsizetype at = 0; at < data.size();) {
        const QByteArray rest = QByteArray::fromRawData(data.constData() + at, data.size() - at);
        const QSslCertificate certificate(rest, QSsl::Der);
        const QByteArray der = certificate.toDer();
        if (certificate.isNull() || der.isEmpty() || !rest.startsWith(der))
            break;
        certificates << certificate;
        at += der.size();
    }
    return certificates;
}

QList<QSslCertificate> caFileCertificates(const QString& caFile) {
    if (caFile.isEmpty())
        return {};
    // Read as a file that the user named: a FIFO at its name cannot hold the check up.
    UserFile::Failure failure;
    const std::optional<QByteArray> content =
        UserFile::read(caFile, {.largestBytes = kLargestCaFileBytes}, &failure);
    if (!content)
        return {};
    QList<QSslCertificate> certificates = QSslCertificate::fromData(*content, QSsl::Pem);
    if (certificates.isEmpty())
        certificates = QSslCertificate::fromData(*content, QSsl::Der);
    return certificates;
}

// The trusted root that issued the certificate; null when none did: the CA file's first, then
// the system's, of which only those that hold the issuer's name are read. A trusted certificate
// that is no root does not end a chain, as the tool sees it.
QSslCertificate trustedIssuer(const QSslCertificate& certificate,
                              const QList<QSslCertificate>& caFileRoots) {
    const auto issued = [&certificate](const QSslCertificate& candidate) {
        return !candidate.isNull() && Certificates::isSelfIssued(candidate) &&
               Certificates::issues(candidate, certificate);
    };
    for (const QSslCertificate& candidate : caFileRoots)
        if (issued(candidate))
            return candidate;
    const QList<QList<QByteArray>> values = issuerValues(certificate);
    for (const QByteArray& der : systemRoots()) {
        const bool holdsName =
            std::all_of(values.begin(), values.end(), [&der](const QList<QByteArray>& encodings) {
                return std::any_of(encodings.begin(), encodings.end(),
                                   [&der](const QByteArray& bytes) { return der.contains(bytes); });
            });
        if (holdsName)
            if (const QSslCertificate candidate(der, QSsl::Der); issued(candidate))
                return candidate;
    }
    return QSslCertificate();
}

// Whether the root is among the CA file's or the system's.
bool trusted(const QSslCertificate& root, const QList<QSslCertificate>& caFileRoots) {
    return caFileRoots.contains(root) || systemRoots().contains(root.toDer());
}

QSslCertificate serverAmong(const QList<QSslCertificate>& certificates,
                            const QByteArray& keyPublicPem) {
    if (!keyPublicPem.isEmpty()) {
        const QByteArray key = Certificates::publicKeyBytes(keyPublicPem);
        for (const QSslCertificate& certificate : certificates)
            if (Certificates::publicKeyBytes(certificate.publicKey().toPem()) == key)
                return certificate;
    }
    for (const QSslCertificate& certificate : certificates) {
        if (Certificates::isAuthority(certificate))
            continue;
        const bool issuesAnother = std::any_of(
            certificates.begin(), certificates.end(), [&certificate](const QSslCertificate& other) {
                return other != certificate && Certificates::issues(certificate, other);
            });
        if (!issuesAnother)
            return certificate;
    }
    return certificates.first();
}

} // namespace

namespace Certificates {

QString displayName(const QSslCertificate& certificate) {
    const QStringList common = certificate.subjectInfo(QSslCertificate::CommonName);
    if (!common.isEmpty())
        return common.first();
    const QStringList organisation = certificate.subjectInfo(QSslCertificate::Organization);
    if (!organisation.isEmpty())
        return organisation.first();
    return certificate.subjectDisplayName();
}

bool isAuthority(const QSslCertificate& certificate) {
    for (const QSslCertificateExtension& extension : certificate.extensions())
        if (extension.name() == kBasicConstraints)
            return extension.value().toMap().value(kCertificateAuthorityFlag).toBool();
    return false;
}

bool isSelfIssued(const QSslCertificate& certificate) {
    return subjectKey(certificate) == issuerKey(certificate);
}

bool issues(const QSslCertificate& issuer, const QSslCertificate& certificate) {
    if (subjectKey(issuer) != issuerKey(certificate))
        return false;
    // A certificate that names its issuer's key (authority key identifier) is issued only by
    // the authority of that key, whatever others of the same name say.
    const QByteArray wanted = authorityKeyId(certificate);
    const QByteArray offered = subjectKeyId(issuer);
    return wanted.isEmpty() || offered.isEmpty() || wanted == offered;
}

QByteArray publicKeyBytes(const QByteArray& pem) {
    QByteArray base64;
    for (const QByteArray& line : pem.split('\n'))
        if (!line.trimmed().startsWith(kPemMarkStart))
            base64 += line.trimmed();
    return QByteArray::fromBase64(base64);
}

} // namespace Certificates

using namespace Certificates;

QList<QSslCertificate> readCertificates(const QByteArray& data, const ToolContext& context) {
    QList<QSslCertificate> certificates;
    if (data.contains(kPemCertificateMark))
        certificates = QSslCertificate::fromData(data, QSsl::Pem);
    if (data.contains(kPemPkcs7Mark))
        certificates += pkcs7Certificates(data, true, context);
    if (certificates.isEmpty() && !data.contains(kPemMarkStart)) {
        certificates = derCertificates(data);
        if (certificates.isEmpty())
            certificates = pkcs7Certificates(data, false, context);
    }
    certificates.removeIf([](const QSslCertificate& certificate) { return certificate.isNull(); });
    if (certificates.isEmpty())
        throw PageError(kUnreadableCertificatesMessage);
    return certificates;
}

CertificateChain orderChain(const QList<QSslCertificate>& given, const QByteArray& keyPublicPem,
                            const QString& caFile) {
    // A certificate given twice (in the certificate file and again in a chain file) counts once.
    QList<QSslCertificate> certificates;
    for (const QSslCertificate& certificate : given)
        if (!certificates.contains(certificate))
            certificates << certificate;
    CertificateChain chain;
    if (certificates.isEmpty())
        return chain;
    chain.server = serverAmong(certificates, keyPublicPem);
    QList<QSslCertificate> left = certificates;
    left.removeOne(chain.server);
    QSslCertificate last = chain.server;
    while (!isSelfIssued(last)) {
        const auto issuer =
            std::find_if(left.begin(), left.end(),
                         [&last](const QSslCertificate& other) { return issues(other, last); });
        if (issuer == left.end())
            break;
        last = *issuer;
        chain.authorities << last;
        left.erase(issuer);
    }
    chain.unrelated = left;

    const QList<QSslCertificate> caFileRoots = caFileCertificates(caFile);
    if (isSelfIssued(last)) {
        chain.root = last;
        chain.end = trusted(last, caFileRoots) ? ChainEnd::TrustedRoot : ChainEnd::UntrustedRoot;
    } else {
        chain.root = trustedIssuer(last, caFileRoots);
        chain.end = chain.root.isNull() ? ChainEnd::Missing : ChainEnd::TrustedRoot;
        if (chain.root.isNull())
            chain.missingIssuer = last.issuerDisplayName();
    }

    QList<QSslCertificate> ordered{chain.server};
    ordered += chain.authorities;
    certificates.removeIf([&chain](const QSslCertificate& certificate) {
        return chain.unrelated.contains(certificate);
    });
    chain.inputInOrder = certificates == ordered;
    return chain;
}

QStringList chainSummaryLines(const CertificateChain& chain) {
    QStringList lines;
    for (const QSslCertificate& authority : chain.authorities)
        lines << displayName(authority);
    if (!chain.root.isNull() && chain.root != chain.server &&
        !chain.authorities.contains(chain.root))
        lines << displayName(chain.root);
    switch (chain.end) {
    case ChainEnd::TrustedRoot:
        lines << kTrustedRootText;
        break;
    case ChainEnd::UntrustedRoot:
        lines << kUntrustedRootText;
        break;
    case ChainEnd::Missing:
        lines << kMissingIssuerText.arg(chain.missingIssuer);
        break;
    }
    return lines;
}
