#include "uCertificateChain.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"
#include "uOpenSSLCommands.h"

#include <QFile>
#include <QSslCertificateExtension>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>

namespace {

const QByteArray kPemCertificateMark = QByteArrayLiteral("-----BEGIN CERTIFICATE-----");
const QByteArray kPemPkcs7Mark = QByteArrayLiteral("-----BEGIN PKCS7-----");
const QByteArray kPemMarkStart = QByteArrayLiteral("-----");
const QString kPkcs7InputName = QStringLiteral("bundle.p7");
const QString kPkcs7OutputName = QStringLiteral("certificates.pem");
const QString kBasicConstraints = QStringLiteral("basicConstraints");
const QString kCertificateAuthorityFlag = QStringLiteral("ca");

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
        {QStringLiteral("pkcs7"), QStringLiteral("-inform"),
         pem ? QStringLiteral("PEM") : QStringLiteral("DER"), QStringLiteral("-in"), input,
         QStringLiteral("-print_certs"), QStringLiteral("-out"), output},
        context, false);
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

// The system's authorities: reading them takes a good part of a second, and they do not change
// while the program runs.
const QList<QSslCertificate>& systemAuthorities() {
    static const QList<QSslCertificate> authorities = QSslConfiguration::systemCaCertificates();
    return authorities;
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
    QList<QSslCertificate> certificates = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (certificates.isEmpty())
        certificates = QSslCertificate::fromPath(caFile, QSsl::Der);
    return certificates;
}

// The trusted root that issued the certificate; null when none did. A trusted certificate that
// is no root does not end a chain, as the tool sees it.
QSslCertificate trustedIssuer(const QSslCertificate& certificate,
                              const QList<QSslCertificate>& trusted) {
    for (const QSslCertificate& candidate : trusted)
        if (Certificates::isSelfIssued(candidate) && Certificates::issues(candidate, certificate))
            return candidate;
    return QSslCertificate();
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

    QList<QSslCertificate> trusted = caFileCertificates(caFile);
    trusted += systemAuthorities();
    if (isSelfIssued(last)) {
        chain.root = last;
        chain.end = trusted.contains(last) ? ChainEnd::TrustedRoot : ChainEnd::UntrustedRoot;
    } else {
        chain.root = trustedIssuer(last, trusted);
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
