#pragma once

#include "RunCancel.h"
#include "uExternalApp.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// One run of another program (the openssl tool, lego, a reload command, systemctl) from start
// to end, and the one way of putting into words how such a run ended.

// The program to run and how.
struct ChildProgram {
    QString program;              // its full path
    QStringList arguments;        // its argument vector, argv[0] first
    QString directory = {};       // where it runs
    QStringList environment = {}; // entries ("NAME=value") over this program's own
    bool shown = false;           // its output is copied to this program's standard error
    // Called with each piece of the output as it is read, while the run lasts.
    std::function<void(const QByteArray& piece)> outputHook = {};
};

// For a run that waits on a network peer, or whose whole output is read.
struct RunLimits {
    int timeLimitMs = 0;         // 0: the runner's own limit
    qint64 wholeOutputBytes = 0; // keep the whole output up to this many bytes; 0: its end only
    RunCancel* cancel = nullptr; // ends the run from another thread
    // The run needs none of the system's roots (it trusts none, or only those it names): the
    // trust store of the openssl library is pointed at nothing, which spares some of the tool's
    // commands reading the system's whole bundle at their start, most of what they cost.
    bool withoutTrustStore = false;
};

// What one run leaves behind apart from the files it writes.
struct ChildRun {
    QString program; // the program's full path
    QStringList arguments;
    QByteArray output;  // the end of what it wrote, standard output and error together
    int exitCode = -1;  // -1 when it did not end by itself
    QString startError; // why it could not be started; empty when it started
    RunEnd end = RunEnd::NotStarted;
    int endSignal = 0; // the signal that ended it (RunEnd::Signalled)
    bool cut = false;  // the output was longer than the whole output that the run may keep
    int timeLimitMs = TExternalApp::kTimeLimitMs; // the limit that the run had

    // It ended by itself with status 0.
    bool endedWell() const { return end == RunEnd::Exited && exitCode == 0; }
};

// Runs the program and waits until it ends (or is cancelled, or its limit passes).
ChildRun runChild(const ChildProgram& child, const RunLimits& limits = {});

// What a runner that has been waited for found out, with the limit that its run had.
ChildRun finishedRun(const TExternalApp& runner, int timeLimitMs = TExternalApp::kTimeLimitMs);

// How a run ended, as one sentence about the program that the subject names ("The tool",
// "lego", "it"): %1 is the subject, %2 the reason, the status, the signal's name or the
// seconds of the time limit.
inline const QString kNotStartedEnding = QStringLiteral("%1 could not be started: %2.");
inline const QString kExitStatusEnding = QStringLiteral("%1 ended with status %2.");
inline const QString kSignalEnding = QStringLiteral("%1 was ended by a signal (%2).");
inline const QString kTimeLimitEnding = QStringLiteral("%1 was stopped after %2 seconds.");
inline const QString kStoppedEnding = QStringLiteral("%1 was ended as this program is closing.");

// The sentence of the run's ending; empty when it ended by itself with status 0.
QString describeEnding(const ChildRun& run, const QString& subject);
