#include "uOpenSSLCommands.h"

#include "uCertwrightCommon.h"
#include "uExternalApp.h"

#include <initializer_list>
#include <memory>

namespace OpenSSLCommands {

namespace {

const QString kDoubleQuoteMessage =
    QStringLiteral("The value \"%1\" contains a double quote (\"), which cannot be passed to "
                   "the OpenSSL tool. Please choose a value without double quotes");

const QString kLegacyOption = QStringLiteral(" -legacy");

const QString kOlderWindowsPfxOptions =
    QStringLiteral(" -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1");

// The values go into the command line unescaped, so a double quote would end a quoted path
// early and hand the tool a different command line than the one intended.
void refuseDoubleQuotes(std::initializer_list<QString> values) {
    for (const QString& value : values)
        if (value.contains(QLatin1Char('"')))
            throw PageError(doubleQuoteMessage(value));
}

} // namespace

QString doubleQuoteMessage(const QString& value) {
    return kDoubleQuoteMessage.arg(value);
}

bool isEllipticCurve(const QString& keySize) {
    return keySize == kCurveP256 || keySize == kCurveP384;
}

// Each template is filled in one pass, so a value that holds "%1" stays as it is.

QString makeEncryptedKey(const QString& prog, const QString& folder, const QString& base,
                         const QString& bits) {
    refuseDoubleQuotes({prog, folder, base, bits});
    return QStringLiteral(R"(genrsa -des3 -passout file:"%1passnew.txt" -out "%2%3.key" %4)")
        .arg(prog, folder, base, bits);
}

QString makeEncryptedEcKey(const QString& prog, const QString& folder, const QString& base,
                           const QString& curve) {
    refuseDoubleQuotes({prog, folder, base, curve});
    return QStringLiteral(R"(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:%4 -aes256 )"
                          R"(-pass file:"%1passnew.txt" -out "%2%3.key")")
        .arg(prog, folder, base, curve);
}

QString makeRequest(const QString& prog, const QString& folder, const QString& base) {
    refuseDoubleQuotes({prog, folder, base});
    return QStringLiteral(R"(req -new -config "%2__config.tmp" -key "%2%3.key" -out "%2%3.csr" )"
                          R"(-passin file:"%1passnew.txt")")
        .arg(prog, folder, base);
}

QString makePlainKey(const QString& folder, const QString& base, const QString& bits) {
    refuseDoubleQuotes({folder, base, bits});
    return QStringLiteral(R"(genrsa -out "%1%2.key" %3)").arg(folder, base, bits);
}

QString makePlainEcKey(const QString& folder, const QString& base, const QString& curve) {
    refuseDoubleQuotes({folder, base, curve});
    return QStringLiteral(R"(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:%3 -out "%1%2.key")")
        .arg(folder, base, curve);
}

QString makeSelfSignedCertificate(const QString& folder, const QString& base, const QString& days) {
    refuseDoubleQuotes({folder, base, days});
    return QStringLiteral(R"(req -new -x509 -nodes -sha256 -days %3 -config "%1__config.tmp" )"
                          R"(-key "%1%2.key" -out "%1%2.cer")")
        .arg(folder, base, days);
}

QString exportPfx(const QString& prog, const QString& key, const QString& cert, const QString& pfx,
                  const QString& name, PfxProtection protection) {
    refuseDoubleQuotes({prog, key, cert, pfx, name});
    return QStringLiteral(R"(pkcs12 -export -inkey "%2" -in "%3" -out "%4" -name "%5" )"
                          R"(-password file:"%1passnew.txt" -passin file:"%1passcurrent.txt")")
               .arg(prog, key, cert, pfx, name) +
           (protection == PfxProtection::OlderWindows ? kOlderWindowsPfxOptions : QString());
}

QString extractKeyFromPfx(const QString& prog, const QString& pfx, const QString& folder) {
    refuseDoubleQuotes({prog, pfx, folder});
    return QStringLiteral(R"(pkcs12 -in "%2" -nocerts -out "%3key.pem" )"
                          R"(-password file:"%1passcurrent.txt" -passout file:"%1passnew.txt")")
        .arg(prog, pfx, folder);
}

QString extractCertificateFromPfx(const QString& prog, const QString& pfx, const QString& folder) {
    refuseDoubleQuotes({prog, pfx, folder});
    return QStringLiteral(R"(pkcs12 -in "%2" -clcerts -nokeys -out "%3cert.pem" )"
                          R"(-password file:"%1passcurrent.txt")")
        .arg(prog, pfx, folder);
}

QString exportTemporaryBundle(const QString& prog, const QString& key, const QString& cert,
                              const QString& folder, const QString& name) {
    refuseDoubleQuotes({prog, key, cert, folder, name});
    return QStringLiteral(R"(pkcs12 -export -inkey "%2" -in "%3" -out "%4__tmp.p12" -name "%5" )"
                          R"(-passout file:"%1passnew.txt" -passin file:"%1passcurrent.txt")")
        .arg(prog, key, cert, folder, name);
}

QString extractKeyFromTemporaryBundle(const QString& prog, const QString& folder) {
    refuseDoubleQuotes({prog, folder});
    return QStringLiteral(R"(pkcs12 -nocerts -in "%2__tmp.p12" -out "%2key.pem" )"
                          R"(-passin file:"%1passcurrent.txt" -passout file:"%1passnew.txt")")
        .arg(prog, folder);
}

QString extractCertificateFromTemporaryBundle(const QString& prog, const QString& folder) {
    refuseDoubleQuotes({prog, folder});
    return QStringLiteral(R"(pkcs12 -clcerts -nokeys -in "%2__tmp.p12" -out "%2cert.pem" )"
                          R"(-passin file:"%1passnew.txt")")
        .arg(prog, folder);
}

QString withLegacyAlgorithms(const QString& commandLine) {
    return commandLine + kLegacyOption;
}

ToolRun runOpenSSLTool(const QString& commandLine, bool showWindow) {
    const auto runner = std::make_unique<TExternalApp>();
    runner->ShowAppWindow = showWindow;
    runner->ModuleName = ProgramFolder() + kToolName;
    runner->CommandLine = commandLine;
    runner->StartProcess();
    runner->WaitForProcess();
    return {runner->ModuleName,   commandLine,   runner->Output(),   runner->ExitCode(),
            runner->StartError(), runner->End(), runner->EndSignal()};
}

} // namespace OpenSSLCommands
