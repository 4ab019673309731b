#pragma once

#include "RunCancel.h"
#include "ServerFiles.h"
#include "uCertificateCheck.h"
#include "uToolContext.h"
#include "uToolSteps.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace LimitedFetch {
class Stop;
}

// A certificate from an ACME authority, obtained by the `lego` client and made into the same
// server files as the wizards make. The program speaks no ACME itself: lego does, as a child
// process run with an argument list, its account and state kept in the program's own data
// folder. The windows and the command line share everything here.
namespace Acme {

// ---- What the user chooses

inline const QString kLetsEncryptDirectory =
    QStringLiteral("https://acme-v02.api.letsencrypt.org/directory");
inline const QString kLetsEncryptStagingDirectory =
    QStringLiteral("https://acme-staging-v02.api.letsencrypt.org/directory");

// The key types as the command line and the record spell them, in the order offered; the
// first is the default.
inline const QString kKeyEc256 = QStringLiteral("ec256");
inline const QString kKeyEc384 = QStringLiteral("ec384");
inline const QString kKeyRsa2048 = QStringLiteral("rsa2048");
inline const QString kKeyRsa4096 = QStringLiteral("rsa4096");
inline const QStringList kKeyTypes = {kKeyEc256, kKeyEc384, kKeyRsa2048, kKeyRsa4096};

constexpr int kDefaultHttpPort = 80;

// Everything one issuance needs, as the pages and the options hold it.
struct AcmeValues {
    QStringList names; // the first is the main one and names the files (<base>)
    QString email;
    QString keyType = kKeyEc256;
    QString server = kLetsEncryptDirectory; // the authority's directory address
    QString caBundle; // a CA file for the authority's HTTPS; empty: the system's
    // How the authority reaches this server: a web root that it already serves, or (empty)
    // a temporary web server of lego's own on the port.
    QString webRoot;
    int httpPort = kDefaultHttpPort;
    QStringList outputs; // of ServerFiles::kServerKinds, each at most once
    QString outFolder;   // as typed; checked by the export-folder rules
    // Protects the .pfx and key.pem; kept beside the renewal record for unattended renewals.
    QString passPhrase;
    bool legacyPfx = false;    // the .pfx opens on Windows Server 2016 and older
    QStringList reloadCommand; // run after each new certificate, program first; empty: none
    // Run before and after the validation (IssuanceHooks), program first; empty: none.
    QStringList preHook;
    QStringList postHook;
    QString friendlyName;      // of the .pfx; empty: the main name
};

// Refuses (PageError) names that the authority cannot validate over HTTP (one the wizards
// would refuse, a wildcard, one given twice) and an e-mail address that is none; the window
// checks its first page with it.
void checkNamesAndEmail(const QStringList& names, const QString& email);

// Refuses (PageError) values that cannot make a certificate, before anything runs: no name,
// a name the wizards would refuse or a wildcard (which only DNS can validate), a key type,
// output or port that does not exist, a web root that is missing or that this program cannot
// write .well-known/acme-challenge/ in (probed as webRootProblem does), a missing CA file, a
// folder that the export-folder rules refuse, .pfx or key.pem without a pass phrase.
void checkValues(const AcmeValues& values, const ToolContext& context);

// The names of the files that the values make in their folder, in the order listed.
QStringList outputNames(const AcmeValues& values);

// ---- While it runs

// The current step in words and how far the whole run is, from 0 to 1. Called on the thread
// that runs the issuance.
using ProgressCallback = std::function<void(const QString& step, double fraction)>;

// Ends an issuance from another thread (or from an event handler while it waits): the lego run
// in progress is ended and the issuance ends with SilentAbort, leaving no new file.
using Cancel = RunCancel;

// ---- The outcome

struct AcmeResult {
    AcmeValues values;         // as obtained: with the defaults and the resolved folder
    ToolSteps::MadeFiles made; // every output file, as the finished page lists them
    QDateTime expiry;          // of the new certificate, UTC
    QDateTime notBefore;       // its start, UTC
    QString legoOutput;        // what lego wrote, for Show Details...
    QString recordPath;        // the renewal record (Renewal::obtainAndRecord)
    QString passPhrasePath;    // the pass phrase kept for renewals; empty: none kept
    // Why the post-hook or the reload command failed, with its output; empty when they ran
    // well or there are none. The files are made all the same.
    QString reloadProblem;
};

// Obtains a certificate for the values from the authority (registering the e-mail address
// there first when it has no account yet), makes every output from it in place of the earlier
// ones and runs the reload command. On failure nothing new is left and
// the earlier outputs are as they were: PageError with the authority's reason in plain words
// and lego's output as details, or SilentAbort when cancelled. The user answers the overwrite
// questions for outputs that exist (before anything is ordered) and hears of notices; both are
// called on the thread that runs the issuance.
AcmeResult obtain(const AcmeValues& values, ToolSteps::StepUser& user, const ToolContext& context,
                  const ProgressCallback& progress = {}, Cancel* cancel = nullptr);

// The check of what obtain made, read back from its files: the full chain and key for nginx,
// otherwise key.pem, cert.pem and root.pem, otherwise the .pfx; the authority's CA file counts
// among the trusted roots. Throws PageError when the files cannot be read.
CertificateCheck::CheckReport checkResult(const AcmeValues& values, const AcmeResult& result,
                                          const ToolContext& context);

// ---- Before it runs

// The authority's terms-of-service address from its directory, fetched over HTTPS (trusting
// the CA file too when one is given), with its control characters spelled out (printableText).
// Throws PageError when the directory cannot be read or names none. Waits in a local event
// loop, up to the time limit or until `stop` is stopped from another thread.
QString termsOfService(const QString& directoryUrl, const QString& caBundle = QString(),
                       int timeLimitMs = 30000, LimitedFetch::Stop* stop = nullptr);

// Whether this program can write `.well-known/acme-challenge/` in the web root: writes a probe
// there and removes it, together with any folder it made. Empty when it can; else the reason,
// for the user.
QString webRootProblem(const QString& webRoot);

// The folder of lego's account and state ($XDG_DATA_HOME/certwright/acme/).
QString stateFolder();

// A folder of the program's own data ($XDG_DATA_HOME/certwright/<name>/, ending in a
// separator), made with mode 0700 when missing; one that is not a real folder of the user's
// own is refused (PageError), and one that others may enter is closed to them.
QString privateDataFolder(const QString& name);

// The path of that folder, for a look that must make nothing: whether it exists at all.
QString dataFolderPath(const QString& name);

} // namespace Acme
