#include "ServerConnection.h"

#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"

#include <QHostAddress>

namespace CertificateCheck {

namespace {

const QString kUnreachableServerMessage =
    QStringLiteral("No certificate could be read from %1: the server cannot be reached or "
                   "does not speak TLS there.");
const QString kServerTimeoutMessage =
    QStringLiteral("The server at %1 did not complete the TLS handshake within %2 seconds.");
const QString kServerOutputCutMessage = QStringLiteral(
    "What the server at %1 sent is more than this program reads (%2 KiB), so it is not judged.");
// Everything a server sends is read, up to this much: a chain is a few KiB.
constexpr qint64 kLargestServerOutputBytes = 4 * 1024 * 1024;
constexpr int kBytesPerKiB = 1024;
constexpr int kMsPerSecond = 1000;

} // namespace

QList<QSslCertificate> serverCertificates(const CheckInput& input, const ToolContext& context) {
    const bool literal = !QHostAddress(input.host).isNull();
    const QString hostAndPort = ServerAddress{input.host, input.port}.text();
    // A name, never an address, goes into the server name indication.
    const QStringList arguments = OpenSSLCommands::serverCertificates(
        input.connectAddress.isEmpty() ? hostAndPort : input.connectAddress,
        literal ? QString() : input.host);
    const OpenSSLCommands::ToolRun run =
        OpenSSLCommands::runOpenSSLTool(arguments, context, context.debug,
                                        {.timeLimitMs = input.timeoutMs,
                                         .wholeOutputBytes = kLargestServerOutputBytes,
                                         .cancel = input.cancel,
                                         .withoutTrustStore = true});
    if (run.end == RunEnd::Stopped)
        throw SilentAbort();
    if (run.end == RunEnd::TimeLimit)
        throw PageError(kServerTimeoutMessage.arg(hostAndPort).arg(input.timeoutMs / kMsPerSecond),
                        QString(), QString::fromUtf8(run.output));
    if (run.cut)
        throw PageError(
            kServerOutputCutMessage.arg(hostAndPort).arg(kLargestServerOutputBytes / kBytesPerKiB));
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(run.output, QSsl::Pem);
    if (certificates.isEmpty())
        throw PageError(kUnreachableServerMessage.arg(hostAndPort), QString(),
                        QString::fromUtf8(run.output));
    return certificates;
}

} // namespace CertificateCheck
