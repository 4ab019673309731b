#include "uCertificateCheck.h"

#include "CertificateText.h"
#include "ChainCompletion.h"
#include "CheckRuns.h"
#include "ServerConnection.h"
#include "UserFile.h"
#include "uCertwrightCommon.h"
#include "uFreshFile.h"
#include "uOpenSSLCommands.h"
#include "uPassPhraseFiles.h"
#include "uToolSteps.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSslKey>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace CertificateCheck {

namespace {

using CertificateText::Name;

// ---- Texts

const QString kUnreadableFileMessage = QStringLiteral("The file \"%1\" cannot be read: %2");
const QString kNotRegularReason = QStringLiteral("it is not a regular file");
const QString kTooLargeReason = QStringLiteral("it is too large for a certificate file");
const QString kUnreadableCertificateFileMessage =
    QStringLiteral("The file \"%1\" holds no certificate that can be read (PEM, DER or PKCS#7).");
const QString kUnreadableKeyMessage =
    QStringLiteral("The key \"%1\" cannot be read: it is not a private key, or the pass phrase "
                   "is wrong.");
const QString kUnreadablePfxMessage =
    QStringLiteral("The file \"%1\" cannot be opened: it is not a .pfx file, or the pass phrase "
                   "is wrong.");
const QString kNothingToCheckMessage =
    QStringLiteral("Name a server, a certificate file or a .pfx file to check.");

const QString kUnknownRootMessage = QStringLiteral(
    "The chain ends at \"%1\", a root that this system does not know: the server does not send "
    "it, and no address in the certificate leads to an intermediate authority.");
const QString kUnknownRootAdvice = QStringLiteral(
    "Every client must trust this root: install it on each of them, and give it to this check "
    "as its CA file.");
const QString kInvalidChainMessage = QStringLiteral("The chain is not valid at \"%1\": %2.");
const QString kInvalidChainAdvice = QStringLiteral(
    "Clients refuse this chain. Ask the authority for its correct chain and install that.");
const QString kNotAuthorityReason =
    QStringLiteral("it signs another certificate, but it is not an authority (CA:FALSE)");
const QString kSignatureReason =
    QStringLiteral("its signature does not match the key of the certificate given as its issuer");
const QString kPathLengthReason =
    QStringLiteral("the chain is longer than an authority above it allows (path length)");
const QString kNameConstraintsReason =
    QStringLiteral("an authority above it may not issue for its names (name constraints)");
const QString kKeyUsageReason =
    QStringLiteral("it signs another certificate, but its key usage does not allow that");
const QString kPurposeReason =
    QStringLiteral("its extended key usage does not allow a server's chain");
const QString kTooManyCertificatesMessage =
    QStringLiteral("%1 certificates were given, but a chain has a handful: at most %2 are read. "
                   "Please give the server certificate and its chain alone.");
const QString kKeyMismatchMessage =
    QStringLiteral("The key is not the key of this certificate: the certificate was issued "
                   "for another key.");
const QString kKeyMismatchAdvice =
    QStringLiteral("Use the key that the certificate request was made with, or request a new "
                   "certificate for this key.");
const QString kExpiredMessage = QStringLiteral("The certificate \"%1\" expired on %2.");
const QString kExpiredAdvice = QStringLiteral(
    "Renew the certificate with your certificate authority and install the new one.");
const QString kNotYetValidMessage =
    QStringLiteral("The certificate \"%1\" is not valid before %2.");
const QString kNotYetValidAdvice = QStringLiteral(
    "Check the clock of this computer and of the server, or install the certificate then.");
const QString kExpiresSoonMessage =
    QStringLiteral("The certificate \"%1\" expires in %2 days, on %3.");
const QString kExpiresSoonAdvice =
    QStringLiteral("Renew it now, so that the new certificate is installed before this one ends.");
const QString kNameMismatchMessage =
    QStringLiteral("The name %1 is not among the names of the certificate (%2).");
const QString kNameMismatchAdvice = QStringLiteral(
    "Request a certificate that names %1, or reach the server by a name that it names.");
const QString kNoSubjectAltNameMessage =
    QStringLiteral("The certificate has no subjectAltName: browsers take the names of a server "
                   "from there alone and refuse it.");
const QString kNoSubjectAltNameAdvice = QStringLiteral(
    "Request a new certificate; the requests that Certwright makes carry every name there.");
const QString kChainIncompleteMessage = QStringLiteral(
    "The chain is incomplete: the certificate of the authority \"%1\" is missing, so clients "
    "that do not have it already cannot check the certificate.");
const QString kChainIncompleteAdvice = QStringLiteral(
    "Add the authority's certificate after the server certificate (\"certwright check "
    "--write-chain FILE\" or \"Save the complete chain...\" fetches it).");
const QString kChainOrderMessage =
    QStringLiteral("The certificates are not in order: the server certificate comes first, "
                   "each followed by the certificate of its issuer.");
const QString kChainOrderAdvice = QStringLiteral(
    "Put them in that order (\"certwright check --write-chain FILE\" or \"Save the complete "
    "chain...\" writes them so).");
const QString kUntrustedRootMessage =
    QStringLiteral("The chain ends in \"%1\", a root that this system does not trust.");
const QString kSelfSignedMessage = QStringLiteral(
    "The certificate is self-signed: it is its own root, which this system does not trust.");
const QString kUntrustedRootAdvice =
    QStringLiteral("Use a certificate from an authority that browsers trust, or install the "
                   "root on every client that connects.");
const QString kWeakKeyMessage = QStringLiteral("The key is weak: %1 of %2 bits.");
const QString kWeakKeyAdvice = QStringLiteral(
    "Make a new key (RSA of at least 2048 bits, or an elliptic curve of at least 256 bits) and "
    "request a new certificate for it.");
const QString kWeakSignatureMessage =
    QStringLiteral("Signed with SHA-1 or MD5, which clients no longer accept: %1.");
const QString kWeakSignatureAdvice =
    QStringLiteral("Ask the authority for certificates signed with SHA-256 or better.");
const QString kAuthorityAsServerMessage =
    QStringLiteral("This is the certificate of an authority, not of a server.");
const QString kNoServerUsageMessage =
    QStringLiteral("The certificate's extended key usage does not allow a server (serverAuth).");
const QString kNotServerAdvice =
    QStringLiteral("Use the server certificate that the authority issued for this host.");

const QString kOtherKeyType = QStringLiteral("other");
const QString kRsaKeyType = QStringLiteral("RSA");
const QString kEcKeyType = QStringLiteral("EC");
const QString kDsaKeyType = QStringLiteral("DSA");

// ---- The tool's words

// X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, ..._GET_ISSUER_CERT_LOCALLY, ..._VERIFY_LEAF_SIGNATURE
const QList<int> kMissingIssuerErrors = {2, 20, 21};
// X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN
const QList<int> kUntrustedRootErrors = {18, 19};
const int kPurposeError = 26;  // X509_V_ERR_INVALID_PURPOSE
const int kSignatureError = 7; // X509_V_ERR_CERT_SIGNATURE_FAILURE
// Dates are judged by the program itself, for each certificate.
const QList<int> kDateErrors = {9, 10, 13, 14};
// The plain words of the tool's reasons that no other problem covers.
const QList<std::pair<QList<int>, const QString*>> kChainReasons = {
    {{24, 37}, &kNotAuthorityReason}, // INVALID_CA, INVALID_NON_CA
    {{7}, &kSignatureReason},         // CERT_SIGNATURE_FAILURE
    {{25}, &kPathLengthReason},       // PATH_LENGTH_EXCEEDED
    {{47, 48, 49, 51}, &kNameConstraintsReason},
    {{32}, &kKeyUsageReason}, // KEYUSAGE_NO_CERTSIGN
    {{26}, &kPurposeReason},  // INVALID_PURPOSE above the server
};
const int kHostnameError = 62; // X509_V_ERR_HOSTNAME_MISMATCH
const int kAddressError = 64;  // X509_V_ERR_IP_ADDRESS_MISMATCH
const QString kSignatureAlgorithmPattern = QStringLiteral("Signature Algorithm: *(\\S+)");
const QRegularExpression kWeakDigestPattern(QStringLiteral("sha1|md5|md2|md4"),
                                            QRegularExpression::CaseInsensitiveOption);
const QString kMacSha256 = QStringLiteral("MAC: sha256");
const QString kMacSha1 = QStringLiteral("MAC: sha1");
const QString kAes256 = QStringLiteral("AES-256-CBC");
const QString kTripleDes = QStringLiteral("pbeWithSHA1And3-KeyTripleDES-CBC");
const QString kRc240 = QStringLiteral("pbeWithSHA1And40BitRC2-CBC");
const QRegularExpression
    kBagAlgorithmPattern(QStringLiteral("^(PKCS7 Encrypted data|Shrouded Keybag): (.*)$"),
                         QRegularExpression::MultilineOption);
const QByteArray kUnsupportedAlgorithm = QByteArrayLiteral("unsupported");

constexpr qint64 kLargestInputBytes = 4 * 1024 * 1024;

// ---- Helpers

QList<QSslCertificate> certificatesOfFile(const QString& typed, const ToolContext& context) {
    try {
        return readCertificates(readRegularFile(typed, context), context);
    } catch (const PageError& error) {
        if (error.message() == kUnreadableCertificatesMessage)
            throw PageError(kUnreadableCertificateFileMessage.arg(typed));
        throw;
    }
}

// For the runs that trust nothing of the system's.
const OpenSSLCommands::RunLimits kWithoutTrustStore{.withoutTrustStore = true};

// The key's public half as the tool prints it.
QByteArray publicKeyOfKey(const CheckInput& input, const ScratchFolder& scratch,
                          const ToolContext& context) {
    const OpenSSLCommands::ToolRun run = runTool(
        OpenSSLCommands::publicKeyOfKey(
            context.passPhraseFolder, ToolSteps::pathForTool(input.keyFile, context.currentFolder),
            scratch.file(kScratchPublicKey)),
        context);
    QFile key(scratch.file(kScratchPublicKey));
    if (run.exitCode != 0 || !key.open(QIODevice::ReadOnly))
        throw PageError(kUnreadableKeyMessage.arg(input.keyFile));
    return key.readAll();
}

// The certificate's public key in PEM: as Qt writes it, which is as the tool prints it, for the
// kinds of key that Qt reads (RSA, EC, DSA); as the tool prints it for the others.
QByteArray publicKeyOfCertificate(const QSslCertificate& certificate, const ScratchFolder& scratch,
                                  const ToolContext& context) {
    if (const QByteArray pem = certificate.publicKey().toPem(); !pem.isEmpty())
        return pem;
    const OpenSSLCommands::ToolRun run = OpenSSLCommands::runOpenSSLTool(
        OpenSSLCommands::publicKeyOfCertificate(scratch.file(kScratchCertificate),
                                                scratch.file(kScratchCertificatePublicKey)),
        context, context.debug, kWithoutTrustStore);
    QFile key(scratch.file(kScratchCertificatePublicKey));
    if (run.exitCode != 0 || !key.open(QIODevice::ReadOnly))
        throw PageError(kToolFailedMessage.arg(kScratchCertificate));
    return key.readAll();
}

// The certificate's signature algorithm, from its text as the TLS library prints it.
QString signatureAlgorithm(const QSslCertificate& certificate) {
    static const QRegularExpression pattern(kSignatureAlgorithmPattern);
    return pattern.match(certificate.toText()).captured(1);
}

QString pfxProfileOf(const QString& info) {
    QStringList algorithms;
    for (auto match = kBagAlgorithmPattern.globalMatch(info); match.hasNext();)
        algorithms << match.next().captured(2);
    const auto all = [&algorithms](const QString& name) {
        return !algorithms.isEmpty() &&
               std::all_of(algorithms.begin(), algorithms.end(),
                           [&name](const QString& algorithm) { return algorithm.contains(name); });
    };
    if (info.contains(kMacSha256) && all(kAes256))
        return kProfileAes256Sha256;
    if (info.contains(kMacSha1) && all(kTripleDes))
        return kProfile3desSha1;
    if (info.contains(kMacSha1) && !algorithms.isEmpty() && algorithms.first().contains(kRc240))
        return kProfileRc240Sha1;
    return kProfileOther;
}

// The certificates of a .pfx file, in the bundle's order, and its protection profile.
QList<QSslCertificate> pfxCertificates(const CheckInput& input, const ScratchFolder& scratch,
                                       QString& profile, const ToolContext& context) {
    const QStringList arguments = OpenSSLCommands::pfxCertificatesAndProtection(
        context.passPhraseFolder, ToolSteps::pathForTool(input.pfxFile, context.currentFolder),
        scratch.file(kScratchPfxCertificates));
    OpenSSLCommands::ToolRun run = runTool(arguments, context);
    if (run.exitCode != 0 && run.output.contains(kUnsupportedAlgorithm))
        run = runTool(OpenSSLCommands::withLegacyAlgorithms(arguments), context);
    QFile printed(scratch.file(kScratchPfxCertificates));
    if (run.exitCode != 0 || !printed.open(QIODevice::ReadOnly))
        throw PageError(kUnreadablePfxMessage.arg(input.pfxFile), QString(),
                        QString::fromUtf8(run.output));
    profile = pfxProfileOf(QString::fromUtf8(run.output));
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromData(printed.readAll(), QSsl::Pem);
    if (certificates.isEmpty())
        throw PageError(kUnreadableCertificateFileMessage.arg(input.pfxFile));
    return certificates;
}

QString keyTypeOf(const QSslKey& key) {
    switch (key.algorithm()) {
    case QSsl::Rsa:
        return kRsaKeyType;
    case QSsl::Ec:
        return kEcKeyType;
    case QSsl::Dsa:
        return kDsaKeyType;
    default:
        return kOtherKeyType;
    }
}

void addProblem(CheckReport& report, const QString& id, const QString& message,
                const QString& advice) {
    report.problems << CheckProblem{id, message, advice, QString()};
}

void addProblem(CheckReport& report, const QString& id, const QString& message,
                const QString& advice, const QSslCertificate& about) {
    report.problems << CheckProblem{id, message, advice,
                                    CertificateText::nameText(about, Name::Subject)};
}

// The dates of every certificate of the chain, each problem naming its certificate.
void addValidityProblems(CheckReport& report, int warnDays) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QSslCertificate> all = QList{report.chain.server} + report.chain.authorities;
    if (!report.chain.root.isNull() && !all.contains(report.chain.root))
        all << report.chain.root;
    for (const QSslCertificate& certificate : all) {
        const QString name = Certificates::displayName(certificate);
        const QDateTime from = certificate.effectiveDate().toUTC();
        const QDateTime until = certificate.expiryDate().toUTC();
        if (until < now)
            addProblem(report, kExpired,
                       kExpiredMessage.arg(name, CertificateText::dateText(until)), kExpiredAdvice,
                       certificate);
        else if (from > now)
            addProblem(report, kNotYetValid,
                       kNotYetValidMessage.arg(name, CertificateText::dateText(from)),
                       kNotYetValidAdvice, certificate);
        else if (expiresSoon(from, until, now, warnDays))
            addProblem(report, kExpiresSoon,
                       kExpiresSoonMessage.arg(name)
                           .arg(now.secsTo(until) / kSecondsADay)
                           .arg(CertificateText::dateText(until)),
                       kExpiresSoonAdvice, certificate);
    }
}

