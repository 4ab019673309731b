#pragma once

#include "RunCancel.h"
#include "uToolContext.h"

#include <QSslCertificate>
#include <QString>

// The authority certificates that a chain lacks, fetched from the addresses that the
// certificates name; completeChain and writeCompleteChain (uCertificateCheck.h) use them.
namespace CertificateCheck {

// The address that the certificate names for its issuer's certificate (CA Issuers); empty when
// it names none.
QString caIssuersOf(const QSslCertificate& certificate);

// Whether a missing issuer is a root rather than an intermediate that the last certificate
// leads to: it names no address for its issuer, or the address serves a root.
bool missingIssuerIsRoot(const QSslCertificate& last, const QString& missing,
                         const ToolContext& context, RunCancel* cancel);

} // namespace CertificateCheck
