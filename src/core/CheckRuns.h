#pragma once

#include "uOpenSSLCommands.h"
#include "uToolContext.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

// The check's runs of the tool and what it makes of their output; for the units of the check.
namespace CertificateCheck {

inline const QString kToolFailedMessage =
    QStringLiteral("The OpenSSL tool could not check \"%1\".");

// The files of a check's scratch folder that the tool reads or writes.
inline const QString kScratchCertificate = QStringLiteral("server.pem");
inline const QString kScratchChain = QStringLiteral("chain.pem");
inline const QString kScratchIssuer = QStringLiteral("issuer.pem");
inline const QString kScratchWritten = QStringLiteral("written.pem");
inline const QString kScratchPublicKey = QStringLiteral("key.pub");
inline const QString kScratchCertificatePublicKey = QStringLiteral("cert.pub");
inline const QString kScratchPfxCertificates = QStringLiteral("pfx.pem");

constexpr qint64 kSecondsADay = 24 * 60 * 60;

// One complaint of a judging run: the error's number, the depth of the certificate in the chain
// that the tool built (0: the one judged) and the tool's words.
struct VerifyError {
    int code = 0;
    int depth = 0;
    QString reason;
};

OpenSSLCommands::ToolRun runTool(const QStringList& arguments, const ToolContext& context);

// The complaints of a judging run. Throws PageError when the tool failed without one.
QList<VerifyError> verifyComplaints(const QStringList& arguments, const ToolContext& context);
// The error numbers of a judging run.
QList<int> verifyErrors(const QStringList& arguments, const ToolContext& context);

// The certificates one after the other in PEM.
QByteArray pemOf(const QList<QSslCertificate>& certificates);

} // namespace CertificateCheck
