#pragma once

#include "AcmeValues.h"
#include "DataFolder.h"
#include "Lego.h"
#include "uCertificateCheck.h"
#include "uToolContext.h"
#include "uToolSteps.h"

#include <QDateTime>
#include <QString>

// A certificate from an ACME authority, obtained by the `lego` client and made into the same
// server files as the wizards make. The program speaks no ACME itself: lego does, as a child
// process run with an argument list, its account and state kept in the program's own data
// folder. The windows and the command line share everything here: the values and their check
// (AcmeValues.h), lego (Lego.h, LegoReasons.h), the data folder (DataFolder.h) and, here, the
// issuance itself.
namespace Acme {

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
// Before anything is asked or ordered, a lego that cannot be driven for the values is refused
// (requireDrivableLego).
AcmeResult obtain(const CheckedAcmeValues& values, ToolSteps::StepUser& user,
                  const ToolContext& context, const ProgressCallback& progress = {},
                  Cancel* cancel = nullptr);
// The same for values that were not checked yet: checkValues first.
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
// loop, up to the time limit or until `cancel` is cancelled from another thread.
QString termsOfService(const QString& directoryUrl, const QString& caBundle = QString(),
                       int timeLimitMs = 30000, RunCancel* cancel = nullptr);

} // namespace Acme
