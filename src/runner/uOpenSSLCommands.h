#pragma once

#include "uExternalApp.h"

#include <QByteArray>
#include <QString>

// The command lines that the openssl tool receives, one function per invocation.
// Folders end in a separator. Every function refuses (PageError) a value holding a double
// quote, which would break the command line; callers build their command lines before they
// delete or write any file, so a refused value touches nothing.
namespace OpenSSLCommands {

// The tool's file name in the program folder.
inline const QString kToolName = QStringLiteral("openssl");

// How a .pfx bundle is protected: as the tool does today (AES-256, SHA-256 MAC), or with
// triple DES and a SHA-1 MAC, which Windows Server 2016 and older can import.
enum class PfxProtection { Current, OlderWindows };

// Message of the refusal of a value that holds a double quote.
QString doubleQuoteMessage(const QString& value);

// The elliptic curves that a key may be made on, as the tool names them. A key size that is
// none of them is a number of RSA bits.
inline const QString kCurveP256 = QStringLiteral("P-256");
inline const QString kCurveP384 = QStringLiteral("P-384");
bool isEllipticCurve(const QString& keySize);

QString makeEncryptedKey(const QString& prog, const QString& folder, const QString& base,
                         const QString& bits);
QString makeEncryptedEcKey(const QString& prog, const QString& folder, const QString& base,
                           const QString& curve);
QString makeRequest(const QString& prog, const QString& folder, const QString& base);
QString makePlainKey(const QString& folder, const QString& base, const QString& bits);
QString makePlainEcKey(const QString& folder, const QString& base, const QString& curve);
QString makeSelfSignedCertificate(const QString& folder, const QString& base, const QString& days);
QString exportPfx(const QString& prog, const QString& key, const QString& cert, const QString& pfx,
                  const QString& name, PfxProtection protection);
QString extractKeyFromPfx(const QString& prog, const QString& pfx, const QString& folder);
QString extractCertificateFromPfx(const QString& prog, const QString& pfx, const QString& folder);
QString exportTemporaryBundle(const QString& prog, const QString& key, const QString& cert,
                              const QString& folder, const QString& name);
QString extractKeyFromTemporaryBundle(const QString& prog, const QString& folder);
QString extractCertificateFromTemporaryBundle(const QString& prog, const QString& folder);

// The command line of a pkcs12 run that may also use the algorithms of the tool's legacy
// provider (RC2-40, which older Windows uses in the .pfx files that it exports).
QString withLegacyAlgorithms(const QString& commandLine);

// What one run of the tool leaves behind apart from the files it writes.
struct ToolRun {
    QString program; // the tool's full path
    QString commandLine;
    QByteArray output;  // the end of what the tool wrote, standard output and error together
    int exitCode = -1;  // -1 when the tool did not end by itself
    QString startError; // why the tool could not be started; empty when it started
    RunEnd end = RunEnd::NotStarted;
    int endSignal = 0; // the signal that ended the tool (RunEnd::Signalled)
};

// One run of the tool from the program folder with the command line; waits until it ends.
ToolRun runOpenSSLTool(const QString& commandLine, bool showWindow);

} // namespace OpenSSLCommands
