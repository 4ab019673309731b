#include "uToolSteps.h"

#include "uCertwrightCommon.h"
#include "uExportFolder.h"
#include "uFreshFile.h"
#include "uOutputReplacement.h"
#include "uRequestConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ToolSteps {

namespace {

const QString kTermMessage =
    QStringLiteral("The term \"%1\" is not a whole number of days from %2 to %3. Please "
                   "enter the number of days only.");
const QString kPfxExtension = QStringLiteral(".pfx");
const QByteArray kPublicKeyBegin = QByteArrayLiteral("-----BEGIN PUBLIC KEY-----");
const QByteArray kPublicKeyEnd = QByteArrayLiteral("-----END PUBLIC KEY-----");
const QString kTimeLimitExplanation = QStringLiteral("The tool was stopped after %1 seconds.");
const QString kSignalExplanation = QStringLiteral("The tool was ended by a signal (%1).");
const QString kKeyNoun = QStringLiteral("private key");
const QString kRequestNoun = QStringLiteral("certificate request");
const QString kBundleNoun = QStringLiteral("PKCS#12 file");
// The details of a failed run, which the user can open: the command line and what the tool
// wrote, or why it could not be started.
const QString kRunDetails = QStringLiteral("Command line:\n%1\n\n%2");
const QString kToolOutputDetails = QStringLiteral("Output of the tool:\n%1");
const QString kToolNotStartedDetails = QStringLiteral("The tool could not be started: %1");

const QString kKeyExtension = QStringLiteral(".key");
const QString kWildcard = QStringLiteral("wildcard");
const QString kNotRegularReason = QStringLiteral("it is not a regular file.");

// What the tool writes when a run fails for a reason that a user can put right, most telling
// first: a wrong pass phrase also makes the key unreadable.
struct KnownFailure {
    QStringList signs;
    QString explanation;
};

const KnownFailure kKnownFailures[] = {
    {{QStringLiteral("key values mismatch")}, kKeyMismatchExplanation},
    {{QStringLiteral("Mac verify error"), QStringLiteral("bad decrypt"),
      QStringLiteral("maybe wrong password")},
     kWrongPassPhraseExplanation},
    {{QStringLiteral("Type=PKCS12"), QStringLiteral("asn1_d2i_read_bio"),
      QStringLiteral("ASN1_get_object")},
     kNotPkcs12Explanation},
    {{QStringLiteral("Could not read private key"), QStringLiteral("unable to load private key"),
      QStringLiteral("DECODER routines")},
     kNotPrivateKeyExplanation},
    {{QStringLiteral("Could not read any certificates"),
      QStringLiteral("unable to load certificate")},
     kNotCertificateExplanation},
};

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
    switch (run.end) {
    case RunEnd::TimeLimit:
        return kTimeLimitExplanation.arg(TExternalApp::kTimeLimitMs / 1000);
    case RunEnd::Signalled:
        return kSignalExplanation.arg(QString::fromLocal8Bit(::strsignal(run.endSignal)));
    case RunEnd::Exited:
        if (run.exitCode != 0)
            return kExitStatusExplanation.arg(run.exitCode);
        return kIncompleteOutputExplanation.arg(nounOf(kind));
    case RunEnd::NotStarted:
    case RunEnd::Stopped:
        break;
    }
    return QString();
}

QString explanationOf(const OpenSSLCommands::ToolRun& run, OutputKind kind) {
    if (!run.startError.isEmpty())
        return kToolNotStartedExplanation;
    const QString output = QString::fromLocal8Bit(run.output);
    for (const KnownFailure& failure : kKnownFailures)
        for (const QString& sign : failure.signs)
            if (output.contains(sign, Qt::CaseInsensitive))
                return failure.explanation;
    return endingOf(run, kind);
}

