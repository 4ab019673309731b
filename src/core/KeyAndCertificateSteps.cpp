#include "KeyAndCertificateSteps.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"
#include "uPassPhraseFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ToolSteps {

namespace {

const QString kPfxExtension = QStringLiteral(".pfx");
const QByteArray kPublicKeyBegin = QByteArrayLiteral("-----BEGIN PUBLIC KEY-----");
const QByteArray kPublicKeyEnd = QByteArrayLiteral("-----END PUBLIC KEY-----");
const QString kNotRegularReason = QStringLiteral("it is not a regular file.");

// The named files in the checked export folder, as the finished page lists them.
MadeFiles madeInExportFolder(const CheckedFolder& folder, const QStringList& names) {
    MadeFiles made{folder.path(), {}, {}};
    for (const QString& name : names)
        made.paths << made.folder + name;
    return made;
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
    keyRun.before = [folder = context.passPhraseFolder] { copyNewPassPhraseOverCurrent(folder); };
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
