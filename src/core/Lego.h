#pragma once

#include "AcmeValues.h"
#include "RunCancel.h"
#include "uToolContext.h"

#include <QString>
#include <QStringList>

#include <functional>

// The ACME client lego, run as a child process with an argument list, its account and state
// kept in the program's own data folder: which flags it offers, its arguments and environment
// for the values, its progress, and its run.
namespace Acme {

// The current step in words and how far the whole run is, from 0 to 1. Called on the thread
// that runs the issuance.
using ProgressCallback = std::function<void(const QString& step, double fraction)>;

// Ends an issuance from another thread (or from an event handler while it waits): the lego run
// in progress is ended and the issuance ends with SilentAbort, leaving no new file.
using Cancel = RunCancel;

// lego waits for the authority, which may take minutes when it is busy.
constexpr int kMsPerMinute = 60 * 1000;
constexpr int kLegoTimeLimitMs = 10 * kMsPerMinute;

// Where lego leaves a certificate for the main name in its state folder.
struct LegoFiles {
    QString certificate; // the certificate and its chain, server first
    QString key;
    QString issuer;
};
LegoFiles legoFilesOf(const QString& state, const QString& mainName);

// The lego executable: the one in the program folder, else the one on the PATH. Throws
// PageError when there is none.
QString legoProgram(const ToolContext& context);

// Refuses (PageError) a lego that this program cannot drive, naming its version (from
// `lego --version`) and the flags that the values need and its `lego --help` does not offer.
// lego is asked once for each program and run of this program.
void requireDrivableLego(const QString& program, const AcmeValues& values);

// lego's argument vector for the values (program name first) and the entries of its
// environment, with its state in the folder.
QStringList legoArguments(const AcmeValues& values, const QString& state);
QStringList legoEnvironment(const AcmeValues& values);

// Runs lego until it has put the certificate into its state; returns its output. Throws
// PageError with the plain reason and lego's output as details, or SilentAbort when cancelled.
QString runLego(const AcmeValues& values, const QString& state, const LegoFiles& files,
                const ToolContext& context, const ProgressCallback& progress, Cancel* cancel);

} // namespace Acme
