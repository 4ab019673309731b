#pragma once

#include "uToolContext.h"

#include <QString>
#include <QStringList>

// What an authority sends is proven before it replaces anything: the files that lego left are
// taken for the certificate that was ordered only when they are exactly that.
namespace IssuedCertificate {

// Throws PageError, saying which proof failed, unless the first certificate of the file names
// exactly the names ordered (no more, no fewer), holds the public key of the key file, and
// verifies by signature, with the file's other certificates as its chain, up to a root that the
// system or the CA file (when given) trusts.
void prove(const QStringList& names, const QString& certificateFile, const QString& keyFile,
           const QString& caFile, const ToolContext& context);

// Throws PageError(message), with the tool's reason as the explanation, unless the first
// certificate of the file verifies by signature, as a server's, with the file's other
// certificates as its chain, up to a root that the system or the CA file (when given) trusts.
void proveChain(const QString& certificateFile, const QString& caFile, const QString& message,
                const ToolContext& context);

} // namespace IssuedCertificate
