#include "ChainCompletion.h"

#include "CheckRuns.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uFreshFile.h"
#include "uLimitedFetch.h"
#include "uToolSteps.h"

#include <QFileInfo>
#include <QSslCertificateExtension>
#include <QUrl>

#include <cstring>

namespace CertificateCheck {

namespace {

const QString kNoIssuerAddressMessage =
    QStringLiteral("The certificate of \"%1\" cannot be fetched: \"%2\" names no address "
                   "for it (CA Issuers).");
const QString kFetchSchemeMessage =
    QStringLiteral("The certificate of \"%1\" is not fetched from \"%2\": only http and https "
                   "addresses are used.");
const QString kFetchFailedMessage =
    QStringLiteral("The certificate of \"%1\" could not be fetched from %2: %3");
const QString kFetchNotIssuerMessage =
    QStringLiteral("What %1 sent is not the certificate of \"%2\".");
const QString kTooManyFetchesMessage =
    QStringLiteral("The chain is still not complete after %1 certificates were fetched.");
const QString kChainOverInputMessage =
    QStringLiteral("The chain is not written to \"%1\": that file was read by the check. "
                   "Please name a new file.");
const QString kWriteFailedMessage = QStringLiteral("The file \"%1\" cannot be written: %2");
const QString kUnprovenIssuerMessage =
    QStringLiteral("What %1 sent did not sign \"%2\", so it is not its "
                   "issuer.");
const QString kUnprovenChainMessage =
    QStringLiteral("The chain is not written to \"%1\": it is not proven (%2).");
const QString kAuthorityInformationAccess = QStringLiteral("1.3.6.1.5.5.7.1.1");
const QString kCaIssuers = QStringLiteral("caIssuers");
constexpr int kMostFetches = 4;
constexpr int kMostRedirects = 3;

// Fetches the certificates at the address within the limits.
QByteArray fetch(const QUrl& url, const QString& wanted, RunCancel* cancel = nullptr) {
    const QString shown = url.toDisplayString();
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        throw PageError(kFetchSchemeMessage.arg(wanted, shown));
    if (cancel && cancel->cancelled())
        throw SilentAbort();
    try {
        return LimitedFetch::fetch(url, {kFetchTimeLimitMs, kLargestFetchBytes, kMostRedirects, {}},
                                   cancel);
    } catch (const LimitedFetch::Failure& failure) {
        throw PageError(kFetchFailedMessage.arg(wanted, shown, failure.reason));
    }
}

// Whether the issuer's key verifies the certificate's signature.
bool signs(const QSslCertificate& issuer, const QSslCertificate& certificate,
           const ScratchFolder& scratch, const ToolContext& context) {
    scratch.write(kScratchIssuer, issuer.toPem());
    scratch.write(kScratchCertificate, certificate.toPem());
    const OpenSSLCommands::ToolRun run =
        runTool(OpenSSLCommands::judgeSignature(scratch.file(kScratchIssuer),
                                                scratch.file(kScratchCertificate)),
                context);
    return run.end == RunEnd::Exited && run.exitCode == 0;
}

// Why the tool refuses the chain to be written, as a server's, up to its root (trusted, or the
// untrusted one that ends it); empty when it verifies.
QString chainRefusal(const CertificateChain& chain, const QByteArray& pem, const QString& caFile,
                     const ScratchFolder& scratch, const ToolContext& context) {
    scratch.write(kScratchWritten, pem);
    QString trusted = caFile;
    if (chain.end == ChainEnd::UntrustedRoot) {
        scratch.write(kScratchIssuer, chain.root.toPem());
        trusted = scratch.file(kScratchIssuer);
    }
    const QStringList arguments =
        OpenSSLCommands::judgeChainToWrite(scratch.file(kScratchWritten), trusted);
    const QList<VerifyError> complaints = verifyComplaints(arguments, context);
    QStringList reasons;
    for (const VerifyError& error : complaints)
        reasons << error.reason;
    return reasons.join(QStringLiteral("; "));
}

} // namespace

QString caIssuersOf(const QSslCertificate& certificate) {
    for (const QSslCertificateExtension& extension : certificate.extensions())
        if (extension.oid() == kAuthorityInformationAccess)
            return extension.value().toMap().value(kCaIssuers).toString();
    return {};
}

bool missingIssuerIsRoot(const QSslCertificate& last, const QString& missing,
                         const ToolContext& context, RunCancel* cancel) {
    const QString address = caIssuersOf(last);
    if (address.isEmpty())
        return true;
    try {
        const QList<QSslCertificate> sent =
            readCertificates(fetch(QUrl(address), missing, cancel), context);
        return std::any_of(sent.begin(), sent.end(), [&last](const QSslCertificate& candidate) {
            return Certificates::isSelfIssued(candidate) && Certificates::issues(candidate, last);
        });
    } catch (const PageError&) {
        if (cancel && cancel->cancelled())
            throw SilentAbort();
        return false;
    }
}

CertificateChain completeChain(const CheckReport& report, const QString& caFile,
                               const ToolContext& context) {
    const QString trusted =
        caFile.isEmpty() ? QString() : ToolSteps::pathForTool(caFile, context.currentFolder);
    const ScratchFolder scratch;
    CertificateChain chain = report.chain;
    for (int fetched = 0; chain.end == ChainEnd::Missing; ++fetched) {
        if (fetched == kMostFetches)
            throw PageError(kTooManyFetchesMessage.arg(fetched));
        const QSslCertificate last =
            chain.authorities.isEmpty() ? chain.server : chain.authorities.constLast();
        const QString address = caIssuersOf(last);
        if (address.isEmpty())
            throw PageError(
                kNoIssuerAddressMessage.arg(chain.missingIssuer, Certificates::displayName(last)));
        const QList<QSslCertificate> sent =
            readCertificates(fetch(QUrl(address), chain.missingIssuer), context);
        const auto issuer = std::find_if(sent.begin(), sent.end(), [&last](const auto& candidate) {
            return Certificates::issues(candidate, last);
        });
        if (issuer == sent.end())
            throw PageError(kFetchNotIssuerMessage.arg(address, chain.missingIssuer));
        if (!signs(*issuer, last, scratch, context))
            throw PageError(kUnprovenIssuerMessage.arg(address, Certificates::displayName(last)));
        // A root is never sent by a server: clients have it, or it cannot help them.
        if (Certificates::isSelfIssued(*issuer)) {
            chain.root = *issuer;
            chain.end = ChainEnd::UntrustedRoot;
            chain.missingIssuer.clear();
            break;
        }
        const QList<QSslCertificate> authorities = chain.authorities + QList{*issuer};
        chain = orderChain(QList{chain.server} + authorities, {}, trusted);
    }
    chain.inputInOrder = true;
    return chain;
}

CertificateChain writeCompleteChain(const CheckReport& report, const QString& file,
                                    const QString& caFile, const ToolContext& context,
                                    bool mayReplace) {
    const QString trusted =
        caFile.isEmpty() ? QString() : ToolSteps::pathForTool(caFile, context.currentFolder);
    const QString path = ToolSteps::pathForTool(file, context.currentFolder);
    const QString target = QFileInfo(path).canonicalFilePath();
    for (const QString& input : report.inputFiles)
        if (!target.isEmpty() && QFileInfo(input).canonicalFilePath() == target)
            throw PageError(kChainOverInputMessage.arg(file));
    const CertificateChain chain = completeChain(report, caFile, context);
    const ScratchFolder scratch;
    const QByteArray written = pemOf(QList{chain.server} + chain.authorities);
    if (const QString reason = chainRefusal(chain, written, trusted, scratch, context);
        !reason.isEmpty())
        throw PageError(kUnprovenChainMessage.arg(file, reason));
    if (const int error =
            mayReplace ? replaceFileWhole(path, written) : placeFileWhole(path, written);
        error != 0)
        throw PageError(
            kWriteFailedMessage.arg(file, QString::fromLocal8Bit(std::strerror(error))));
    return chain;
}

} // namespace CertificateCheck
