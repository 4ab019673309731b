#include "uOpenSSLCommands.h"

#include "uPassPhraseFiles.h"

#include <QRegularExpression>
#include <QScopeGuard>

#include <memory>

namespace OpenSSLCommands {

namespace {

const QString kLegacyOption = QStringLiteral("-legacy");

const QStringList kOlderWindowsPfxOptions = {
    QStringLiteral("-certpbe"),      QStringLiteral("PBE-SHA1-3DES"), QStringLiteral("-keypbe"),
    QStringLiteral("PBE-SHA1-3DES"), QStringLiteral("-macalg"),       QStringLiteral("sha1")};

const QString kConfigurationFile = QStringLiteral("__config.tmp");
const QString kBundleFile = QStringLiteral("__tmp.p12");
const QString kAuthoritiesFile = QStringLiteral("root.pem");
// Where the tool looks for the system's roots, pointed at nothing.

// A judging run that accepts keys and digests of any strength and leaves the dates alone.
const QStringList kLenientJudgement = {QStringLiteral("verify"), QStringLiteral("-auth_level"),
                                       QStringLiteral("0"), QStringLiteral("-no_check_time")};
const QStringList kServerPurpose = {QStringLiteral("-purpose"), QStringLiteral("sslserver")};

// The tool reads a pass phrase from the first line of the file named after "file:".
QString newPassPhrase(const QString& prog) {
    return QStringLiteral("file:") + prog + kNewPassPhraseFile;
}

QString currentPassPhrase(const QString& prog) {
    return QStringLiteral("file:") + prog + kCurrentPassPhraseFile;
}

} // namespace

bool isEllipticCurve(const QString& keySize) {
    return keySize == kCurveP256 || keySize == kCurveP384;
}

QStringList makeEncryptedKey(const QString& prog, const QString& folder, const QString& base,
                             const QString& bits) {
    return {QStringLiteral("genrsa"),
            QStringLiteral("-des3"),
            QStringLiteral("-passout"),
            newPassPhrase(prog),
            QStringLiteral("-out"),
            folder + base + QStringLiteral(".key"),
            bits};
}

QStringList makeEncryptedEcKey(const QString& prog, const QString& folder, const QString& base,
                               const QString& curve) {
    return {QStringLiteral("genpkey"),
            QStringLiteral("-algorithm"),
            QStringLiteral("EC"),
            QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:") + curve,
            QStringLiteral("-aes256"),
            QStringLiteral("-pass"),
            newPassPhrase(prog),
            QStringLiteral("-out"),
            folder + base + QStringLiteral(".key")};
}

QStringList makeRequest(const QString& prog, const QString& folder, const QString& base) {
    return {QStringLiteral("req"),     QStringLiteral("-new"),
            QStringLiteral("-config"), folder + kConfigurationFile,
            QStringLiteral("-key"),    folder + base + QStringLiteral(".key"),
            QStringLiteral("-out"),    folder + base + QStringLiteral(".csr"),
            QStringLiteral("-passin"), newPassPhrase(prog)};
}

QStringList makePlainKey(const QString& folder, const QString& base, const QString& bits) {
    return {QStringLiteral("genrsa"), QStringLiteral("-out"),
            folder + base + QStringLiteral(".key"), bits};
}

QStringList makePlainEcKey(const QString& folder, const QString& base, const QString& curve) {
    return {QStringLiteral("genpkey"),
            QStringLiteral("-algorithm"),
            QStringLiteral("EC"),
            QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:") + curve,
            QStringLiteral("-out"),
            folder + base + QStringLiteral(".key")};
}

QStringList makeSelfSignedCertificate(const QString& folder, const QString& base,
                                      const QString& days) {
    return {QStringLiteral("req"),
            QStringLiteral("-new"),
            QStringLiteral("-x509"),
            QStringLiteral("-nodes"),
            QStringLiteral("-sha256"),
            QStringLiteral("-days"),
            days,
            QStringLiteral("-config"),
            folder + kConfigurationFile,
            QStringLiteral("-key"),
            folder + base + QStringLiteral(".key"),
            QStringLiteral("-out"),
            folder + base + QStringLiteral(".cer")};
}

QStringList exportPfx(const QString& prog, const QString& key, const QString& cert,
                      const QString& pfx, const QString& name, PfxProtection protection) {
    QStringList arguments = {QStringLiteral("pkcs12"),    QStringLiteral("-export"),
                             QStringLiteral("-inkey"),    key,
                             QStringLiteral("-in"),       cert,
                             QStringLiteral("-out"),      pfx,
                             QStringLiteral("-name"),     name,
                             QStringLiteral("-password"), newPassPhrase(prog),
                             QStringLiteral("-passin"),   currentPassPhrase(prog)};
    if (protection == PfxProtection::OlderWindows)
        arguments << kOlderWindowsPfxOptions;
    return arguments;
}

QStringList extractKeyFromPfx(const QString& prog, const QString& pfx, const QString& folder) {
    return {
        QStringLiteral("pkcs12"),    QStringLiteral("-in"),   pfx,
        QStringLiteral("-nocerts"),  QStringLiteral("-out"),  folder + QStringLiteral("key.pem"),
        QStringLiteral("-password"), currentPassPhrase(prog), QStringLiteral("-passout"),
        newPassPhrase(prog)};
}

QStringList extractCertificateFromPfx(const QString& prog, const QString& pfx,
                                      const QString& folder) {
    return {QStringLiteral("pkcs12"),
            QStringLiteral("-in"),
            pfx,
            QStringLiteral("-clcerts"),
            QStringLiteral("-nokeys"),
            QStringLiteral("-out"),
            folder + QStringLiteral("cert.pem"),
            QStringLiteral("-password"),
            currentPassPhrase(prog)};
}

QStringList exportTemporaryBundle(const QString& prog, const QString& key, const QString& cert,
                                  const QString& folder, const QString& name) {
    return {QStringLiteral("pkcs12"),   QStringLiteral("-export"),
            QStringLiteral("-inkey"),   key,
            QStringLiteral("-in"),      cert,
            QStringLiteral("-out"),     folder + kBundleFile,
            QStringLiteral("-name"),    name,
            QStringLiteral("-passout"), newPassPhrase(prog),
            QStringLiteral("-passin"),  currentPassPhrase(prog)};
}

QStringList extractAuthoritiesFromPfx(const QString& prog, const QString& pfx,
                                      const QString& folder) {
    return {QStringLiteral("pkcs12"),   QStringLiteral("-in"),       pfx,
            QStringLiteral("-cacerts"), QStringLiteral("-nokeys"),   QStringLiteral("-out"),
            folder + kAuthoritiesFile,  QStringLiteral("-password"), currentPassPhrase(prog)};
}

QStringList extractAuthoritiesFromTemporaryBundle(const QString& prog, const QString& folder) {
    return {QStringLiteral("pkcs12"),  QStringLiteral("-cacerts"), QStringLiteral("-nokeys"),
            QStringLiteral("-in"),     folder + kBundleFile,       QStringLiteral("-out"),
            folder + kAuthoritiesFile, QStringLiteral("-passin"),  newPassPhrase(prog)};
}

QStringList printPublicKey(const QString& key) {
    return {QStringLiteral("pkey"), QStringLiteral("-in"), key, QStringLiteral("-pubout")};
}

QStringList verifyServerCertificate(const QString& certificates, const QString& caFile) {
    QStringList arguments = {QStringLiteral("verify"), QStringLiteral("-purpose"),
                             QStringLiteral("sslserver")};
    if (!caFile.isEmpty())
        arguments << QStringLiteral("-CAfile") << caFile;
    return arguments << QStringLiteral("-untrusted") << certificates << certificates;
}

QStringList serverCertificates(const QString& connectAddress, const QString& serverName) {
    QStringList arguments = {QStringLiteral("s_client"), QStringLiteral("-connect"), connectAddress,
                             QStringLiteral("-showcerts"), QStringLiteral("-verify_quiet")};
    if (!serverName.isEmpty())
        arguments << QStringLiteral("-servername") << serverName;
    return arguments;
}

QStringList bundleCertificates(const QString& bundle, bool pem, const QString& out) {
    return {QStringLiteral("pkcs7"),
            QStringLiteral("-inform"),
            pem ? QStringLiteral("PEM") : QStringLiteral("DER"),
            QStringLiteral("-in"),
            bundle,
            QStringLiteral("-print_certs"),
            QStringLiteral("-out"),
            out};
}

QStringList publicKeyOfKey(const QString& prog, const QString& key, const QString& out) {
    return {QStringLiteral("pkey"),
            QStringLiteral("-in"),
            key,
            QStringLiteral("-passin"),
            currentPassPhrase(prog),
            QStringLiteral("-pubout"),
            QStringLiteral("-out"),
            out};
}

QStringList publicKeyOfCertificate(const QString& certificate, const QString& out) {
    return {
        QStringLiteral("x509"),    QStringLiteral("-in"),  certificate, QStringLiteral("-noout"),
        QStringLiteral("-pubkey"), QStringLiteral("-out"), out};
}

QStringList pfxCertificatesAndProtection(const QString& prog, const QString& pfx,
                                         const QString& out) {
    return {QStringLiteral("pkcs12"),
            QStringLiteral("-info"),
            QStringLiteral("-nokeys"),
            QStringLiteral("-in"),
            pfx,
            QStringLiteral("-passin"),
            currentPassPhrase(prog),
            QStringLiteral("-out"),
            out};
}

QStringList judgeServerChain(const QString& certificate, const QString& untrusted,
                             const QString& caFile) {
    QStringList arguments = kLenientJudgement + kServerPurpose;
    if (!caFile.isEmpty())
        arguments << QStringLiteral("-CAfile") << caFile;
    if (!untrusted.isEmpty())
        arguments << QStringLiteral("-untrusted") << untrusted;
    return arguments << certificate;
}

QStringList judgeCertificateAlone(const QString& certificate, const QString& name,
                                  bool nameIsAddress) {
    QStringList arguments =
        kLenientJudgement +
        QStringList{QStringLiteral("-partial_chain"), QStringLiteral("-trusted"), certificate} +
        kServerPurpose;
    if (!name.isEmpty())
        arguments << (nameIsAddress ? QStringLiteral("-verify_ip")
                                    : QStringLiteral("-verify_hostname"))
                  << name;
    return arguments << certificate;
}

QStringList judgeSignature(const QString& issuer, const QString& certificate) {
    return kLenientJudgement + QStringList{QStringLiteral("-partial_chain"),
                                           QStringLiteral("-trusted"), issuer, certificate};
}

QStringList judgeChainToWrite(const QString& chain, const QString& caFile) {
    QStringList arguments =
        QStringList{QStringLiteral("verify"), QStringLiteral("-auth_level"), QStringLiteral("0")} +
        kServerPurpose;
    if (!caFile.isEmpty())
        arguments << QStringLiteral("-CAfile") << caFile;
    return arguments << QStringLiteral("-untrusted") << chain << chain;
}

QStringList withChain(const QStringList& arguments, const QString& chainFile) {
    return arguments + QStringList{QStringLiteral("-certfile"), chainFile};
}

QStringList extractKeyFromTemporaryBundle(const QString& prog, const QString& folder) {
    return {QStringLiteral("pkcs12"),   QStringLiteral("-nocerts"),
            QStringLiteral("-in"),      folder + kBundleFile,
            QStringLiteral("-out"),     folder + QStringLiteral("key.pem"),
            QStringLiteral("-passin"),  currentPassPhrase(prog),
            QStringLiteral("-passout"), newPassPhrase(prog)};
}

QStringList extractCertificateFromTemporaryBundle(const QString& prog, const QString& folder) {
    return {QStringLiteral("pkcs12"),
            QStringLiteral("-clcerts"),
            QStringLiteral("-nokeys"),
            QStringLiteral("-in"),
            folder + kBundleFile,
            QStringLiteral("-out"),
            folder + QStringLiteral("cert.pem"),
            QStringLiteral("-passin"),
            newPassPhrase(prog)};
}

QStringList plainKeyCopy(const QString& prog, const QString& key, const QString& out) {
    return {QStringLiteral("pkey"),  QStringLiteral("-in"),  key, QStringLiteral("-passin"),
            currentPassPhrase(prog), QStringLiteral("-out"), out};
}

QStringList encryptedKeyCopy(const QString& prog, const QString& key, const QString& out) {
    return {QStringLiteral("pkey"),
            QStringLiteral("-in"),
            key,
            QStringLiteral("-passin"),
            currentPassPhrase(prog),
            QStringLiteral("-aes256"),
            QStringLiteral("-passout"),
            newPassPhrase(prog),
            QStringLiteral("-out"),
            out};
}

QStringList certificatesCopy(const QString& certificates, const QString& out) {
    return {QStringLiteral("storeutl"), QStringLiteral("-certs"), QStringLiteral("-out"), out,
            certificates};
}

QStringList firstCertificateCopy(const QString& certificates, const QString& out) {
    return {QStringLiteral("x509"), QStringLiteral("-in"), certificates, QStringLiteral("-out"),
            out};
}

QStringList certificatesAndKeyCopy(const QString& objects, const QString& out) {
    return {QStringLiteral("storeutl"), QStringLiteral("-out"), out, objects};
}

QStringList withLegacyAlgorithms(const QStringList& arguments) {
    return arguments + QStringList{kLegacyOption};
}

QString readableCommandLine(const QString& program, const QStringList& arguments) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9@%+=:,./_-]+$"));
    QStringList words;
    for (const QString& word : QStringList{program} + arguments)
        words << (plain.match(word).hasMatch()
                      ? word
                      : QLatin1Char('\'') +
                            QString(word).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
                            QLatin1Char('\''));
    return words.join(QLatin1Char(' '));
}

