#include "StepEngine.h"

#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"
#include "uOutputReplacement.h"
#include "uPassPhraseRules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ToolSteps {

namespace {

const QString kKeyNoun = QStringLiteral("private key");
const QString kRequestNoun = QStringLiteral("certificate request");
const QString kBundleNoun = QStringLiteral("PKCS#12 file");
// The details of a failed run, which the user can open: the command line and what the tool
// wrote, or why it could not be started.
const QString kRunDetails = QStringLiteral("Command line:\n%1\n\n%2");
const QString kToolOutputDetails = QStringLiteral("Output of the tool:\n%1");

// What the box says when the tool's output says plainly why a run failed.
QString explanationOf(OpenSSLCommands::ToolComplaint complaint) {
    using OpenSSLCommands::ToolComplaint;
    switch (complaint) {
    case ToolComplaint::KeyMismatch:
        return kKeyMismatchExplanation;
    case ToolComplaint::WrongPassPhrase:
        return kWrongPassPhraseExplanation;
    case ToolComplaint::NotPkcs12:
        return kNotPkcs12Explanation;
    case ToolComplaint::NotPrivateKey:
        return kNotPrivateKeyExplanation;
    case ToolComplaint::NotCertificate:
        return kNotCertificateExplanation;
    case ToolComplaint::None:
        break;
    }
    return QString();
}

QString nounOf(OutputKind kind) {
    switch (kind) {
    case OutputKind::Key:
        return kKeyNoun;
    case OutputKind::Request:
        return kRequestNoun;
    case OutputKind::Certificate:
        return kCertificateNoun;
    case OutputKind::Bundle:
        break;
    }
    return kBundleNoun;
}

// How the run ended, when that alone says why it failed.
QString endingOf(const OpenSSLCommands::ToolRun& run, OutputKind kind) {
    if (run.end == RunEnd::NotStarted || run.end == RunEnd::Stopped)
        return QString();
    if (run.endedWell())
        return kIncompleteOutputExplanation.arg(nounOf(kind));
    return describeEnding(run, kToolSubject);
}

QString explanationOf(const OpenSSLCommands::ToolRun& run, OutputKind kind) {
    if (!run.startError.isEmpty())
        return kToolNotStartedExplanation;
    if (const QString said = explanationOf(OpenSSLCommands::complaintIn(run.output));
        !said.isEmpty())
        return said;
    return endingOf(run, kind);
}

bool madeItsOutput(const OpenSSLCommands::ToolRun& run, const QString& outputPath,
                   OutputKind kind) {
    return run.end == RunEnd::Exited && run.exitCode == 0 && outputIsComplete(outputPath, kind);
}

// Whatever stands at the output's name goes, also a link or a FIFO that is no file of ours;
// unlinking never follows a link and leaves a folder alone.
void removeFailedOutput(const QString& outputPath) {
    ::unlink(QFile::encodeName(outputPath).constData());
}

// A run that may find nothing to write ended well and left an empty file, which goes.
bool madeNothing(const ToolRunPlan& plan, const OpenSSLCommands::ToolRun& run) {
    struct stat status {};
    if (!plan.mayMakeNothing || run.end != RunEnd::Exited || run.exitCode != 0 ||
        ::lstat(QFile::encodeName(plan.output).constData(), &status) != 0 ||
        !S_ISREG(status.st_mode) || status.st_size != 0)
        return false;
    removeFailedOutput(plan.output);
    return true;
}

// The pass phrases travel in files, so neither the command line nor the output holds one.
QString detailsOf(const OpenSSLCommands::ToolRun& run) {
    QString said;
    if (!run.startError.isEmpty())
        said = describeEnding(run, kToolSubject);
    else
        said = kToolOutputDetails.arg(
            run.output.isEmpty() ? kNoToolOutput : QString::fromLocal8Bit(run.output).trimmed());
    return kRunDetails.arg(OpenSSLCommands::readableCommandLine(run.program, run.arguments), said);
}

// Replacing a private key breaks every certificate that was issued for it, which a key file
// does not show; so the question says it, and Enter keeps the key.
bool mayReplaceOutput(const StepPlan& plan, const QString& output, StepUser& user) {
    const bool isPrivateKey = std::any_of(plan.runs.begin(), plan.runs.end(), [&](const auto& run) {
        return run.output == output && run.kind == OutputKind::Key;
    });
    QString question = kOverwriteQuestion.arg(QFileInfo(output).fileName());
    if (isPrivateKey)
        question += QStringLiteral("\n\n") + kKeyOverwriteWarning;
    return user.mayReplace(question, isPrivateKey);
}

// The run that makes the output, or none.
const ToolRunPlan* runMaking(const StepPlan& plan, const QString& output) {
    const auto found = std::find_if(plan.runs.begin(), plan.runs.end(),
                                    [&](const ToolRunPlan& run) { return run.output == output; });
    return found == plan.runs.end() ? nullptr : &*found;
}

// The step without an optional output and its run: the file stays as it is.
void leaveOut(StepPlan& plan, const QString& output) {
    plan.outputs.removeAll(output);
    plan.made.paths.removeAll(output);
    plan.runs.removeIf([&](const ToolRunPlan& run) { return run.output == output; });
}

// Asks the user for the pass phrases of the use, holds them to the rules and writes them for
// the tool; returns the new one. An empty new pass phrase is left to the runs that need one
// (kNoPasswordMessage); the current one of a request is never used, and written empty.
QString takePassPhrases(PassPhraseUse use, StepUser& user, const ToolContext& context) {
    PassPhrases given = user.askPassPhrases(use);
    if (use == PassPhraseUse::CertificateRequest)
        given.current.clear();
    PassPhraseRules::checkToolCanReadAsTyped(given.current);
    if (!given.fresh.isEmpty())
        PassPhraseRules::checkNewPassPhrase(given.fresh);
    writePassPhrases(context.passPhraseFolder, given);
    return given.fresh;
}

} // namespace