void addKeyProblems(CheckReport& report) {
    const bool weak = (report.keyType == kRsaKeyType && report.keyBits < kSmallestRsaBits) ||
                      (report.keyType == kEcKeyType && report.keyBits < kSmallestCurveBits);
    if (weak)
        addProblem(report, kWeakKey, kWeakKeyMessage.arg(report.keyType).arg(report.keyBits),
                   kWeakKeyAdvice);
}

// The certificates of the chain from the server's up, as the tool counts their depth.
QList<QSslCertificate> chainFromServer(const CertificateChain& chain) {
    QList<QSslCertificate> all = QList{chain.server} + chain.authorities;
    if (!chain.root.isNull() && !all.contains(chain.root))
        all << chain.root;
    return all;
}

// The chain holds only what the tool proved by signature: a certificate whose signature does
// not match the key of the one given as its issuer, or whose issuer the tool did not find among
// those given, ends the chain there, as one whose issuer is missing.
void cutAtUnprovenLink(CertificateChain& chain, const QList<VerifyError>& complaints) {
    for (const VerifyError& error : complaints) {
        const bool badLink =
            error.code == kSignatureError || kMissingIssuerErrors.contains(error.code);
        if (!badLink || error.depth >= chain.authorities.size() + (error.code == kSignatureError))
            continue;
        const QSslCertificate& unproven =
            error.depth == 0 ? chain.server : chain.authorities[error.depth - 1];
        chain.unrelated += chain.authorities.mid(error.depth);
        chain.authorities = chain.authorities.mid(0, error.depth);
        chain.root = QSslCertificate();
        chain.end = ChainEnd::Missing;
        chain.missingIssuer = unproven.issuerDisplayName();
        return;
    }
}

