#pragma once

#include "uCertificateCheck.h"

namespace CertificateCheck {

// The certificates that the server of the input sends in its handshake, in the order sent.
// Throws PageError when none comes within the input's time limit, SilentAbort when the input's
// cancel ends the wait.
QList<QSslCertificate> serverCertificates(const CheckInput& input, const ToolContext& context);

} // namespace CertificateCheck
