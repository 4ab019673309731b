#pragma once

#include "RunCancel.h"
#include "uCertificateChain.h"
#include "uToolContext.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The check of a certificate, of the files for a server, or of what a server sends: the
// certificate's fields, its chain, and each problem in plain words with what to do about it.
// Nothing is written; writeCompleteChain writes the mended chain on request.
namespace CertificateCheck {

// How long the connection and handshake with a server may take unless told otherwise.
constexpr int kServerTimeoutMs = 10000;
// The most certificates that a check reads: a real chain has a handful.
constexpr int kMostCertificates = 20;

// What to check: a server, or files.
struct CheckInput {
    // A server by its host name and port. When connectAddress ("ADDRESS:PORT") is given, the
    // connection goes there instead, and the name sent and checked stays the host.
    QString host;
    int port = 443;
    QString connectAddress;
    // Files: a certificate (or a whole chain) with further chain files and a key, or a .pfx.
    QString certificateFile;
    QStringList chainFiles;
    QString keyFile;
    QString pfxFile;
    QString passPhrase; // of the key or the .pfx; empty for a plain key
    // Certificates at hand (pasted ones, say), in the order given, in place of files; with the
    // public key of their key in PEM when it is known.
    QList<QSslCertificate> certificates;
    QByteArray keyPublicPem;
    // The host name that the certificate must name; empty: the server's host, or none.
    QString name;
    QString caFile; // further trusted roots (PEM or DER); empty: the system's alone
    // How long the connection and handshake with a server may take.
    int timeoutMs = kServerTimeoutMs;
    // A certificate expires soon within this many days; -1: by its lifetime (expiresSoon).
    int warnDays = -1;
    RunCancel* cancel = nullptr; // ends the wait for a server from another thread
};

// A server to check, as typed in the window or given to the command.
struct ServerAddress {
    QString host; // a name, or an address without brackets
    int port = 0;
    // "HOST:PORT", an IPv6 address in brackets, as the tool's -connect takes it.
    QString text() const;
};

// Reads HOST, HOST:PORT, [ADDRESS]:PORT, a bare IPv6 address, or an https address such as
// https://HOST/ or https://HOST:PORT/path (whose path is of no account). The port is defaultPort
// unless the text names one (a defaultPort of 0 requires one). Nothing when the text is none of
// these, or the port is not a number from 1 to 65535.
std::optional<ServerAddress> serverAddress(const QString& typed, int defaultPort);

// The problems that a check finds; the ids are fixed for scripts.
inline const QString kKeyMismatch = QStringLiteral("key-mismatch");
inline const QString kExpired = QStringLiteral("expired");
inline const QString kNotYetValid = QStringLiteral("not-yet-valid");
inline const QString kExpiresSoon = QStringLiteral("expires-soon");
inline const QString kNameMismatch = QStringLiteral("name-mismatch");
inline const QString kNoSubjectAltName = QStringLiteral("no-subject-alt-name");
inline const QString kChainIncomplete = QStringLiteral("chain-incomplete");
inline const QString kChainOrder = QStringLiteral("chain-order");
inline const QString kUntrustedRoot = QStringLiteral("untrusted-root");
inline const QString kWeakKey = QStringLiteral("weak-key");
inline const QString kWeakSignature = QStringLiteral("weak-signature");
inline const QString kNotServerCertificate = QStringLiteral("not-server-certificate");
inline const QString kInvalidChain = QStringLiteral("invalid-chain");

// A certificate "expires soon" at the latest this many days before it ends.
constexpr int kExpiresSoonDays = 30;

// Whether a certificate valid from notBefore until notAfter expires soon at the time now: when
// less than a third of its lifetime remains, and never earlier than kExpiresSoonDays before it
// ends (a 6-day certificate at 2 days left, a 90-day or a 398-day one at 30); or, when
// warnDays is 0 or more, within that many days.
bool expiresSoon(const QDateTime& notBefore, const QDateTime& notAfter, const QDateTime& now,
                 int warnDays = -1);
// The moment from which that certificate expires soon, by the same rule.
QDateTime soonFrom(const QDateTime& notBefore, const QDateTime& notAfter, int warnDays = -1);
// The smallest keys that are not weak.
constexpr int kSmallestRsaBits = 2048;
constexpr int kSmallestCurveBits = 256;
// What the fetch of a missing authority certificate may take.
constexpr qint64 kLargestFetchBytes = 64 * 1024;
constexpr int kFetchTimeLimitMs = 10000;

// The protection profiles of a .pfx file.
inline const QString kProfileAes256Sha256 = QStringLiteral("aes256-sha256");
inline const QString kProfile3desSha1 = QStringLiteral("3des-sha1");
inline const QString kProfileRc240Sha1 = QStringLiteral("rc2-40-sha1");
inline const QString kProfileOther = QStringLiteral("other");

struct CheckProblem {
    QString id;
    QString message; // what is wrong, in plain words
    QString advice;  // what to do about it
    // The subject of the certificate of the chain that it is about; empty: the server's, or
    // the chain as a whole.
    QString certificate;
};

// One certificate of the chain as the report lists it.
struct ChainEntry {
    QString subject;
    QString issuer;
    QDateTime notAfter;
};

struct CheckReport {
    QString subject;   // the server certificate's subject, as "CN=..., O=..."
    QStringList names; // its subjectAltName entries ("www.example.com", "192.0.2.1")
    QString issuer;
    QDateTime notBefore;
    QDateTime notAfter;
    qint64 daysLeft = 0; // whole days until notAfter; negative once it has passed
    QString keyType;     // "RSA", "EC" or the tool's name of another algorithm
    int keyBits = 0;
    QString signature; // the algorithm, as the tool names it ("sha256WithRSAEncryption")
    CertificateChain chain;
    QList<ChainEntry> chainEntries; // the authorities of the chain, in order
    QString pfxProfile;             // a .pfx file's protection; empty for other input
    QList<CheckProblem> problems;
    // The files that were read, as the tool read them; the mended chain never replaces one.
    QStringList inputFiles;

