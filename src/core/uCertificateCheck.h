#pragma once

#include "CheckReport.h"
#include "RunCancel.h"
#include "ServerAddress.h"
#include "uToolContext.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

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