// What the tool refuses in the chain that no other problem names: each once, with its
// certificate.
void addInvalidChainProblems(CheckReport& report, const QList<VerifyError>& complaints,
                             const QList<QSslCertificate>& built) {
    QList<int> named;
    for (const VerifyError& error : complaints) {
        const bool covered = kMissingIssuerErrors.contains(error.code) ||
                             kUntrustedRootErrors.contains(error.code) ||
                             kDateErrors.contains(error.code) ||
                             (error.code == kPurposeError && error.depth == 0);
        if (covered || named.contains(error.depth))
            continue;
        named << error.depth;
        QString reason = error.reason;
        for (const auto& [codes, words] : kChainReasons)
            if (codes.contains(error.code))
                reason = *words;
        const QSslCertificate about = built.value(error.depth, report.chain.server);
        addProblem(report, kInvalidChain,
                   kInvalidChainMessage.arg(Certificates::displayName(about), reason),
                   kInvalidChainAdvice, about);
    }
}

// The verdicts of the tool: the chain to a trusted root, and the server certificate alone as
// a server's and for the name.
void addVerifyProblems(CheckReport& report, const CheckInput& input, const QString& name,
                       const ScratchFolder& scratch, const ToolContext& context) {
    const QString server = scratch.file(kScratchCertificate);
    const bool withChain = !report.chain.authorities.isEmpty() || !report.chain.unrelated.isEmpty();
    const QStringList chainRun = OpenSSLCommands::judgeServerChain(
        server, withChain ? scratch.file(kScratchChain) : QString(),
        input.caFile.isEmpty() ? QString()
                               : ToolSteps::pathForTool(input.caFile, context.currentFolder));
    const QList<VerifyError> complaints = verifyComplaints(chainRun, context);
    QList<int> chainErrors;
    for (const VerifyError& error : complaints)
        chainErrors << error.code;
    const QList<QSslCertificate> built = chainFromServer(report.chain);
    cutAtUnprovenLink(report.chain, complaints);
    const auto any = [](const QList<int>& errors, const QList<int>& wanted) {
        return std::any_of(wanted.begin(), wanted.end(),
                           [&errors](int error) { return errors.contains(error); });
    };
    // The server certificate alone, as its own anchor: its purpose and its name in one run, as
    // the tool goes on to the name after a purpose it refuses.
    const QList<int> aloneErrors = verifyErrors(
        OpenSSLCommands::judgeCertificateAlone(server, name, !QHostAddress(name).isNull()),
        context);

    if (aloneErrors.contains(kHostnameError) || aloneErrors.contains(kAddressError))
        addProblem(report, kNameMismatch,
                   kNameMismatchMessage.arg(name, report.names.isEmpty()
                                                      ? kNoNames
                                                      : report.names.join(QStringLiteral(", "))),
                   kNameMismatchAdvice.arg(name));
    const CertificateChain& chain = report.chain;
    const QSslCertificate& last =
        chain.authorities.isEmpty() ? chain.server : chain.authorities.constLast();
    const QString missing = chain.missingIssuer.isEmpty() ? report.issuer : chain.missingIssuer;
    const bool issuerMissing =
        chain.end == ChainEnd::Missing || any(chainErrors, kMissingIssuerErrors);
    // A given certificate of the issuer's name whose signature failed is no unknown root.
    const bool issuerGiven =
        std::any_of(chain.unrelated.begin(), chain.unrelated.end(), [&last](const auto& given) {
            return given.subjectDisplayName() == last.issuerDisplayName();
        });
    const bool unknownRoot = issuerMissing && chain.end == ChainEnd::Missing && !issuerGiven &&
                             missingIssuerIsRoot(last, missing, context, input.cancel);
    if (unknownRoot)
        addProblem(report, kUntrustedRoot, kUnknownRootMessage.arg(missing), kUnknownRootAdvice);
    else if (issuerMissing)
        addProblem(report, kChainIncomplete, kChainIncompleteMessage.arg(missing),
                   kChainIncompleteAdvice);
    if (!chain.inputInOrder)
        addProblem(report, kChainOrder, kChainOrderMessage, kChainOrderAdvice);
    if (!unknownRoot &&
        (chain.end == ChainEnd::UntrustedRoot || any(chainErrors, kUntrustedRootErrors)))
        addProblem(report, kUntrustedRoot,
                   chain.root == chain.server
                       ? kSelfSignedMessage
                       : kUntrustedRootMessage.arg(Certificates::displayName(chain.root)),
                   kUntrustedRootAdvice);
    addInvalidChainProblems(report, complaints, built);
    if (Certificates::isAuthority(chain.server))
        addProblem(report, kNotServerCertificate, kAuthorityAsServerMessage, kNotServerAdvice);
    else if (aloneErrors.contains(kPurposeError))
        addProblem(report, kNotServerCertificate, kNoServerUsageMessage, kNotServerAdvice);
}