ToolRunPlan toolRun(const QStringList& arguments, const QString& output, OutputKind kind) {
    ToolRunPlan run;
    run.arguments = arguments;
    run.output = output;
    run.kind = kind;
    return run;
}

MadeFiles runStep(const StepPlan& plan, StepUser& user, const ToolContext& context) {
    if (!plan.input.isEmpty())
        refuseInputAmong(plan.input, plan.outputs);
    QStringList folders;
    for (const QString& output : plan.outputs)
        if (!folders.contains(QFileInfo(output).path()))
            folders << QFileInfo(output).path();
    for (const QString& folder : folders)
        if (const QString notice = putBackLeftBehindFiles(folder); !notice.isEmpty())
            user.tell(notice);
    // A file that cannot be emptied here is tried again, and reported, when the program ends.
    const auto emptyPassPhrases = qScopeGuard([&plan, &context] {
        try {
            if (plan.passPhrases)
                emptyPassPhraseFiles(context.passPhraseFolder);
        } catch (const PageError&) {
        }
    });
    QString newPassPhrase;
    if (plan.passPhrases)
        newPassPhrase = takePassPhrases(*plan.passPhrases, user, context);
    StepPlan agreed = plan;
    for (const QString& output : plan.askedAbout) {
        if (!FileIsPresent(output))
            continue;
        const ToolRunPlan* maker = runMaking(plan, output);
        if (!maker || !maker->optionalOutput) {
            if (!mayReplaceOutput(plan, output, user))
                throw SilentAbort();
        } else if ((maker->hasContent && !maker->hasContent()) ||
                   !mayReplaceOutput(plan, output, user)) {
            leaveOut(agreed, output);
        }
    }
    // The outputs were agreed to be replaced together: a failure anywhere below brings all
    // the old files back.
    replaceOutputs(agreed.outputs, [&] {
        const ScratchFiles scratch(agreed.scratch);
        for (const ToolRunPlan& run : agreed.runs) {
            if (agreed.folder)
                agreed.folder->requireUnchanged();
            if (run.before)
                run.before();
            if (run.needsNewPassPhrase && newPassPhrase.isEmpty())
                throw PageError(kNoPasswordMessage);
            runJudged(run, agreed.failureMessage, context);
        }
    });
    return agreed.made;
}

void runJudged(const ToolRunPlan& run, const QString& failureMessage, const ToolContext& context) {
    const bool shown = run.followDebugSwitch && context.debug;
    OpenSSLCommands::ToolRun made = OpenSSLCommands::runOpenSSLTool(run.arguments, context, shown);
    if (madeItsOutput(made, run.output, run.kind) || madeNothing(run, made))
        return;
    if (run.legacyRetry && made.end == RunEnd::Exited &&
        OpenSSLCommands::saysAlgorithmUnsupported(made.output)) {
        removeFailedOutput(run.output);
        made = OpenSSLCommands::runOpenSSLTool(OpenSSLCommands::withLegacyAlgorithms(run.arguments),
                                               context, shown);
        if (madeItsOutput(made, run.output, run.kind) || madeNothing(run, made))
            return;
    }
    removeFailedOutput(run.output);
    // The program is closing: nothing more is shown.
    if (made.end == RunEnd::Stopped)
        throw SilentAbort();
    throw PageError(failureMessage, explanationOf(made, run.kind), detailsOf(made));
}

void refuseInputAmong(const QString& input, const QStringList& written) {
    const QString inputFile = QFileInfo(input).canonicalFilePath();
    for (const QString& path : written)
        if (FileIsPresent(path) && QFileInfo(path).canonicalFilePath() == inputFile)
            throw PageError(kInputIsOutputMessage.arg(input));
}

QString pathForTool(const QString& typed, const QString& currentFolder) {
    return QDir(currentFolder).absoluteFilePath(typed);
}

QString withExtension(const QString& path, const QString& extension) {
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return (dot >= nameStart ? path.left(dot) : path) + extension;
}

} // namespace ToolSteps
