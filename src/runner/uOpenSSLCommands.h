#pragma once

#include "ChildRun.h"
#include "uToolContext.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The arguments that the openssl tool receives, one function per invocation; the first is the
// tool's command (genrsa, req, pkcs12), as the tool reads its own name from it. Folders end in
// a separator. Every value becomes one argument, or the end of one, exactly as given: the list
// reaches the tool as it is, so no value can split an argument or add one.
namespace OpenSSLCommands {

// The tool's file name in the program folder.
inline const QString kToolName = QStringLiteral("openssl");

// How a .pfx bundle is protected: as the tool does today (AES-256, SHA-256 MAC), or with
// triple DES and a SHA-1 MAC, which Windows Server 2016 and older can import.
enum class PfxProtection { Current, OlderWindows };

// The elliptic curves that a key may be made on, as the tool names them. A key size that is
// none of them is a number of RSA bits.
inline const QString kCurveP256 = QStringLiteral("P-256");
inline const QString kCurveP384 = QStringLiteral("P-384");
bool isEllipticCurve(const QString& keySize);

QStringList makeEncryptedKey(const QString& prog, const QString& folder, const QString& base,
                             const QString& bits);
QStringList makeEncryptedEcKey(const QString& prog, const QString& folder, const QString& base,
                               const QString& curve);
QStringList makeRequest(const QString& prog, const QString& folder, const QString& base);
QStringList makePlainKey(const QString& folder, const QString& base, const QString& bits);
QStringList makePlainEcKey(const QString& folder, const QString& base, const QString& curve);
QStringList makeSelfSignedCertificate(const QString& folder, const QString& base,
                                      const QString& days);
QStringList exportPfx(const QString& prog, const QString& key, const QString& cert,
                      const QString& pfx, const QString& name, PfxProtection protection);
QStringList extractKeyFromPfx(const QString& prog, const QString& pfx, const QString& folder);
QStringList extractCertificateFromPfx(const QString& prog, const QString& pfx,
                                      const QString& folder);
QStringList exportTemporaryBundle(const QString& prog, const QString& key, const QString& cert,
                                  const QString& folder, const QString& name);
// The authority certificates of a bundle, in the order that the bundle holds them, into
// root.pem of the folder.
QStringList extractAuthoritiesFromPfx(const QString& prog, const QString& pfx,
                                      const QString& folder);
QStringList extractAuthoritiesFromTemporaryBundle(const QString& prog, const QString& folder);
// The public key of a key file, in PEM on standard output. No pass phrase is given: an encrypted
// key fails to open.
QStringList printPublicKey(const QString& key);
// Verifies the first certificate of a file, as a server's, by signature up to a root that the
// system or the CA file (when given) trusts, with the other certificates of the file as the
// chain; the tool says OK and ends with 0 only when it holds.
QStringList verifyServerCertificate(const QString& certificates, const QString& caFile);
// The section of a configuration file that the tool reads when it makes a request or a
// self-signed certificate.
inline const QString kRequestSection = QStringLiteral("[ req ]");

// The certificates that a server sends in its handshake, printed in PEM among the rest of the
// tool's output, from a connection to connectAddress ("HOST:PORT"). A serverName (a host name,
// never an address) goes into the server name indication; none when it is empty.
QStringList serverCertificates(const QString& connectAddress, const QString& serverName);
// Every certificate of a PKCS#7 bundle, PEM or DER, printed in PEM into out.
QStringList bundleCertificates(const QString& bundle, bool pem, const QString& out);
// The public key of a key file opened with the current pass phrase (ignored for a key without
// one), in PEM into out.
QStringList publicKeyOfKey(const QString& prog, const QString& key, const QString& out);
// The public key of the first certificate of a file, in PEM into out.
QStringList publicKeyOfCertificate(const QString& certificate, const QString& out);
// The certificates of a .pfx file opened with the current pass phrase, in PEM into out; the
// tool describes the bundle's protection on its standard error.
QStringList pfxCertificatesAndProtection(const QString& prog, const QString& pfx,
                                         const QString& out);

// The judging runs of the check. Each accepts keys and digests of any strength (the check
// judges those itself) and prints every error it finds as "error N at D depth lookup: WORDS".
// The certificate's chain as a server's up to a root that the system or the CA file (when
// given) trusts, with the certificates of the untrusted file (when given) as candidates;
// dates are not judged.
QStringList judgeServerChain(const QString& certificate, const QString& untrusted,
                             const QString& caFile);
// The certificate alone as its own anchor: as a server's, and for the host name or the
// address (as nameIsAddress says; none when the name is empty). Dates are not judged.
QStringList judgeCertificateAlone(const QString& certificate, const QString& name,
                                  bool nameIsAddress);
// Whether the issuer's key made the certificate's signature: ends with 0 only then.
QStringList judgeSignature(const QString& issuer, const QString& certificate);
// The first certificate of the file as a server's with the others as its chain, up to a root
// that the CA file (when given) or the system trusts, dates included.
QStringList judgeChainToWrite(const QString& chain, const QString& caFile);

// The arguments of a bundle's export that also packs the certificates of the chain file after
// the certificate.
QStringList withChain(const QStringList& arguments, const QString& chainFile);
QStringList extractKeyFromTemporaryBundle(const QString& prog, const QString& folder);
QStringList extractCertificateFromTemporaryBundle(const QString& prog, const QString& folder);

// Copies of files that another program made, written anew by the tool, which reads what it
// copies: a private key opened with the current pass phrase (ignored for a key without one)
// and written without a pass phrase (the tool writes it for its owner alone), or encrypted with
// AES-256 under the new pass phrase; every certificate of a file in order; the first
// certificate of a file; and every certificate and key of a file in the file's order, keys
// without a pass phrase (into an output that exists, whose mode the tool keeps).
QStringList plainKeyCopy(const QString& prog, const QString& key, const QString& out);
QStringList encryptedKeyCopy(const QString& prog, const QString& key, const QString& out);
QStringList certificatesCopy(const QString& certificates, const QString& out);
QStringList firstCertificateCopy(const QString& certificates, const QString& out);
QStringList certificatesAndKeyCopy(const QString& objects, const QString& out);

// The arguments of a pkcs12 run that may also use the algorithms of the tool's legacy
// provider (RC2-40, which older Windows uses in the .pfx files that it exports).
QStringList withLegacyAlgorithms(const QStringList& arguments);

// The tool and its arguments as one line for people to read and to paste into a shell: an
// argument that the shell would take apart is quoted. Never run.
QString readableCommandLine(const QString& program, const QStringList& arguments);

// What one run of the tool leaves behind apart from the files it writes.
using ToolRun = ChildRun;
using RunLimits = ::RunLimits;

// What the tool's output says went wrong, where a user can put it right.
enum class ToolComplaint {
    None,
    KeyMismatch,     // the certificate was issued for another key
    WrongPassPhrase, // the file does not open with the pass phrase
    NotPkcs12,       // the file is not a PKCS#12 bundle
    NotPrivateKey,   // the key file holds no key that the tool reads
    NotCertificate,  // the certificate file holds no certificate that the tool reads
};
// The complaint of the output, most telling first: a wrong pass phrase also makes the key
// unreadable.
ToolComplaint complaintIn(const QByteArray& output);
// The tool lacks an algorithm: in a PKCS#12 file, one that only its legacy provider has.
bool saysAlgorithmUnsupported(const QByteArray& output);

// One run of the tool in the context's program folder with the arguments; waits until it ends.
// A shown run copies the tool's output to this program's standard error.
ToolRun runOpenSSLTool(const QStringList& arguments, const ToolContext& context, bool showWindow,
                       const RunLimits& limits = {});

} // namespace OpenSSLCommands