void addSignatureProblems(CheckReport& report) {
    QStringList weak;
    // A root vouches for itself: its own signature is never checked.
    if (!Certificates::isSelfIssued(report.chain.server) &&
        kWeakDigestPattern.match(report.signature).hasMatch())
        weak << Certificates::displayName(report.chain.server);
    for (const QSslCertificate& authority : report.chain.authorities)
        if (!Certificates::isSelfIssued(authority) &&
            kWeakDigestPattern.match(signatureAlgorithm(authority)).hasMatch())
            weak << Certificates::displayName(authority);
    if (!weak.isEmpty())
        addProblem(report, kWeakSignature,
                   kWeakSignatureMessage.arg(weak.join(QStringLiteral(", "))),
                   kWeakSignatureAdvice);
}

// The certificates of the input, in the order given, with the key's public half when a key
// was given and the .pfx file's profile.
QList<QSslCertificate> inputCertificates(const CheckInput& input, const ScratchFolder& scratch,
                                         QByteArray& keyPublicPem, QString& profile,
                                         const ToolContext& context) {
    if (!input.certificates.isEmpty()) {
        keyPublicPem = input.keyPublicPem;
        return input.certificates;
    }
    if (!input.host.isEmpty())
        return serverCertificates(input, context);
    if (!input.pfxFile.isEmpty())
        return pfxCertificates(input, scratch, profile, context);
    if (input.certificateFile.isEmpty())
        throw PageError(kNothingToCheckMessage);
    QList<QSslCertificate> certificates = certificatesOfFile(input.certificateFile, context);
    for (const QString& chainFile : input.chainFiles)
        certificates += certificatesOfFile(chainFile, context);
    if (!input.keyFile.isEmpty())
        keyPublicPem = publicKeyOfKey(input, scratch, context);
    return certificates;
}

} // namespace

