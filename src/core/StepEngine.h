#pragma once

#include "ChildRun.h"
#include "StepUser.h"
#include "uExportFolder.h"
#include "uOutputCheck.h"
#include "uToolContext.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

// The step engine: every task that makes files is a plan (data) that runStep carries out with a
// user and a ToolContext. A step refuses what it can before it asks anything or touches a file
// (PageError), and ends quietly (SilentAbort) when the user cancels or keeps what exists. Where
// the tool and the pass-phrase files are, the debug switch and the folder that relative paths
// start from come in as the ToolContext: the plans and runs read nothing else of the program, so
// that the windows and the command line share them.
namespace ToolSteps {

// The files that a step made, as a finished page lists them.
struct MadeFiles {
    QString folder;    // the export folder as checked, absolute, ending in a separator
    QStringList paths; // every file that the step makes, in that folder, in the order listed
    QString request;   // the file whose text Copy Request copies; empty: no such button
};

// One run of the tool within a step.
struct ToolRunPlan {
    QStringList arguments; // the tool's, its command first
    QString output;        // the file that the run must leave complete
    OutputKind kind;
    bool followDebugSwitch = true; // false keeps the run hidden even in debug mode
    // A run that reads a PKCS#12 file: when the tool lacks an algorithm that the file uses,
    // the run is made once more with the tool's legacy algorithms, and that run decides.
    bool legacyRetry = false;
    // The run encrypts under the new pass phrase: when that is empty, the step ends with
    // kNoPasswordMessage once before has run.
    bool needsNewPassPhrase = false;
    std::function<void()> before; // e.g. writes the request configuration
    // A run that may find nothing to write: an empty output counts as made, and is removed.
    bool mayMakeNothing = false;
    // The output is an extra that the step can do without (root.pem beside key.pem and
    // cert.pem): a No to its overwrite question keeps the file and leaves this run out, and the
    // other outputs are made all the same. It comes after them in askedAbout.
    bool optionalOutput = false;
    // For an optional output that exists: whether the run has anything to put there, asked
    // once the pass phrases are known and the questions before it are answered. When it has
    // nothing, the file is neither asked about nor touched. Empty: it has.
    std::function<bool()> hasContent;
};

// Everything that one step does, as data.
struct StepPlan {
    QString input;       // the file that the runs read, as typed; empty: none to protect
    QStringList outputs; // replaced together: a failure brings all old files back
    // The outputs that the user is asked about when present, in order. One that a run makes
    // as a private key (OutputKind::Key) is asked about with a warning, and kept by default.
    QStringList askedAbout;
    std::optional<PassPhraseUse> passPhrases;
    // Files that the runs write for later runs (the request configuration, a temporary
    // bundle): removed as soon as the runs end, however they end, before an earlier file of
    // the same name comes back.
    QStringList scratch;
    QVector<ToolRunPlan> runs;
    QString failureMessage; // of every failed run
    MadeFiles made;
    // The folder of the outputs: once the questions are answered, and again before each run,
    // the step stops unless it is still the folder that was checked.
    std::optional<CheckedFolder> folder;
};

// A run of the plan's tool with the arguments, which must leave a complete output of the kind.
ToolRunPlan toolRun(const QStringList& arguments, const QString& output, OutputKind kind);

// The shared sequence of every step: refuses an input that is among the outputs, puts back
// what a killed copy of the program left set aside in the outputs' folder (telling the user
// about what it cannot), asks the pass phrases, asks about each present output in turn (the
// first No ends the step, except for an optional output, which No keeps and leaves out), then
// replaces the outputs by the runs, in order, each run only while the plan's folder is still the
// one checked. Returns the plan's made files, without those left out. The pass phrases that the
// user gives are held to the pass-phrase rules (a current one that the tool reads as typed, a
// new one that is long enough) and written into the context's pass-phrase folder; however the
// step ends, those files are left empty.
MadeFiles runStep(const StepPlan& plan, StepUser& user, const ToolContext& context);

// Runs the tool once with the run's arguments (neither before nor after); the run is shown
// when it follows the debug switch and the context's switch is on. The run made
// its output when the tool ended by itself with status 0 and left a complete output of the
// kind. A run that did not has its output deleted and ends the step with
// PageError(failureMessage), which also says why the run failed, where the tool's output or
// its ending makes it plain, and holds the command line and the tool's output as details; a
// run that the program ended because it is closing ends the step with SilentAbort.
void runJudged(const ToolRunPlan& run, const QString& failureMessage, const ToolContext& context);

// Refuses (PageError) an input file that is one of the files the step writes or deletes: it
// would be gone before the tool reads it. Call it before anything is asked or touched.
void refuseInputAmong(const QString& input, const QStringList& written);

// A typed path as the tool must receive it. The tool runs in the program folder, so a
// relative path is taken from the current folder, where this program's own checks read it.
QString pathForTool(const QString& typed, const QString& currentFolder);
// The path with the extension of its file name (from the last full stop on) replaced by the
// given one, or with it appended when the name has none.
QString withExtension(const QString& path, const QString& extension);

inline const QString kNoPasswordMessage = QStringLiteral("No Password Provided");
inline const QString kOverwriteQuestion = QStringLiteral("Do you want to overwrite the %1 file?");
// The paragraph that the overwrite question adds when the output is a private key.
inline const QString kKeyOverwriteWarning =
    QStringLiteral("A certificate issued for the existing key will not work with the new one.");
inline const QString kInputIsOutputMessage =
    QStringLiteral("The file \"%1\" would be replaced by the files that are made from it. "
                   "Please choose another folder for the exported files.");

// ---- Why a run failed

// What a failed run's box says below its message when the tool's output says plainly what
// went wrong.
inline const QString kKeyMismatchExplanation =
    QStringLiteral("The certificate does not belong to the key: it was issued for another "
                   "key. Use the certificate that was issued for this key.");
inline const QString kWrongPassPhraseExplanation =
    QStringLiteral("The pass phrase is wrong: the file does not open with the current "
                   "password that was typed.");
inline const QString kNotPkcs12Explanation =
    QStringLiteral("The file is not a PKCS#12 file (.pfx or .p12).");
inline const QString kNotPrivateKeyExplanation =
    QStringLiteral("The key file is not a private key that the tool can read.");
inline const QString kNotCertificateExplanation =
    QStringLiteral("The certificate text is not a certificate that the tool can read.");
inline const QString kToolNotStartedExplanation =
    QStringLiteral("The OpenSSL tool could not be started.");
// The tool as the sentences of a run's ending name it.
inline const QString kToolSubject = QStringLiteral("The tool");
// "%2" is the status.
inline const QString kExitStatusExplanation = kExitStatusEnding.arg(kToolSubject);
inline const QString kIncompleteOutputExplanation =
    QStringLiteral("The tool's output is not a complete %1.");
inline const QString kCertificateNoun = QStringLiteral("certificate");
inline const QString kNoToolOutput = QStringLiteral("(none)");

} // namespace ToolSteps
