#include "CheckRuns.h"

#include "uCertwrightCommon.h"

#include <QRegularExpression>

namespace CertificateCheck {

namespace {

const QByteArray kVerifyErrorPattern =
    QByteArrayLiteral("error (\\d+) at (\\d+) depth lookup: ?([^\\n]*)");

} // namespace

QByteArray pemOf(const QList<QSslCertificate>& certificates) {
    QByteArray pem;
    for (const QSslCertificate& certificate : certificates)
        pem += certificate.toPem();
    return pem;
}

OpenSSLCommands::ToolRun runTool(const QStringList& arguments, const ToolContext& context) {
    return OpenSSLCommands::runOpenSSLTool(arguments, context, context.debug);
}

QList<VerifyError> verifyComplaints(const QStringList& arguments, const ToolContext& context) {
    const OpenSSLCommands::ToolRun run = runTool(arguments, context);
    QList<VerifyError> errors;
    static const QRegularExpression pattern(QString::fromLatin1(kVerifyErrorPattern));
    for (auto match = pattern.globalMatch(QString::fromUtf8(run.output)); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        errors << VerifyError{found.captured(1).toInt(), found.captured(2).toInt(),
                              found.captured(3).trimmed()};
    }
    if (run.exitCode != 0 && errors.isEmpty())
        throw PageError(kToolFailedMessage.arg(arguments.constLast()), QString(),
                        QString::fromUtf8(run.output));
    return errors;
}

QList<int> verifyErrors(const QStringList& arguments, const ToolContext& context) {
    QList<int> codes;
    for (const VerifyError& error : verifyComplaints(arguments, context))
        codes << error.code;
    return codes;
}

} // namespace CertificateCheck
