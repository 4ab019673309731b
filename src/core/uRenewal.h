#pragma once

#include "uAcme.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// Certificates obtained from an ACME authority are recorded so that they can be renewed
// without the user: one private file for each, with everything the issuance needs again.
namespace Renewal {

// One recorded certificate.
struct Record {
    QString name; // the main name, which names the record
    QString path; // of the record file
    Acme::AcmeValues values;
    QDateTime expiry;      // of the certificate whose files were made last
    QDateTime notBefore;   // its start; a record without one is read as of a 90-day certificate
    QDateTime lastAttempt; // of the last renewal; invalid when none was tried
    bool lastRenewed = false;
    QString lastReason; // why the last renewal failed, or what went wrong after it
};

// The folder of the records ($XDG_DATA_HOME/certwright/renewals/), made with mode 0700.
QString recordFolder();

// Its path, for a look that makes nothing. The folder is made with the first record.
QString recordFolderPath();

// Writes the record of the values and the expiry of their certificate (mode 0600, replacing
// the earlier one of the same main name) and, when they have a pass phrase, the pass phrase in a
// 0600 file beside it. Each file is written new beside the earlier one and renamed over it when
// complete, so that a failure or an end on the way leaves the earlier one. Returns the two paths
// (the second empty when no pass phrase is kept). Throws PageError when they cannot be written.
QStringList writeRecord(const Acme::AcmeValues& values, const QDateTime& expiry,
                        const QDateTime& notBefore = QDateTime());

// Whether a recorded certificate is due for renewal: within the days, or with -1 when less than
// a third of its lifetime, and at most 30 days, is left.
bool isDue(const Record& record, int days, const QDateTime& now);

// When a recorded certificate becomes due by its lifetime; invalid when its expiry is unknown.
QDateTime duePoint(const Record& record);

// Obtains the certificate and makes its outputs (Acme::obtain), then records it for renewal.
// A record that cannot be written is told to the user; the files stay.
// The DNS validation is recorded too, the TSIG key's secret in a 0600 file beside the record.
Acme::AcmeResult obtainAndRecord(const Acme::CheckedAcmeValues& values, ToolSteps::StepUser& user,
                                 const ToolContext& context,
                                 const Acme::ProgressCallback& progress = {},
                                 Acme::Cancel* cancel = nullptr);
// The same for values that were not checked yet: Acme::checkValues first.
Acme::AcmeResult obtainAndRecord(const Acme::AcmeValues& values, ToolSteps::StepUser& user,
                                 const ToolContext& context,
                                 const Acme::ProgressCallback& progress = {},
                                 Acme::Cancel* cancel = nullptr);

// Every record, in the order of their names. A record that cannot be read is skipped and named
// in problems. Throws PageError, naming the folder, when the folder of the records does not
// exist: no record was ever written where this run looks (a timer without the data folder
// of the user who obtained the certificates), which must not pass for "nothing is due".
QVector<Record> records(QStringList* problems = nullptr);

// How one renewal went.
struct Outcome {
    QString name;
    bool renewed = false; // false: not due, or failed (see error)
    QString error;        // empty when it went well
};

// Renews every recorded certificate (or only the one named) that is due (isDue):
// obtains it anew, re-makes every output (set aside, put back on failure) and runs the reload
// command. Each attempt's time and result are written into its record, replaced whole; a record
// that cannot be written is added to the outcome's error. Messages for the user go to the
// StepUser.
// With dryRun each due certificate is obtained from the same authority, its files made in a
// private scratch folder and proven as a renewal's would be, then thrown away: no output, record
// or reload changes; renewed then says it would renew. cancel ends the renewal in progress.
QVector<Outcome> renewDue(int days, const QString& onlyName, ToolSteps::StepUser& user,
                          const ToolContext& context, bool dryRun = false,
                          Acme::Cancel* cancel = nullptr);

// The days of renewDue and isDue that take every certificate as due.
constexpr int kEveryCertificate = -2;

// ---- The timer that renews daily

inline const QString kServiceName = QStringLiteral("certwright-renew.service");
inline const QString kTimerName = QStringLiteral("certwright-renew.timer");

struct TimerInstallation {
    QString folder;  // where the two units were written
    bool enabled;    // the timer was enabled and started
    QString message; // what happened, in words, for the user
};

// Writes the service and the timer that run `<program> renew` daily (with up to an hour's
// random delay, and at once when a run was missed) with the data folder of this run
// (XDG_DATA_HOME): for the user in $XDG_CONFIG_HOME/systemd/user/, or with system for the whole
// machine in /etc/systemd/system/ (root only). Enables the timer when systemd runs for the user
// (or the machine). Throws PageError, before anything is written, when the program's path or the
// data folder holds a control character, or for the whole machine when anyone but root can
// change the program file or a folder above it; and when the files cannot be written.
TimerInstallation installTimer(const QString& program, bool system);

} // namespace Renewal
