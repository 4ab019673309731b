#include "ServerFiles.h"

#include "IssuedCertificate.h"
#include "UserFile.h"
#include "uCertwrightCommon.h"
#include "uPassPhraseFiles.h"
#include "uPassPhraseRules.h"
#include "uReloadCommand.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <memory>

namespace ServerFiles {

namespace {

const QString kNoServerMessage = QStringLiteral(
    "Please choose at least one server to make files for: nginx, apache, haproxy, iis or indy.");
const QString kServerKindMessage = QStringLiteral(
    "\"%1\" is not a server that files are made for: use nginx, apache, haproxy, iis or indy.");
const QString kHaproxyEncryptedMessage =
    QStringLiteral("HAProxy cannot read an encrypted key: leave the key unencrypted for it.");
const QString kNeedsPassPhraseMessage = QStringLiteral(
    "The .pfx file, key.pem and an encrypted key are protected by a pass phrase. Please enter "
    "one.");
const QString kBaseNameMessage =
    QStringLiteral("\"%1\" cannot name the files: it must not be empty, contain \"/\" or \"\\\", "
                   "or be \".\" or \"..\".");
const QString kUnprovenMessage =
    QStringLiteral("The chain of the certificate %1 is not proven up to a root that this "
                   "computer trusts, so no file was written.");
const QString kProblemLine = QStringLiteral("%1 [%2]");
const QString kCannotWriteMessage = QStringLiteral("The file \"%1\" cannot be written: %2");
const QString kCannotReadMessage = QStringLiteral("The file \"%1\" cannot be read: %2");
const QString kNotRegularReason = QStringLiteral("it is not a regular file");
const QString kNginxNote =
    QStringLiteral("The key %1 is encrypted: nginx reads its pass phrase from the file that "
                   "ssl_password_file names.");
const QString kApacheNote =
    QStringLiteral("The key %1 is encrypted: Apache asks for its pass phrase through "
                   "SSLPassPhraseDialog (builtin asks at the terminal when it starts).");

// Files of the step's own in its private scratch folder.
const QString kLeafName = QStringLiteral("leaf.pem");
const QString kPlainKeyName = QStringLiteral("plain.key");
const QString kCombinedName = QStringLiteral("combined.pem");

ToolSteps::ToolRunPlan toolRun(const QStringList& arguments, const QString& output,
                               OutputKind kind) {
    ToolSteps::ToolRunPlan run;
    run.arguments = arguments;
    run.output = output;
    run.kind = kind;
    return run;
}

void appendPlan(ToolSteps::StepPlan& plan, const ToolSteps::StepPlan& more) {
    plan.outputs << more.outputs;
    plan.askedAbout << more.askedAbout;
    plan.scratch << more.scratch;
    plan.runs << more.runs;
    plan.made.paths << more.made.paths;
}

// A file that the user may have named: read only when it is a regular file, so that a FIFO
// put at its name cannot hold the step up.
QByteArray contentOf(const QString& path) {
    UserFile::Failure failure;
    const std::optional<QByteArray> content = UserFile::read(path, {}, &failure);
    if (!content)
        throw PageError(kCannotReadMessage.arg(path, failure.refusal == UserFile::Refusal::System
                                                         ? failure.systemReason()
                                                         : kNotRegularReason));
    return *content;
}

QByteArray pemOf(const QList<QSslCertificate>& certificates) {
    QByteArray pem;
    for (const QSslCertificate& certificate : certificates)
        pem += certificate.toPem();
    return pem;
}

bool wants(const Choice& choice, const QString& server) {
    return choice.servers.contains(server);
}

// The base name stays a file name in the export folder.
void checkBaseName(const QString& base) {
    if (base.isEmpty() || base.contains(QLatin1Char('/')) || base.contains(QLatin1Char('\\')) ||
        base == QLatin1String(".") || base == QLatin1String(".."))
        throw PageError(kBaseNameMessage.arg(base));
}

} // namespace

bool needsNewPassPhrase(const Choice& choice) {
    return wants(choice, kForIis) || wants(choice, kForIndy) || choice.encryptKey;
}

QStringList outputNames(const QStringList& servers, const QString& base) {
    QStringList names;
    if (servers.contains(kForNginx) || servers.contains(kForApache))
        names << base + kKeyExtension << base + kFullChainExtension;
    if (servers.contains(kForHaproxy))
        names << base + kCombinedExtension;
    if (servers.contains(kForIis))
        names << base + kPfxExtension;
    if (servers.contains(kForIndy))
        names << ToolSteps::kKeyFileName << ToolSteps::kCertificateFileName
              << ToolSteps::kAuthoritiesFileName;
    return names;
}

ToolSteps::StepPlan plan(const Choice& choice, const CheckedFolder& folder, const Sources& sources,
                         const ToolContext& context) {
    const QString path = folder.path();
    const QString prog = context.passPhraseFolder;
    ToolSteps::StepPlan plan;
    plan.made.folder = path;
    plan.folder = folder;
    plan.failureMessage = ToolSteps::kConversionFailedMessage;
    plan.passPhrases = PassPhraseUse::ServerFiles;
    // The step's own files; the folder lasts as long as a run that reads from it holds it.
    const auto scratch = std::make_shared<const ScratchFolder>();
    if (wants(choice, kForNginx) || wants(choice, kForApache)) {
        const QString key = path + choice.base + kKeyExtension;
        const QString chain = path + choice.base + kFullChainExtension;
        ToolSteps::ToolRunPlan keyRun =
            toolRun(choice.encryptKey ? OpenSSLCommands::encryptedKeyCopy(prog, sources.key, key)
                                      : OpenSSLCommands::plainKeyCopy(prog, sources.key, key),
                    key, OutputKind::Key);
        keyRun.needsNewPassPhrase = choice.encryptKey;
        plan.runs << keyRun
                  << toolRun(OpenSSLCommands::certificatesCopy(sources.certificates, chain), chain,
                             OutputKind::Certificate);
        plan.outputs << key << chain;
    }
    if (wants(choice, kForHaproxy)) {
        const QString combined = path + choice.base + kCombinedExtension;
        const QString plainKey = scratch->file(kPlainKeyName);
        plan.runs << toolRun(OpenSSLCommands::plainKeyCopy(prog, sources.key, plainKey), plainKey,
                             OutputKind::Key);
        ToolSteps::ToolRunPlan combinedRun =
            toolRun(OpenSSLCommands::certificatesAndKeyCopy(scratch->file(kCombinedName), combined),
                    combined, OutputKind::Key);
        combinedRun.before = [scratch, plainKey, combined, certificates = sources.certificates] {
            scratch->write(kCombinedName, contentOf(certificates) + contentOf(plainKey));
            // The tool writes into the file that stands at the name and keeps its mode, so the
            // key in it is never readable by others, not even for a moment.
            if (const int error = writeFreshFile(combined, QByteArray()); error != 0)
                throw PageError(kCannotWriteMessage.arg(
                    combined, QString::fromLocal8Bit(std::strerror(error))));
        };
        plan.runs << combinedRun;
        plan.outputs << combined;
    }
    plan.made.paths = plan.outputs;
    plan.askedAbout = plan.outputs;
    if (!wants(choice, kForIis) && !wants(choice, kForIndy))
        return plan;
    // The bundles take the server's certificate alone and the chain beside it: the tool would
    // hold a certificate twice that came both ways.
    const QString leaf = scratch->file(kLeafName);
    ToolSteps::ToolRunPlan leafRun =
        toolRun(OpenSSLCommands::firstCertificateCopy(sources.certificates, leaf), leaf,
                OutputKind::Certificate);
    leafRun.before = [scratch] {}; // the bundles read the leaf from the folder
    plan.runs << leafRun;
    ToolSteps::KeyAndCertificateValues bundle{choice.friendlyName, sources.key, leaf, folder};
    if (!sources.authorities.isEmpty())
        bundle.chainFiles = {sources.authorities};
    if (wants(choice, kForIis)) {
        bundle.pfxName = choice.base + kPfxExtension;
        bundle.protection = choice.legacyPfx ? OpenSSLCommands::PfxProtection::OlderWindows
                                             : OpenSSLCommands::PfxProtection::Current;
        appendPlan(plan, ToolSteps::createPfxPlan(bundle, context));
    }
    if (wants(choice, kForIndy))
        appendPlan(plan, ToolSteps::convertKeyAndCertPlan(bundle, context));
    // The chain file of each bundle is written before its own run, under the same name.
    plan.scratch.removeDuplicates();
    return plan;
}

// ---- A certificate from the user's authority

ProvenChain::ProvenChain(const CertificateCheck::CheckInput& input, const ToolContext& context)
    : report(CertificateCheck::checkCertificate(input, context)) {
    if (report.hasProblem(CertificateCheck::kKeyMismatch))
        throw PageError(kKeyMismatchMessage.arg(input.keyFile, report.subject));
    const QList<QSslCertificate> given =
        QList{report.chain.server} + report.chain.authorities + report.chain.unrelated;
    bool rootGiven = false;
    // The reason, then what the check found, each problem with its id.
    const auto unproven = [this, &rootGiven](const QString& reason) {
        QStringList lines{reason};
        for (const CertificateCheck::CheckProblem& problem : report.problems)
            if (problem.id != CertificateCheck::kChainOrder &&
                !(rootGiven && problem.id == CertificateCheck::kUntrustedRoot))
                lines << kProblemLine.arg(problem.message, problem.id);
        return PageError(kUnprovenMessage.arg(report.subject), lines.join(QLatin1Char('\n')));
    };
    try {
        chain = CertificateCheck::completeChain(report, input.caFile, context);
    } catch (const PageError& error) {
        throw unproven(error.message());
    }
    // A root that the files hold is trusted for them; one fetched from an address is not.
    rootGiven = chain.end == ChainEnd::UntrustedRoot && given.contains(chain.root);
    QList<QSslCertificate> authorities;
    for (const QSslCertificate& authority : chain.authorities)
        if (!Certificates::isSelfIssued(authority))
            authorities << authority;
    scratch.write(kServerName, chain.server.toPem());
    scratch.write(kCertificatesName, pemOf(QList{chain.server} + authorities));
    if (rootGiven && chain.root != chain.server)
        authorities << chain.root;
    if (!authorities.isEmpty())
        scratch.write(kAuthoritiesName, pemOf(authorities));
    QString trusted = input.caFile.isEmpty()
                          ? QString()
                          : ToolSteps::pathForTool(input.caFile, context.currentFolder);
    if (rootGiven) {
        scratch.write(kTrustedName, chain.root.toPem());
        trusted = scratch.file(kTrustedName);
    }
    try {
        IssuedCertificate::proveChain(certificatesFile(), trusted, QString(), context);
    } catch (const PageError& error) {
        throw unproven(error.explanation());
    }
}

QString ProvenChain::authoritiesFile() const {
    const QString file = scratch.file(kAuthoritiesName);
    return FileIsPresent(file) ? file : QString();
}

QString ProvenChain::baseName() const {
    const QString first =
        report.names.isEmpty() ? Certificates::displayName(chain.server) : report.names.first();
    return ToolSteps::baseNameOf(first);
}

void checkServerChoice(const QStringList& servers, bool encryptKey) {
    if (servers.isEmpty())
        throw PageError(kNoServerMessage);
    for (const QString& server : servers)
        if (!kServerKinds.contains(server))
            throw PageError(kServerKindMessage.arg(server));
    if (encryptKey && servers.contains(kForHaproxy))
        throw PageError(kHaproxyEncryptedMessage);
}

void checkInstallValues(const InstallValues& values) {
    checkServerChoice(values.servers, values.encryptKey);
    if (!values.base.isEmpty())
        checkBaseName(values.base);
    if (needsNewPassPhrase({values.servers, values.base, QString(), false, values.encryptKey})) {
        if (values.newPassPhrase.isEmpty())
            throw PageError(kNeedsPassPhraseMessage);
        PassPhraseRules::checkNewPassPhrase(values.newPassPhrase);
    }
}

InstallResult install(const InstallValues& values, ToolSteps::StepUser& user,
                      const ToolContext& context) {
    checkInstallValues(values);
    const CheckedFolder folder =
        requirePrivateExportFolder(values.outFolder, context.currentFolder);
    CertificateCheck::CheckInput input;
    input.keyFile = values.keyFile;
    input.passPhrase = values.currentPassPhrase;
    input.certificateFile = values.certificateFile;
    input.chainFiles = values.chainFiles;
    input.caFile = values.caFile;
    const ProvenChain proven(input, context);
    Choice choice{values.servers, values.base.isEmpty() ? proven.baseName() : values.base,
                  values.friendlyName, values.legacyPfx, values.encryptKey};
    if (choice.friendlyName.isEmpty())
        choice.friendlyName = choice.base;
    checkBaseName(choice.base);
    const ToolSteps::StepPlan steps =
        plan(choice, folder,
             {ToolSteps::pathForTool(values.keyFile, context.currentFolder),
              proven.certificatesFile(), proven.authoritiesFile()},
             context);
    for (const QString& typed :
         QStringList{values.keyFile, values.certificateFile, values.caFile} + values.chainFiles)
        if (!typed.isEmpty())
            ToolSteps::refuseInputAmong(ToolSteps::pathForTool(typed, context.currentFolder),
                                        steps.outputs);
    for (const QString& output : steps.made.paths)
        if (FileIsPresent(output) &&
            !user.mayReplace(ToolSteps::kOverwriteQuestion.arg(QFileInfo(output).fileName()),
                             output.endsWith(kKeyExtension)))
            throw SilentAbort();
    KnownPassPhrases known(user, values.currentPassPhrase, values.newPassPhrase);
    InstallResult result;
    result.made = ToolSteps::runStep(steps, known, context);
    result.chain = proven.chain;
    if (values.encryptKey) {
        const QString key = folder.path() + choice.base + kKeyExtension;
        if (wants(choice, kForNginx))
            result.notes << kNginxNote.arg(key);
        if (wants(choice, kForApache))
            result.notes << kApacheNote.arg(key);
    }
    if (!values.reloadCommand.isEmpty())
        result.reloadProblem = ReloadCommand::run(values.reloadCommand, context);
    return result;
}

} // namespace ServerFiles