QByteArray readRegularFile(const QString& typed, const ToolContext& context) {
    UserFile::Failure failure;
    const std::optional<QByteArray> content =
        UserFile::read(ToolSteps::pathForTool(typed, context.currentFolder),
                       {.largestBytes = kLargestInputBytes}, &failure);
    if (content)
        return *content;
    switch (failure.refusal) {
    case UserFile::Refusal::NotRegular:
        throw PageError(kUnreadableFileMessage.arg(typed, kNotRegularReason));
    case UserFile::Refusal::TooLarge:
        throw PageError(kUnreadableFileMessage.arg(typed, kTooLargeReason));
    default:
        throw PageError(kUnreadableFileMessage.arg(typed, failure.systemReason()));
    }
}

QDateTime soonFrom(const QDateTime& notBefore, const QDateTime& notAfter, int warnDays) {
    if (warnDays >= 0)
        return notAfter.addSecs(-warnDays * kSecondsADay);
    const qint64 third = notBefore.secsTo(notAfter) / 3;
    return notAfter.addSecs(-std::min(third, qint64(kExpiresSoonDays) * kSecondsADay));
}

bool expiresSoon(const QDateTime& notBefore, const QDateTime& notAfter, const QDateTime& now,
                 int warnDays) {
    return now > soonFrom(notBefore, notAfter, warnDays);
}