namespace {
// What the tool writes for each complaint, most telling first.
struct ComplaintSigns {
    QStringList signs;
    ToolComplaint complaint;
};

const ComplaintSigns kComplaintSigns[] = {
    {{QStringLiteral("key values mismatch")}, ToolComplaint::KeyMismatch},
    {{QStringLiteral("Mac verify error"), QStringLiteral("bad decrypt"),
      QStringLiteral("maybe wrong password")},
     ToolComplaint::WrongPassPhrase},
    {{QStringLiteral("Type=PKCS12"), QStringLiteral("asn1_d2i_read_bio"),
      QStringLiteral("ASN1_get_object")},
     ToolComplaint::NotPkcs12},
    {{QStringLiteral("Could not read private key"), QStringLiteral("unable to load private key"),
      QStringLiteral("DECODER routines")},
     ToolComplaint::NotPrivateKey},
    {{QStringLiteral("Could not read any certificates"),
      QStringLiteral("unable to load certificate")},
     ToolComplaint::NotCertificate},
};
} // namespace

ToolComplaint complaintIn(const QByteArray& output) {
    const QString text = QString::fromLocal8Bit(output);
    for (const ComplaintSigns& entry : kComplaintSigns)
        for (const QString& sign : entry.signs)
            if (text.contains(sign, Qt::CaseInsensitive))
                return entry.complaint;
    return ToolComplaint::None;
}

bool saysAlgorithmUnsupported(const QByteArray& output) {
    for (const QByteArray& line : output.split('\n'))
        if (line.contains("digital envelope routines") && line.contains(":unsupported:"))
            return true;
    return false;
}

ToolRun runOpenSSLTool(const QStringList& arguments, const ToolContext& context, bool showWindow,
                       const RunLimits& limits) {
    return runChild({.program = context.programFolder + kToolName,
                     .arguments = arguments,
                     .directory = context.programFolder,
                     .shown = showWindow},
                    limits);
}

} // namespace OpenSSLCommands
