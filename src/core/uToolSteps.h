#pragma once

#include "uExportFolder.h"
#include "uOpenSSLCommands.h"
#include "uOutputCheck.h"
#include "uPassPhraseFiles.h"
#include "uToolContext.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

// The work of the four wizard steps, apart from any window: each step is a function over the
// texts that the pages hold, asks the user only through StepUser, runs the tool and returns
// the files it made. A step refuses what it can before it asks anything or touches a file
// (PageError), and ends quietly (SilentAbort) when the user cancels or keeps what exists.
// Where the tool and the pass-phrase files are, the debug switch and the folder that relative
// paths start from come in as a ToolContext: the plans and runs read nothing else of the
// program, so that the windows and the command line share them.
namespace ToolSteps {

// The user as a step sees them.
class StepUser {
  public:
    virtual ~StepUser() = default;
    // Asks for the pass phrases of the use and writes both pass-phrase files; returns the
    // new pass phrase. Throws SilentAbort when the user does not confirm.
    virtual QString askPassPhrases(PassPhraseUse use) = 0;
    // Whether an existing output may be replaced: the overwrite question, Yes or No. Enter
    // answers No when keepIsDefault (the output is a private key), else Yes.
    virtual bool mayReplace(const QString& question, bool keepIsDefault) = 0;
    // Tells the user something that needs no answer.
    virtual void tell(const QString& notice) = 0;
};

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

// The shared sequence of every step: refuses an input that is among the outputs, puts back
// what a killed copy of the program left set aside in the outputs' folder (telling the user
// about what it cannot), asks the pass phrases, asks about each present output in turn (the
// first No ends the step, except for an optional output, which No keeps and leaves out), then
// replaces the outputs by the runs, in order, each run only while the plan's folder is still the
// one checked. Returns the plan's made files, without those left out. However a step that asks
// pass phrases ends, the pass-phrase files are left empty.
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

// ---- Making a key and a request or a self-signed certificate

// The text values that one generation uses, as the pages hold them.
struct CertificateValues {
    QString term; // days of validity; empty in the request wizard, which has no term
    QString email;
    QString keySize; // RSA bits ("2048") or an elliptic curve (OpenSSLCommands::kCurveP256)
    QString countryCode;
    QString city;
    QString state;
    QString domain;
    QString legalName;
    QString exportFolder; // as typed
    // Names that the certificate also serves, after the domain; the domain names the files.
    QStringList moreDomains = {};
};

// What one of the twin generation steps makes and how.
struct CertificateStep {
    QString outputExtension; // of the second run's output, with its dot
    OutputKind outputKind;   // what the second run makes
    bool asksPassPhrase;     // the key is encrypted under a new pass phrase
    bool hasTerm;            // the values hold the term of a certificate
    bool offersRequestCopy;  // the second output is a request for Copy Request
    // The arguments of the key run and of the second run, for the export folder (as checked,
    // ending in a separator) and the base name of the output files.
    QStringList (*keyCommandLine)(const ToolContext& context, const QString& folder,
                                  const QString& base, const CertificateValues& values);
    QStringList (*outputCommandLine)(const ToolContext& context, const QString& folder,
                                     const QString& base, const CertificateValues& values);
};

// An encrypted key and a certificate request for it.
extern const CertificateStep kRequestStep;
// A plain key and a certificate that it signs itself.
extern const CertificateStep kSelfSignedStep;

inline const QString kGenerationFailedMessage = QStringLiteral(
    "Error running process.  Make sure that you have valid entries for your data fields.");
inline const QString kNoPasswordMessage = QStringLiteral("No Password Provided");
inline const QString kOverwriteQuestion = QStringLiteral("Do you want to overwrite the %1 file?");
// The paragraph that the overwrite question adds when the output is a private key.
inline const QString kKeyOverwriteWarning =
    QStringLiteral("A certificate issued for the existing key will not work with the new one.");
inline const QString kDomainPathMessage = QStringLiteral(
    "The domain name \"%1\" cannot name the output files: it must not contain \"/\" or "
    "\"\\\" and must not be \".\" or \"..\". Please enter the domain name only.");
inline const QString kDomainNameMessage = QStringLiteral(
    "The domain name \"%1\" is neither a host name nor an IP address. Please enter a name "
    "such as www.example.com or *.example.com, or an address such as 192.0.2.1.");
// The term of a certificate, in days.
constexpr int kShortestTerm = 1;
constexpr int kLongestTerm = 36500;

// Refuses (PageError) a domain that cannot name the output files or is neither a host name nor
// an IP address.
void checkDomain(const QString& domain);
// The base name of the output files of a domain: the domain with every "*" spelled out.
QString baseNameOf(const QString& domain);

// The page error for a term that is refused.
QString termMessage(const QString& term);

// "<base>.key" and "<base>.<output extension>" in the export folder, the base being the
// domain with every "*" spelled out.
StepPlan certificatePlan(const CertificateStep& step, const CertificateValues& values,
                         const ToolContext& context);
MadeFiles generateCertificate(const CertificateStep& step, const CertificateValues& values,
                              StepUser& user, const ToolContext& context);

// ---- Preparing an existing key and its certificate for a server

inline const QString kConversionFailedMessage =
    QStringLiteral("Error running process.  Make sure that your password is correct.");
inline const QString kInputIsOutputMessage =
    QStringLiteral("The file \"%1\" would be replaced by the files that are made from it. "
                   "Please choose another folder for the exported files.");
inline const QString kKeyFileName = QStringLiteral("key.pem");
inline const QString kCertificateFileName = QStringLiteral("cert.pem");
inline const QString kBundleFileName = QStringLiteral("__tmp.p12");
inline const QString kAuthoritiesFileName = QStringLiteral("root.pem");
// The chain files together, for the tool, which reads one file of further certificates; it is
// written into a private scratch folder, never beside the user's files.
inline const QString kChainFileName = QStringLiteral("chain.pem");
inline const QString kUnreadableChainMessage =
    QStringLiteral("The certificate file \"%1\" cannot be read: %2");

// A key file and the file of its certificate, as the pages hold them.
struct KeyAndCertificateValues {
    QString friendlyName;
    QString keyFile;
    QString certificateFile; // written by the page for the step; removed when it is kept
    CheckedFolder exportFolder;
    // How the .pfx file is protected (IIS only).
    OpenSSLCommands::PfxProtection protection = OpenSSLCommands::PfxProtection::Current;
    // The authority certificates that go into the bundle after the certificate, in order; for
    // key.pem and cert.pem they also make root.pem, which a No to its question keeps as it is.
    QStringList chainFiles = {};
    // The name of the .pfx file in the export folder; empty: named after the key file.
    QString pfxName = {};
};

// A .pfx file exported from IIS, as the page holds it.
struct PfxExtractionValues {
    QString pfxFile;
    QString exportText; // the export folder as typed
    // Also root.pem, with the bundle's authority certificates, when it holds any; an existing
    // root.pem is asked about only then, and a No keeps it.
    bool withAuthorities = false;
};

// The .pfx file made from a key file: in the export folder, named after the key file.
QString pfxPath(const QString& keyFile, const QString& exportFolder);

// The public key of a key file that opens without a pass phrase, in PEM; empty when the tool
// cannot open it so (an encrypted key, or no key at all).
QByteArray plainKeyPublicPem(const QString& keyFile, const ToolContext& context);

// The plans below refuse what their step refuses, before anything is written. The two over a
// key and a certificate take the export folder as the page has checked it.
StepPlan createPfxPlan(const KeyAndCertificateValues& values, const ToolContext& context);
StepPlan extractFromPfxPlan(const PfxExtractionValues& values, const ToolContext& context);
StepPlan convertKeyAndCertPlan(const KeyAndCertificateValues& values, const ToolContext& context);

// The .pfx file for IIS.
MadeFiles createPfx(const KeyAndCertificateValues& values, StepUser& user,
                    const ToolContext& context);
// key.pem and cert.pem from a .pfx file.
MadeFiles extractFromPfx(const PfxExtractionValues& values, StepUser& user,
                         const ToolContext& context);
// key.pem and cert.pem by way of a temporary bundle ("__tmp.p12", removed at the end).
MadeFiles convertKeyAndCert(const KeyAndCertificateValues& values, StepUser& user,
                            const ToolContext& context);

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
inline const QString kExitStatusExplanation = QStringLiteral("The tool ended with status %1.");
inline const QString kIncompleteOutputExplanation =
    QStringLiteral("The tool's output is not a complete %1.");
inline const QString kCertificateNoun = QStringLiteral("certificate");
inline const QString kNoToolOutput = QStringLiteral("(none)");

} // namespace ToolSteps