CheckReport checkCertificate(const CheckInput& input, const ToolContext& context) {
    const ScratchFolder scratch;
    const bool passPhraseUsed =
        input.host.isEmpty() && (!input.keyFile.isEmpty() || !input.pfxFile.isEmpty());
    const auto emptyPassPhrases = qScopeGuard([passPhraseUsed] {
        try {
            if (passPhraseUsed)
                emptyPassPhraseFiles();
        } catch (const PageError&) {
        }
    });
    if (passPhraseUsed)
        writePassPhrases(context.passPhraseFolder, {input.passPhrase, QString()});

    CheckReport report;
    for (const QString& typed :
         QStringList{input.certificateFile, input.keyFile, input.pfxFile, input.caFile} +
             input.chainFiles)
        if (!typed.isEmpty())
            report.inputFiles << ToolSteps::pathForTool(typed, context.currentFolder);
    // The tool opens these by their names: each must be a regular file first, so that a FIFO
    // or a device put there cannot hold the tool up.
    for (const QString& typed : {input.keyFile, input.pfxFile, input.caFile})
        if (!typed.isEmpty())
            readRegularFile(typed, context);
    QByteArray keyPublicPem;
    const QList<QSslCertificate> certificates =
        inputCertificates(input, scratch, keyPublicPem, report.pfxProfile, context);
    if (certificates.size() > kMostCertificates)
        throw PageError(
            kTooManyCertificatesMessage.arg(certificates.size()).arg(kMostCertificates));
    report.chain = orderChain(certificates, keyPublicPem,
                              input.caFile.isEmpty()
                                  ? QString()
                                  : ToolSteps::pathForTool(input.caFile, context.currentFolder));
    const QSslCertificate& server = report.chain.server;
    scratch.write(kScratchCertificate, server.toPem());
    scratch.write(kScratchChain, pemOf(report.chain.authorities + report.chain.unrelated));

    report.subject = CertificateText::nameText(server, Name::Subject);
    report.names = CertificateText::alternativeNames(server);
    report.issuer = CertificateText::nameText(server, Name::Issuer);
    report.notBefore = server.effectiveDate().toUTC();
    report.notAfter = server.expiryDate().toUTC();
    const qint64 secondsLeft = QDateTime::currentDateTimeUtc().secsTo(report.notAfter);
    report.daysLeft = secondsLeft >= 0 ? secondsLeft / kSecondsADay
                                       : -((-secondsLeft + kSecondsADay - 1) / kSecondsADay);
    const QSslKey key = server.publicKey();
    report.keyType = keyTypeOf(key);
    report.keyBits = key.length();
    report.signature = signatureAlgorithm(server);

    if (!keyPublicPem.isEmpty() &&
        Certificates::publicKeyBytes(keyPublicPem) !=
            Certificates::publicKeyBytes(publicKeyOfCertificate(server, scratch, context)))
        addProblem(report, kKeyMismatch, kKeyMismatchMessage, kKeyMismatchAdvice);
    addValidityProblems(report, input.warnDays);
    if (report.names.isEmpty())
        addProblem(report, kNoSubjectAltName, kNoSubjectAltNameMessage, kNoSubjectAltNameAdvice);
    addVerifyProblems(report, input, input.name.isEmpty() ? input.host : input.name, scratch,
                      context);
    for (const QSslCertificate& authority : report.chain.authorities)
        report.chainEntries << ChainEntry{CertificateText::nameText(authority, Name::Subject),
                                          CertificateText::nameText(authority, Name::Issuer),
                                          authority.expiryDate().toUTC()};
    addKeyProblems(report);
    addSignatureProblems(report);
    return report;
}

} // namespace CertificateCheck