    bool hasProblem(const QString& id) const;
    // One object with every field above, as `certwright check --json` prints it.
    QJsonObject toJson() const;
    // The report for people to read: the fields, the chain, then each problem with what to do.
    QString toText() const;
};

// The problems for people to read, each followed by what to do about it, or that there is none.
QString problemsText(const QList<CheckProblem>& problems);

// The bytes of a file that the user named (relative to the context's current folder), read only
// when it is a regular file of at most 4 MiB, so that a FIFO or a device put at its name cannot
// hold the program up. Throws PageError, saying why, otherwise.
QByteArray readRegularFile(const QString& typed, const ToolContext& context);

// Reads what the input names and checks it. Throws PageError when the input cannot be read:
// a file that is not a certificate, a key that does not open, a server that cannot be reached.
// The pass phrase reaches the tool through the pass-phrase files, which are emptied afterwards.
CheckReport checkCertificate(const CheckInput& input, const ToolContext& context);

// Writes the server certificate of the report and its chain in order into a file made afresh,
// which takes the file's name once it is complete (over an earlier file only when mayReplace),
// fetching each missing authority certificate from the address that the certificate before it
// names as "CA Issuers" (HTTP or HTTPS, at most kLargestFetchBytes, kFetchTimeLimitMs, DER, PEM
// or PKCS#7; never a root). Returns the chain as written. Throws PageError when a certificate
// cannot be fetched, the file is one that the check read, or it cannot be written (or exists,
// without mayReplace); nothing is written then, and an earlier file stays as it was.
CertificateChain writeCompleteChain(const CheckReport& report, const QString& file,
                                    const QString& caFile, const ToolContext& context,
                                    bool mayReplace);

// The server certificate of the report and its chain in order, with each missing authority
// certificate fetched and proven by its signature as writeCompleteChain does it, without
// writing anything or verifying the whole chain. Throws PageError when a certificate cannot be
// fetched or proven.
CertificateChain completeChain(const CheckReport& report, const QString& caFile,
                               const ToolContext& context);

} // namespace CertificateCheck