// The tool lacks an algorithm: in a PKCS#12 file, one that only its legacy provider has.
bool saysAlgorithmUnsupported(const OpenSSLCommands::ToolRun& run) {
    for (const QByteArray& line : run.output.split('\n'))
        if (line.contains("digital envelope routines") && line.contains(":unsupported:"))
            return true;
    return false;
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
        said = kToolNotStartedDetails.arg(run.startError);
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

bool isWholeNumber(const QString& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

// A term outside these bounds gives a certificate that is no use, or one that the tool
// refuses after the key has been made.
void checkTerm(const QString& term) {
    bool isNumber = false;
    const int days = term.toInt(&isNumber);
    if (!isWholeNumber(term) || !isNumber || days < kShortestTerm || days > kLongestTerm)
        throw PageError(termMessage(term));
}

// The named files in the checked export folder, as the finished page lists them.
MadeFiles madeInExportFolder(const CheckedFolder& folder, const QStringList& names) {
    MadeFiles made{folder.path(), {}, {}};
    for (const QString& name : names)
        made.paths << made.folder + name;
    return made;
}

ToolRunPlan toolRun(const QStringList& arguments, const QString& output, OutputKind kind) {
    ToolRunPlan run;
    run.arguments = arguments;
    run.output = output;
    run.kind = kind;
    return run;
}

QStringList encryptedKeyCommandLine(const ToolContext& context, const QString& folder,
                                    const QString& base, const CertificateValues& values) {
    if (OpenSSLCommands::isEllipticCurve(values.keySize))
        return OpenSSLCommands::makeEncryptedEcKey(context.passPhraseFolder, folder, base,
                                                   values.keySize);
    return OpenSSLCommands::makeEncryptedKey(context.passPhraseFolder, folder, base,
                                             values.keySize);
}

QStringList requestCommandLine(const ToolContext& context, const QString& folder,
                               const QString& base, const CertificateValues&) {
    return OpenSSLCommands::makeRequest(context.passPhraseFolder, folder, base);
}

QStringList plainKeyCommandLine(const ToolContext&, const QString& folder, const QString& base,
                                const CertificateValues& values) {
    if (OpenSSLCommands::isEllipticCurve(values.keySize))
        return OpenSSLCommands::makePlainEcKey(folder, base, values.keySize);
    return OpenSSLCommands::makePlainKey(folder, base, values.keySize);
}

QStringList selfSignedCommandLine(const ToolContext&, const QString& folder, const QString& base,
                                  const CertificateValues& values) {
    return OpenSSLCommands::makeSelfSignedCertificate(folder, base, values.term);
}

// The chain files one after the other, each read only when it is a regular file, so that a
// FIFO or a device put at its name cannot hold the step up.
QByteArray chainContent(const QStringList& chainFiles, const QString& currentFolder) {
    QByteArray content;
    for (const QString& typed : chainFiles) {
        const QString path = pathForTool(typed, currentFolder);
        const Descriptor file(
            ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (file.fd < 0 || ::fstat(file.fd, &status) != 0)
            throw PageError(
                kUnreadableChainMessage.arg(typed, QString::fromLocal8Bit(std::strerror(errno))));
        QFile reader;
        if (!S_ISREG(status.st_mode) || !reader.open(file.fd, QIODevice::ReadOnly))
            throw PageError(kUnreadableChainMessage.arg(typed, kNotRegularReason));
        QByteArray text = reader.readAll();
        if (!text.endsWith('\n'))
            text += '\n';
        content += text;
    }
    return content;
}

// Before the bundle run: the chain files together in one file of a private scratch folder,
// which lasts as long as the plan.
void addChain(StepPlan& plan, ToolRunPlan& bundleRun, const KeyAndCertificateValues& values,
              const ToolContext& context) {
    if (values.chainFiles.isEmpty())
        return;
    const auto folder = std::make_shared<const ScratchFolder>();
    const QString chain = folder->file(kChainFileName);
    bundleRun.arguments = OpenSSLCommands::withChain(bundleRun.arguments, chain);
    bundleRun.before = [folder, chain, files = values.chainFiles, current = context.currentFolder] {
        if (const int error = writeFreshFile(chain, chainContent(files, current)); error != 0)
            throw PageError(
                kUnreadableChainMessage.arg(chain, QString::fromLocal8Bit(std::strerror(error))));
    };
    plan.scratch << chain;
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

// Whether a .pfx file holds authority certificates: they are extracted into a private scratch
// folder with the current pass phrase (a wrong one ends the step as the key's run would).
bool pfxHoldsAuthorities(const QString& pfx, const ToolContext& context) {
    const ScratchFolder folder;
    ToolRunPlan probe = toolRun(
        OpenSSLCommands::extractAuthoritiesFromPfx(context.passPhraseFolder, pfx, folder.path()),
        folder.file(kAuthoritiesFileName), OutputKind::Certificate);
    probe.legacyRetry = probe.mayMakeNothing = true;
    runJudged(probe, kConversionFailedMessage, context);
    return FileIsPresent(probe.output);
}

} // namespace

// A domain names the output files, so it must not lead them out of the export folder; and
// it names the host that the certificate serves, which clients match against its
// subjectAltName.
void checkDomain(const QString& domain) {
    if (domain.contains(QLatin1Char('/')) || domain.contains(QLatin1Char('\\')) ||
        domain == QLatin1String(".") || domain == QLatin1String(".."))
        throw PageError(kDomainPathMessage.arg(domain));
    if (RequestConfig::subjectAltName(domain).isEmpty())
        throw PageError(kDomainNameMessage.arg(domain));
}

// Output files are named after the domain, with every "*" spelled out as a word.
QString baseNameOf(const QString& domain) {
    return QString(domain).replace(QLatin1Char('*'), kWildcard);
}

const CertificateStep kRequestStep{
    .outputExtension = QStringLiteral(".csr"),
    .outputKind = OutputKind::Request,
    .asksPassPhrase = true,
    .hasTerm = false,
    .offersRequestCopy = true,
    .keyCommandLine = encryptedKeyCommandLine,
    .outputCommandLine = requestCommandLine,
};

const CertificateStep kSelfSignedStep{
    .outputExtension = QStringLiteral(".cer"),
    .outputKind = OutputKind::Certificate,
    .asksPassPhrase = false,
    .hasTerm = true,
    .offersRequestCopy = false,
    .keyCommandLine = plainKeyCommandLine,
    .outputCommandLine = selfSignedCommandLine,
};

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
    const auto emptyPassPhrases = qScopeGuard([&plan] {
        try {
            if (plan.passPhrases)
                emptyPassPhraseFiles();
        } catch (const PageError&) {
        }
    });
    QString newPassPhrase;
    if (plan.passPhrases)
        newPassPhrase = user.askPassPhrases(*plan.passPhrases);
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
    if (run.legacyRetry && made.end == RunEnd::Exited && saysAlgorithmUnsupported(made)) {
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

QString termMessage(const QString& term) {
    return kTermMessage.arg(term, QString::number(kShortestTerm), QString::number(kLongestTerm));
}

StepPlan certificatePlan(const CertificateStep& step, const CertificateValues& values,
                         const ToolContext& context) {
    const CheckedFolder checked =
        requirePrivateExportFolder(values.exportFolder, context.currentFolder);
    const QString folder = checked.path();
    const QString base = baseNameOf(values.domain);
    for (const QString& domain : QStringList{values.domain} + values.moreDomains)
        checkDomain(domain);
    if (step.hasTerm)
        checkTerm(values.term);
    const RequestConfigValues subject{values.keySize, values.countryCode, values.state,
                                      values.city,    values.legalName,   values.domain,
                                      values.email,   values.moreDomains};
    RequestConfig::checkValues(subject);
    const QStringList keyCommand = step.keyCommandLine(context, folder, base, values);
    const QStringList outputCommand = step.outputCommandLine(context, folder, base, values);

    const QString key = folder + base + kKeyExtension;
    const QString output = folder + base + step.outputExtension;
    StepPlan plan;
    plan.outputs = {key, output};
    plan.askedAbout = plan.outputs;
    if (step.asksPassPhrase)
        plan.passPhrases = PassPhraseUse::CertificateRequest;
    ToolRunPlan keyRun = toolRun(keyCommand, key, OutputKind::Key);
    keyRun.needsNewPassPhrase = step.asksPassPhrase;
    // The second run reads the subject from the request configuration, written before the key
    // run.
    keyRun.before = [folder, subject] { RequestConfig::write(folder, subject); };
    plan.scratch = {folder + RequestConfig::kFileName};
    ToolRunPlan outputRun = toolRun(outputCommand, output, step.outputKind);
    outputRun.followDebugSwitch = false;
    plan.runs = {keyRun, outputRun};
    plan.failureMessage = kGenerationFailedMessage;
    plan.made = {folder, {key, output}, step.offersRequestCopy ? output : QString()};
    plan.folder = checked;
    return plan;
}

MadeFiles generateCertificate(const CertificateStep& step, const CertificateValues& values,
                              StepUser& user, const ToolContext& context) {
    return runStep(certificatePlan(step, values, context), user, context);
}

QString pfxPath(const QString& keyFile, const QString& exportFolder) {
    return withTrailingSeparator(exportFolder) +
           withExtension(QFileInfo(keyFile).fileName(), kPfxExtension);
}

QByteArray plainKeyPublicPem(const QString& keyFile, const ToolContext& context) {
    const OpenSSLCommands::ToolRun run = OpenSSLCommands::runOpenSSLTool(
        OpenSSLCommands::printPublicKey(pathForTool(keyFile, context.currentFolder)), context,
        false);
    if (run.end != RunEnd::Exited || run.exitCode != 0)
        return QByteArray();
    // The tool's output holds its messages too: only the key's block counts.
    const qsizetype begin = run.output.indexOf(kPublicKeyBegin);
    const qsizetype end = run.output.indexOf(kPublicKeyEnd, begin);
    if (begin < 0 || end < 0)
        return QByteArray();
    return run.output.mid(begin, end + kPublicKeyEnd.size() - begin) + '\n';
}

StepPlan createPfxPlan(const KeyAndCertificateValues& values, const ToolContext& context) {
    const QString pfx = values.pfxName.isEmpty()
                            ? pfxPath(values.keyFile, values.exportFolder.path())
                            : values.exportFolder.path() + values.pfxName;
    const QStringList commandLine = OpenSSLCommands::exportPfx(
        context.passPhraseFolder, pathForTool(values.keyFile, context.currentFolder),
        pathForTool(values.certificateFile, context.currentFolder), pfx, values.friendlyName,
        values.protection);
    StepPlan plan;
    plan.input = values.keyFile;
    plan.outputs = {pfx};
    plan.askedAbout = plan.outputs;
    plan.passPhrases = PassPhraseUse::IISBundle;
    ToolRunPlan bundleRun = toolRun(commandLine, pfx, OutputKind::Bundle);
    addChain(plan, bundleRun, values, context);
    plan.runs = {bundleRun};
    plan.failureMessage = kConversionFailedMessage;
    plan.made = madeInExportFolder(values.exportFolder, {QFileInfo(pfx).fileName()});
    plan.folder = values.exportFolder;
    return plan;
}

StepPlan extractFromPfxPlan(const PfxExtractionValues& values, const ToolContext& context) {
    const CheckedFolder checked =
        requirePrivateExportFolder(values.exportText, context.currentFolder);
    const QString folder = checked.path();
    const QString pfx = pathForTool(values.pfxFile, context.currentFolder);
    const QString prog = context.passPhraseFolder;
    ToolRunPlan keyRun = toolRun(OpenSSLCommands::extractKeyFromPfx(prog, pfx, folder),
                                 folder + kKeyFileName, OutputKind::Key);
    ToolRunPlan certificateRun =
        toolRun(OpenSSLCommands::extractCertificateFromPfx(prog, pfx, folder),
                folder + kCertificateFileName, OutputKind::Certificate);
    keyRun.legacyRetry = certificateRun.legacyRetry = true;
    StepPlan plan;
    plan.input = values.pfxFile;
    plan.outputs = {keyRun.output, certificateRun.output};
    plan.askedAbout = plan.outputs;
    plan.passPhrases = PassPhraseUse::IndyFromPfx;
    plan.runs = {keyRun, certificateRun};
    plan.failureMessage = kConversionFailedMessage;
    plan.made = madeInExportFolder(checked, {kKeyFileName, kCertificateFileName});
    if (values.withAuthorities) {
        ToolRunPlan authoritiesRun =
            toolRun(OpenSSLCommands::extractAuthoritiesFromPfx(prog, pfx, folder),
                    folder + kAuthoritiesFileName, OutputKind::Certificate);
        authoritiesRun.legacyRetry = authoritiesRun.mayMakeNothing = true;
        authoritiesRun.optionalOutput = true;
        authoritiesRun.hasContent = [pfx, context] { return pfxHoldsAuthorities(pfx, context); };
        plan.outputs << authoritiesRun.output;
        plan.askedAbout << authoritiesRun.output;
        plan.runs << authoritiesRun;
        plan.made.paths << authoritiesRun.output;
    }
    plan.folder = checked;
    return plan;
}

StepPlan convertKeyAndCertPlan(const KeyAndCertificateValues& values, const ToolContext& context) {
    const QString prog = context.passPhraseFolder;
    const QString folder = values.exportFolder.path();
    ToolRunPlan bundleRun = toolRun(OpenSSLCommands::exportTemporaryBundle(
                                        prog, pathForTool(values.keyFile, context.currentFolder),
                                        pathForTool(values.certificateFile, context.currentFolder),
                                        folder, values.friendlyName),
                                    folder + kBundleFileName, OutputKind::Bundle);
    ToolRunPlan keyRun = toolRun(OpenSSLCommands::extractKeyFromTemporaryBundle(prog, folder),
                                 folder + kKeyFileName, OutputKind::Key);
    const ToolRunPlan certificateRun =
        toolRun(OpenSSLCommands::extractCertificateFromTemporaryBundle(prog, folder),
                folder + kCertificateFileName, OutputKind::Certificate);
    // Both files hold the new pass phrase from here on, so the bundle written under it opens.
    keyRun.before = copyNewPassPhraseOverCurrent;
    StepPlan plan;
    plan.input = values.keyFile;
    // A bundle left by an earlier conversion is moved aside with the outputs: it would pass
    // for the output of a failed bundle run.
    plan.outputs = {keyRun.output, certificateRun.output, bundleRun.output};
    plan.askedAbout = {keyRun.output, certificateRun.output};
    plan.passPhrases = PassPhraseUse::IndyFromKey;
    // The bundle holds the key under the new pass phrase: it goes once both files are made.
    plan.scratch = {bundleRun.output};
    plan.runs = {bundleRun, keyRun, certificateRun};
    plan.failureMessage = kConversionFailedMessage;
    plan.made = madeInExportFolder(values.exportFolder, {kKeyFileName, kCertificateFileName});
    if (!values.chainFiles.isEmpty()) {
        addChain(plan, plan.runs.first(), values, context);
        ToolRunPlan authoritiesRun =
            toolRun(OpenSSLCommands::extractAuthoritiesFromTemporaryBundle(prog, folder),
                    folder + kAuthoritiesFileName, OutputKind::Certificate);
        authoritiesRun.optionalOutput = true;
        plan.outputs.insert(2, authoritiesRun.output);
        plan.askedAbout << authoritiesRun.output;
        plan.runs << authoritiesRun;
        plan.made.paths << authoritiesRun.output;
    }
    plan.folder = values.exportFolder;
    return plan;
}

MadeFiles createPfx(const KeyAndCertificateValues& values, StepUser& user,
                    const ToolContext& context) {
    return runStep(createPfxPlan(values, context), user, context);
}

MadeFiles extractFromPfx(const PfxExtractionValues& values, StepUser& user,
                         const ToolContext& context) {
    return runStep(extractFromPfxPlan(values, context), user, context);
}

MadeFiles convertKeyAndCert(const KeyAndCertificateValues& values, StepUser& user,
                            const ToolContext& context) {
    return runStep(convertKeyAndCertPlan(values, context), user, context);
}

} // namespace ToolSteps
