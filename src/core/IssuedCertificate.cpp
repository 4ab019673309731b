#include "IssuedCertificate.h"

#include "uCertificateChain.h"
#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"
#include "uToolSteps.h"

#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QUrl>

namespace IssuedCertificate {

namespace {

const QString kNotOrderedMessage =
    QStringLiteral("The authority sent a certificate that is not the one ordered, so no file "
                   "was replaced.");
const QString kUnreadableExplanation = QStringLiteral("The certificate in \"%1\" cannot be read.");
const QString kNamesExplanation = QStringLiteral("It names %1, but %2 was ordered.");
const QString kKeyExplanation =
    QStringLiteral("Its public key is not the one of the new key: it was issued for another key.");
const QString kChainExplanation = QStringLiteral(
    "Its chain is not proven up to a root that this computer (or the CA file) trusts: %1.");
const QString kNoNames = QStringLiteral("no name");
const QString kListSeparator = QStringLiteral(", ");

QStringList comparable(const QStringList& names) {
    QStringList ace;
    for (const QString& name : names)
        ace << QString::fromLatin1(QUrl::toAce(name)).toLower();
    ace.sort();
    ace.removeDuplicates();
    return ace;
}

// The tool's own reason, from its line "error 20 at 0 depth lookup: <reason>".
QString verifyReason(const QByteArray& output) {
    static const QRegularExpression reason(
        QStringLiteral("error \\d+ at \\d+ depth lookup: ([^\\n]*)"));
    const QString text = QString::fromLocal8Bit(output);
    const QRegularExpressionMatch match = reason.match(text);
    return match.hasMatch() ? match.captured(1).trimmed() : text.trimmed();
}

} // namespace

void prove(const QStringList& names, const QString& certificateFile, const QString& keyFile,
           const QString& caFile, const ToolContext& context) {
    const QList<QSslCertificate> sent = QSslCertificate::fromPath(certificateFile);
    if (sent.isEmpty() || sent.first().isNull())
        throw PageError(kNotOrderedMessage, kUnreadableExplanation.arg(certificateFile));
    const QSslCertificate& certificate = sent.first();
    const QStringList named = certificate.subjectAlternativeNames().values(QSsl::DnsEntry);
    if (comparable(named) != comparable(names))
        throw PageError(
            kNotOrderedMessage,
            kNamesExplanation.arg(named.isEmpty() ? kNoNames : named.join(kListSeparator),
                                  names.join(kListSeparator)));
    const QByteArray key =
        Certificates::publicKeyBytes(ToolSteps::plainKeyPublicPem(keyFile, context));
    if (key.isEmpty() || key != Certificates::publicKeyBytes(certificate.publicKey().toPem()))
        throw PageError(kNotOrderedMessage, kKeyExplanation);
    proveChain(certificateFile, caFile, kNotOrderedMessage, context);
}

void proveChain(const QString& certificateFile, const QString& caFile, const QString& message,
                const ToolContext& context) {
    const OpenSSLCommands::ToolRun verified = OpenSSLCommands::runOpenSSLTool(
        OpenSSLCommands::verifyServerCertificate(certificateFile, caFile), context, false);
    if (verified.end != RunEnd::Exited || verified.exitCode != 0)
        throw PageError(message, kChainExplanation.arg(verifyReason(verified.output)));
}

} // namespace IssuedCertificate
