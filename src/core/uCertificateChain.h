#pragma once

#include "uToolContext.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

// A server certificate together with the authority certificates that came with it: read from
// whatever form the user has (PEM blocks in any order, DER, PKCS#7), put in order, and judged by
// where the chain ends.
inline const QString kUnreadableCertificatesMessage =
    QStringLiteral("No certificate can be read: the text or file is not a certificate in PEM, "
                   "DER or PKCS#7 form.");
inline const QString kTrustedRootText = QStringLiteral("a root this system trusts");
inline const QString kUntrustedRootText = QStringLiteral("a root this system does not trust");
inline const QString kMissingIssuerText = QStringLiteral("missing: the certificate of %1");

// Every certificate in the bytes: any number of PEM blocks, one or more DER certificates, or a
// PKCS#7 bundle (PEM or DER), which the tool takes apart. Throws
// PageError(kUnreadableCertificatesMessage) when there is none.
QList<QSslCertificate> readCertificates(const QByteArray& data, const ToolContext& context);

// Where the chain of a server certificate ends.
enum class ChainEnd {
    TrustedRoot,   // a root among the system's authorities or those of the CA file
    UntrustedRoot, // a root that neither trusts (a self-signed server certificate included)
    Missing,       // the certificate of an authority between the last one and a root is absent
};

struct CertificateChain {
    QSslCertificate server;
    // In order, each the issuer of the one before; the root itself when it was given.
    QList<QSslCertificate> authorities;
    ChainEnd end = ChainEnd::Missing;
    // The root that ends the chain: the given one, or the trusted one that issued the last
    // authority; null when the end is missing.
    QSslCertificate root;
    QString missingIssuer; // the name of the absent authority (ChainEnd::Missing)
    // The certificates were given server first, each followed by its issuer.
    bool inputInOrder = true;
    // Given certificates that belong to no link of the server's chain.
    QList<QSslCertificate> unrelated;
};

// The certificates put in order. The server certificate is the one whose public key is the
// key's (a PEM "PUBLIC KEY"; empty when the key is unknown), otherwise the one that is no
// authority and issues no other certificate, otherwise the first. The chain ends trusted when
// its root is among the system's authorities or those in caFile (PEM or DER; empty: none).
CertificateChain orderChain(const QList<QSslCertificate>& certificates,
                            const QByteArray& keyPublicPem, const QString& caFile = {});

// The lines that show a chain after its server certificate: each authority's name, the trusted
// root's name when it was not given, then where the chain ends.
QStringList chainSummaryLines(const CertificateChain& chain);

namespace Certificates {

// The name of a certificate as people read it: its common name, or its organisation.
QString displayName(const QSslCertificate& certificate);
// Whether the certificate may issue others (basic constraints CA:TRUE).
bool isAuthority(const QSslCertificate& certificate);
// Whether the certificate names itself as its issuer.
bool isSelfIssued(const QSslCertificate& certificate);
// Whether issuer's subject is the certificate's issuer.
bool issues(const QSslCertificate& issuer, const QSslCertificate& certificate);
// The bytes of a public key in PEM ("PUBLIC KEY"), for comparing keys however they were printed.
QByteArray publicKeyBytes(const QByteArray& pem);

} // namespace Certificates
