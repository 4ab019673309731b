#pragma once

#include "uCertificateChain.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What a check found, for people to read and for scripts.
namespace CertificateCheck {

// The problems that a check finds; the ids are fixed for scripts.
inline const QString kKeyMismatch = QStringLiteral("key-mismatch");
inline const QString kExpired = QStringLiteral("expired");
inline const QString kNotYetValid = QStringLiteral("not-yet-valid");
inline const QString kExpiresSoon = QStringLiteral("expires-soon");
inline const QString kNameMismatch = QStringLiteral("name-mismatch");
inline const QString kNoSubjectAltName = QStringLiteral("no-subject-alt-name");
inline const QString kChainIncomplete = QStringLiteral("chain-incomplete");
inline const QString kChainOrder = QStringLiteral("chain-order");
inline const QString kUntrustedRoot = QStringLiteral("untrusted-root");
inline const QString kWeakKey = QStringLiteral("weak-key");
inline const QString kWeakSignature = QStringLiteral("weak-signature");
inline const QString kNotServerCertificate = QStringLiteral("not-server-certificate");
inline const QString kInvalidChain = QStringLiteral("invalid-chain");

// Said in place of a list of names that is empty.
inline const QString kNoNames = QStringLiteral("none");

struct CheckProblem {
    QString id;
    QString message; // what is wrong, in plain words
    QString advice;  // what to do about it
    // The subject of the certificate of the chain that it is about; empty: the server's, or
    // the chain as a whole.
    QString certificate;
};

// One certificate of the chain as the report lists it.
struct ChainEntry {
    QString subject;
    QString issuer;
    QDateTime notAfter;
};

struct CheckReport {
    QString subject;   // the server certificate's subject, as "CN=..., O=..."
    QStringList names; // its subjectAltName entries ("www.example.com", "192.0.2.1")
    QString issuer;
    QDateTime notBefore;
    QDateTime notAfter;
    qint64 daysLeft = 0; // whole days until notAfter; negative once it has passed
    QString keyType;     // "RSA", "EC" or the tool's name of another algorithm
    int keyBits = 0;
    QString signature; // the algorithm, as the tool names it ("sha256WithRSAEncryption")
    CertificateChain chain;
    QList<ChainEntry> chainEntries; // the authorities of the chain, in order
    QString pfxProfile;             // a .pfx file's protection; empty for other input
    QList<CheckProblem> problems;
    // The files that were read, as the tool read them; the mended chain never replaces one.
    QStringList inputFiles;

    bool hasProblem(const QString& id) const;
    // One object with every field above, as `certwright check --json` prints it.
    QJsonObject toJson() const;
    // The report for people to read: the fields, the chain, then each problem with what to do.
    QString toText() const;
};

// The problems for people to read, each followed by what to do about it, or that there is none.
QString problemsText(const QList<CheckProblem>& problems);

} // namespace CertificateCheck
