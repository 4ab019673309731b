#include "uAcme.h"

#include "ChallengeFolder.h"
#include "IssuanceLock.h"
#include "IssuedCertificate.h"

#include "ChildRun.h"
#include "uCertwrightCommon.h"
#include "uExportFolder.h"
#include "uExternalApp.h"
#include "uFreshFile.h"
#include "uLimitedFetch.h"
#include "uPassPhraseRules.h"
#include "uReloadCommand.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace Acme {

namespace {

// ---- Texts

const QString kWaitingStep =
    QStringLiteral("Waiting for another run of this program to finish its certificate");
const QString kConnectingStep = QStringLiteral("Connecting to the authority");
const QString kRegisteringStep = QStringLiteral("Registering with the authority");
const QString kOrderingStep = QStringLiteral("Ordering the certificate");
const QString kCheckingStep = QStringLiteral("The authority is checking %1…");
const QString kDownloadingStep = QStringLiteral("Downloading the certificate");
const QString kMakingFilesStep = QStringLiteral("Making the files for the server");
const QString kReloadingStep = QStringLiteral("Running the reload command");
const QString kDoneStep = QStringLiteral("Done");

const QString kNoNameMessage =
    QStringLiteral("Please enter at least one name for the certificate.");
const QString kWildcardMessage = QStringLiteral(
    "The authority checks a wildcard name such as \"%1\" only through DNS records, which "
    "this program does not make. Please enter each name that the server uses instead.");
const QString kTwiceNameMessage =
    QStringLiteral("The name \"%1\" is given twice. Please enter each name once.");
const QString kEmailMessage = QStringLiteral(
    "\"%1\" is not an e-mail address. Please enter the address at which the authority can "
    "reach you, such as admin@example.com.");
const QString kKeyTypeMessage =
    QStringLiteral("\"%1\" is not a key type: use ec256, ec384, rsa2048 or rsa4096.");
const QString kServerMessage = QStringLiteral(
    "\"%1\" is not the address of an ACME directory. Please enter an https:// address.");
const QString kNoOutputMessage = QStringLiteral(
    "Please choose at least one kind of server files: nginx, apache, haproxy, iis or indy.");
const QString kOutputKindMessage = QStringLiteral(
    "\"%1\" is not a kind of server files: use nginx, apache, haproxy, iis or indy.");
const QString kPortMessage =
    QStringLiteral("%1 is not a port number. Please enter a number from 1 to 65535.");
const QString kWebRootMessage = QStringLiteral(
    "The web root \"%1\" is not a folder. Please choose the folder that the web server serves "
    "for these names.");
const QString kCaBundleMessage = QStringLiteral(
    "The CA file \"%1\" cannot be read. Please choose the file of the certificate that signs "
    "the authority's HTTPS certificate.");
const QString kNeedsPassPhraseMessage =
    QStringLiteral("The .pfx file and key.pem are protected by a pass phrase. Please enter one.");
const QString kNoLegoMessage = QStringLiteral(
    "The ACME client lego is not installed. Please install it (on Debian: apt install lego).");
const QString kFolderMessage =
    QStringLiteral("The folder \"%1\" cannot be used for this program's data: %2.");
const QString kSharedDataFolderMessage = QStringLiteral(
    "The folder \"%1\" cannot be used for this program's data: %2. Other users could take the "
    "keys kept there. Please let only yourself change it and the folders above it, or set "
    "XDG_DATA_HOME to a folder that only you can change.");
const QString kNotOwnFolderReason =
    QStringLiteral("it is not a folder of your own (or it is a link)");

const QString kObtainFailedMessage =
    QStringLiteral("The certificate could not be obtained from the authority.");
const QString kUnreachableExplanation =
    QStringLiteral("The authority could not reach %1…: %2. Does %3 point at this server, and "
                   "is port %4 open?");
const QString kWrongAnswerExplanation =
    QStringLiteral("The authority reached %1… but did not find the expected answer there: %2. "
                   "Does %3 point at this server, and does its web server serve the chosen web "
                   "root at /.well-known/acme-challenge/?");
const QString kDnsExplanation =
    QStringLiteral("The authority could not find %1 in the DNS: %2. Please give %1 a DNS "
                   "record that points at this server.");
const QString kRejectedNameExplanation =
    QStringLiteral("The authority does not issue certificates for %1: %2. Please check the "
                   "name.");
const QString kCaaExplanation =
    QStringLiteral("The DNS of %1 does not allow this authority to issue for it (a CAA "
                   "record): %2.");
const QString kRateLimitExplanation =
    QStringLiteral("The authority refuses for now because too many certificates were "
                   "requested: %1. Please try again later; for trying, use the staging "
                   "service.");
const QString kRefusedExplanation =
    QStringLiteral("The authority refused the certificate for %1: %2.");
const QString kPortTakenExplanation =
    QStringLiteral("Another program already uses port %1, so the temporary web server could "
                   "not start. Stop that program, or choose the web root that it serves "
                   "instead.");
const QString kPortDeniedExplanation =
    QStringLiteral("This program may not open port %1: ports below 1024 need administrator "
                   "rights. Run it as an administrator, or choose a web root instead.");
const QString kWebRootWriteExplanation =
    QStringLiteral("The answer for the authority could not be written into the web root: %1. "
                   "Please choose a web root that this program may write.");
const QString kUntrustedExplanation =
    QStringLiteral("The authority's HTTPS certificate at %1 is not trusted: %2. Please give "
                   "the CA file that signs it.");
const QString kNoDirectoryExplanation =
    QStringLiteral("The authority at %1 could not be reached: %2. Please check the address "
                   "and this computer's network connection.");
const QString kOtherExplanation = QStringLiteral("lego said: %1");
const QString kTimeLimitExplanation =
    QStringLiteral("The authority did not finish within %1 minutes. Please try again later.");
const QString kLegoSubject = QStringLiteral("lego");
const QString kNoCertificateExplanation =
    QStringLiteral("lego ended without leaving the certificate in %1.");
const QString kLegoDetails = QStringLiteral("Command line:\n%1\n\nOutput of lego:\n%2");

const QString kTermsMissingMessage =
    QStringLiteral("The authority's directory at %1 names no terms of service.");
const QString kTermsUnreadableMessage =
    QStringLiteral("The authority's directory at %1 could not be read: %2.");
// An ACME directory is a few hundred bytes.
constexpr qint64 kLargestDirectoryBytes = 64 * 1024;
const QString kTermsNotJson = QStringLiteral("it is not an ACME directory");

const QString kWebRootMissing = QStringLiteral("\"%1\" is not a folder.");

const QString kChallengePath = QStringLiteral(".well-known/acme-challenge/");

const QString kLegoName = QStringLiteral("lego");
const QString kLegoCaVariable = QStringLiteral("LEGO_CA_CERTIFICATES=");
const QString kAcmeFolderName = QStringLiteral("acme");
const QString kLegoCertificates = QStringLiteral("certificates/");
const QString kDataFolderName = QStringLiteral("certwright/");

// lego waits for the authority, which may take minutes when it is busy.
constexpr int kMsPerMinute = 60 * 1000;
constexpr int kLegoTimeLimitMs = 10 * kMsPerMinute;
constexpr int kHighestPort = 65535;

// How far the run is at each step, before the files are made.
constexpr double kConnectingFraction = 0.02;
constexpr double kRegisteringFraction = 0.1;
constexpr double kOrderingFraction = 0.2;
constexpr double kCheckingFraction = 0.25;
constexpr double kCheckingShare = 0.5;
constexpr double kDownloadingFraction = 0.8;
constexpr double kMakingFilesFraction = 0.9;
constexpr double kReloadingFraction = 0.95;

// ---- What lego writes

// lego's name of a certificate's files: a wildcard's "*" becomes "_".
QString legoFileBase(const QString& name) {
    return QString::fromLatin1(QUrl::toAce(name)).replace(QLatin1Char('*'), QLatin1Char('_'));
}

// The name in square brackets that one of lego's messages is about, after its level.
QString bracketedName(const QString& line) {
    static const QRegularExpression name(QStringLiteral("\\[INFO\\] \\[([^\\],]+)\\]"));
    const QRegularExpressionMatch match = name.match(line);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString challengeAddress(const QString& name) {
    return QStringLiteral("http://") + name + QLatin1Char('/') + kChallengePath;
}

// Follows lego's messages and reports the steps that they show.
class LegoProgress {
  public:
    LegoProgress(const QStringList& names, const ProgressCallback& progress)
        : names(names), report(progress) {}

    void take(const QByteArray& piece) {
        pending += piece;
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            line(QString::fromUtf8(pending.left(end)));
            pending.remove(0, end + 1);
        }
    }

  private:
    void line(const QString& text) {
        if (!report)
            return;
        if (text.contains(QLatin1String("Registering account")))
            report(kRegisteringStep, kRegisteringFraction);
        else if (text.contains(QLatin1String("Obtaining bundled SAN certificate")) ||
                 text.contains(QLatin1String("Obtaining SAN certificate")))
            report(kOrderingStep, kOrderingFraction);
        else if (text.contains(QLatin1String("Trying to solve HTTP-01")))
            report(kCheckingStep.arg(challengeAddress(bracketedName(text))), checkedFraction());
        else if (text.contains(QLatin1String("The server validated our request"))) {
            ++validated;
            report(kCheckingStep.arg(challengeAddress(bracketedName(text))), checkedFraction());
        } else if (text.contains(QLatin1String("requesting certificates")))
            report(kDownloadingStep, kDownloadingFraction);
    }

    double checkedFraction() const {
        return kCheckingFraction +
               kCheckingShare * std::min<double>(validated, names.size()) / names.size();
    }

    QStringList names;
    ProgressCallback report;
    QByteArray pending;
    int validated = 0;
};

// ---- Why lego failed, in plain words

struct AuthorityProblem {
    QString name;
    QString type; // the ACME error type after "urn:ietf:params:acme:error:"
    QString detail;
};

std::optional<AuthorityProblem> authorityProblem(const QString& output) {
    static const QRegularExpression problem(
        QStringLiteral("^\\[([^\\]]+)\\][^\\n]*urn:ietf:params:acme:error:(\\w+) :: ([^\\n]*)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = problem.match(output);
    if (!match.hasMatch())
        return std::nullopt;
    return AuthorityProblem{match.captured(1), match.captured(2), match.captured(3).trimmed()};
}

// The last reason in a chain of Go's messages: "dial tcp ...: connect: connection refused".
QString lastReason(const QString& detail) {
    const qsizetype colon = detail.lastIndexOf(QLatin1String(": "));
    QString reason = colon < 0 ? detail : detail.mid(colon + 2);
    reason = reason.trimmed();
    while (reason.endsWith(QLatin1Char('.')) || reason.endsWith(QLatin1Char('"')))
        reason.chop(1);
    return reason;
}

// The challenge address as the authority used it, without the token, and its port.
QString challengeUrlIn(const QString& detail, const QString& name, int* port) {
    static const QRegularExpression url(
        QStringLiteral("(https?://([^/\\s\"]+)/\\.well-known/acme-challenge/)"));
    const QRegularExpressionMatch match = url.match(detail);
    *port = kDefaultHttpPort;
    if (!match.hasMatch())
        return challengeAddress(name);
    const QUrl address(match.captured(1));
    *port = address.port(kDefaultHttpPort);
    return match.captured(1);
}

// The challenge detail without the address, where the reason follows it.
QString afterAddress(const QString& detail) {
    const qsizetype at = detail.indexOf(QLatin1String("acme-challenge/"));
    if (at < 0)
        return detail;
    return detail.mid(at);
}

QString explainAuthorityProblem(const AuthorityProblem& problem) {
    int port = kDefaultHttpPort;
    const QString address = challengeUrlIn(problem.detail, problem.name, &port);
    const QString reason = lastReason(afterAddress(problem.detail));
    if (problem.type == QLatin1String("connection"))
        return kUnreachableExplanation.arg(address, reason, problem.name, QString::number(port));
    if (problem.type == QLatin1String("unauthorized") ||
        problem.type == QLatin1String("incorrectResponse"))
        return kWrongAnswerExplanation.arg(address, reason, problem.name);
    if (problem.type == QLatin1String("dns"))
        return kDnsExplanation.arg(problem.name, lastReason(problem.detail));
    if (problem.type == QLatin1String("rejectedIdentifier") ||
        problem.type == QLatin1String("malformed"))
        return kRejectedNameExplanation.arg(problem.name, problem.detail);
    if (problem.type == QLatin1String("caa"))
        return kCaaExplanation.arg(problem.name, problem.detail);
    if (problem.type == QLatin1String("rateLimited"))
        return kRateLimitExplanation.arg(problem.detail);
    return kRefusedExplanation.arg(problem.name, problem.detail);
}

// The last line of lego's output that says something went wrong.
QString lastComplaint(const QString& output) {
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (!line->trimmed().isEmpty() && !line->contains(QLatin1String("[INFO]")))
            return line->trimmed();
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

QString explainLegoOutput(const QString& said, const AcmeValues& values) {
    // What the authority sent on through lego reaches the terminal and the window.
    const QString output = printableText(said, true);
    if (const auto problem = authorityProblem(output))
        return explainAuthorityProblem(*problem);
    if (output.contains(QLatin1String("could not start HTTP server"))) {
        const QString port = QString::number(values.httpPort);
        if (output.contains(QLatin1String("address already in use")))
            return kPortTakenExplanation.arg(port);
        if (output.contains(QLatin1String("permission denied")))
            return kPortDeniedExplanation.arg(port);
    }
    static const QRegularExpression directory(
        QStringLiteral("get directory at '([^']+)': ([^\\n]*)"));
    if (const QRegularExpressionMatch match = directory.match(output); match.hasMatch()) {
        const QString detail = match.captured(2);
        if (detail.contains(QLatin1String("x509:")) ||
            detail.contains(QLatin1String("certificate")))
            return kUntrustedExplanation.arg(match.captured(1), lastReason(detail));
        return kNoDirectoryExplanation.arg(match.captured(1), lastReason(detail));
    }
    if (output.contains(QLatin1String("could not write file")) ||
        output.contains(QLatin1String("could not create required directories in webroot")))
        return kWebRootWriteExplanation.arg(lastReason(lastComplaint(output)));
    return kOtherExplanation.arg(lastComplaint(output));
}

// ---- Running lego

QString legoProgram(const ToolContext& context) {
    QString program = QStandardPaths::findExecutable(kLegoName, {context.programFolder});
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(kLegoName);
    if (program.isEmpty())
        throw PageError(kNoLegoMessage);
    return program;
}

QStringList legoArguments(const AcmeValues& values, const QString& state) {
    QStringList arguments = {kLegoName,
                             QStringLiteral("--path"),
                             state,
                             QStringLiteral("--server"),
                             values.server,
                             QStringLiteral("--accept-tos"),
                             QStringLiteral("--email"),
                             values.email,
                             QStringLiteral("--key-type"),
                             values.keyType};
    for (const QString& name : values.names)
        arguments << QStringLiteral("--domains") << name;
    arguments << QStringLiteral("--http");
    if (values.webRoot.isEmpty())
        arguments << QStringLiteral("--http.port")
                  << QLatin1Char(':') + QString::number(values.httpPort);
    else
        arguments << QStringLiteral("--http.webroot") << values.webRoot;
    arguments << QStringLiteral("run");
    return arguments;
}

struct LegoFiles {
    QString certificate; // the certificate and its chain, server first
    QString key;
    QString issuer;
};

LegoFiles legoFilesOf(const QString& state, const QString& mainName) {
    const QString base = state + kLegoCertificates + legoFileBase(mainName);
    return {base + QStringLiteral(".crt"), base + ServerFiles::kKeyExtension,
            base + QStringLiteral(".issuer.crt")};
}

QString legoDetails(const QString& program, const QStringList& arguments, const QString& output) {
    return kLegoDetails.arg(OpenSSLCommands::readableCommandLine(program, arguments.mid(1)),
                            printableText(output.trimmed(), true));
}

// lego makes its account key readable by all (only the folder around it keeps others out);
// like every secret of this program's, each file of its state is its owner's alone.
void keepFilesPrivate(const QString& state) {
    QDirIterator files(state, QDir::Files | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const Descriptor file(::open(QFile::encodeName(files.next()).constData(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (file.fd >= 0 && ::fstat(file.fd, &status) == 0 && S_ISREG(status.st_mode) &&
            (status.st_mode & 077) != 0)
            ::fchmod(file.fd, status.st_mode & 0700);
    }
}

// Runs lego until it has put the certificate into its state; returns its output.
QString runLego(const AcmeValues& values, const QString& state, const LegoFiles& files,
                const ToolContext& context, const ProgressCallback& progress, Cancel* cancel) {
    const QString program = legoProgram(context);
    // What lego left of an earlier certificate must not pass for the new one.
    for (const QString& path : {files.certificate, files.key, files.issuer})
        ::unlink(QFile::encodeName(path).constData());
    std::optional<ChallengeFolder> challenges;
    if (!values.webRoot.isEmpty()) {
        challenges.emplace(values.webRoot);
        challenges->noteNewAnswers();
    }
    LegoProgress follower(values.names, progress);
    TExternalApp lego;
    lego.ModuleName = program;
    lego.Arguments = legoArguments(values, state);
    lego.CurrentDirectory = state;
    lego.ShowAppWindow = context.debug;
    if (!values.caBundle.isEmpty())
        lego.Environment << kLegoCaVariable + values.caBundle;
    lego.OutputHook = [&follower](const QByteArray& piece) { follower.take(piece); };
    lego.setTimeLimit(kLegoTimeLimitMs);
    if (cancel)
        cancel->attach(&lego);
    const auto detach = qScopeGuard([cancel] {
        if (cancel)
            cancel->attach(nullptr);
    });
    if (cancel && cancel->cancelled())
        throw SilentAbort();
    lego.StartProcess();
    if (cancel && cancel->cancelled())
        lego.EndRun();
    lego.WaitForProcess();
    keepFilesPrivate(state);
    const QString output = QString::fromUtf8(lego.Output());
    const QString details = legoDetails(program, lego.Arguments, output);
    const bool made = lego.End() == RunEnd::Exited && lego.ExitCode() == 0 &&
                      FileIsPresent(files.certificate) && FileIsPresent(files.key);
    if (made)
        return output;
    switch (lego.End()) {
    case RunEnd::Stopped:
        throw SilentAbort();
    case RunEnd::TimeLimit:
        throw PageError(kObtainFailedMessage,
                        kTimeLimitExplanation.arg(kLegoTimeLimitMs / kMsPerMinute), details);
    case RunEnd::NotStarted:
    case RunEnd::Signalled:
        throw PageError(kObtainFailedMessage, describeEnding(finishedRun(lego), kLegoSubject),
                        details);
    case RunEnd::Exited:
        break;
    }
    if (lego.ExitCode() == 0)
        throw PageError(kObtainFailedMessage, kNoCertificateExplanation.arg(state), details);
    throw PageError(kObtainFailedMessage, explainLegoOutput(output, values), details);
}

// ---- Making the server files

// The server files of the values, named after the main name.
ServerFiles::Choice choiceOf(const AcmeValues& values) {
    return {values.outputs, ToolSteps::baseNameOf(values.names.value(0)),
            values.friendlyName.isEmpty() ? values.names.value(0) : values.friendlyName,
            values.legacyPfx, false};
}

bool isPort(int port) {
    return port >= 1 && port <= kHighestPort;
}

// The values with every typed path made absolute, as lego (which runs in its state folder)
// and the record need them.
AcmeValues resolvedValues(const AcmeValues& values, const ToolContext& context) {
    AcmeValues resolved = values;
    if (!resolved.webRoot.isEmpty())
        resolved.webRoot = ToolSteps::pathForTool(values.webRoot, context.currentFolder);
    if (!resolved.caBundle.isEmpty())
        resolved.caBundle = ToolSteps::pathForTool(values.caBundle, context.currentFolder);
    return resolved;
}

} // namespace

// ---- The values

void checkNamesAndEmail(const QStringList& names, const QString& email) {
    if (names.isEmpty())
        throw PageError(kNoNameMessage);
    for (const QString& name : names) {
        ToolSteps::checkDomain(name);
        if (name.contains(QLatin1Char('*')))
            throw PageError(kWildcardMessage.arg(name));
        if (names.count(name) > 1)
            throw PageError(kTwiceNameMessage.arg(name));
    }
    static const QRegularExpression address(QStringLiteral("^[^@\\s]+@[^@\\s]+\\.[^@\\s]+$"));
    if (!address.match(email).hasMatch())
        throw PageError(kEmailMessage.arg(email));
}

void checkValues(const AcmeValues& values, const ToolContext& context) {
    checkNamesAndEmail(values.names, values.email);
    if (!kKeyTypes.contains(values.keyType))
        throw PageError(kKeyTypeMessage.arg(values.keyType));
    const QUrl server(values.server);
    if (!server.isValid() || server.scheme() != QLatin1String("https") || server.host().isEmpty())
        throw PageError(kServerMessage.arg(values.server));
    if (values.outputs.isEmpty())
        throw PageError(kNoOutputMessage);
    for (const QString& kind : values.outputs)
        if (!ServerFiles::kServerKinds.contains(kind))
            throw PageError(kOutputKindMessage.arg(kind));
    if (values.webRoot.isEmpty() && !isPort(values.httpPort))
        throw PageError(kPortMessage.arg(values.httpPort));
    const AcmeValues resolved = resolvedValues(values, context);
    if (!resolved.webRoot.isEmpty() && !QFileInfo(resolved.webRoot).isDir())
        throw PageError(kWebRootMessage.arg(values.webRoot));
    if (!resolved.webRoot.isEmpty())
        if (const QString problem = webRootProblem(resolved.webRoot); !problem.isEmpty())
            throw PageError(problem);
    if (!resolved.caBundle.isEmpty() && !FileIsPresent(resolved.caBundle))
        throw PageError(kCaBundleMessage.arg(values.caBundle));
    if (ServerFiles::needsNewPassPhrase(choiceOf(values))) {
        if (values.passPhrase.isEmpty())
            throw PageError(kNeedsPassPhraseMessage);
        PassPhraseRules::checkNewPassPhrase(values.passPhrase);
    }
    requirePrivateExportFolder(values.outFolder, context.currentFolder);
}

QStringList outputNames(const AcmeValues& values) {
    return ServerFiles::outputNames(values.outputs, ToolSteps::baseNameOf(values.names.value(0)));
}

// ---- Obtaining

AcmeResult obtain(const AcmeValues& typed, ToolSteps::StepUser& user, const ToolContext& context,
                  const ProgressCallback& progress, Cancel* cancel) {
    checkValues(typed, context);
    AcmeValues values = resolvedValues(typed, context);
    const CheckedFolder folder =
        requirePrivateExportFolder(values.outFolder, context.currentFolder);
    values.outFolder = folder.path();
    const QString state = stateFolder();
    const LegoFiles lego = legoFilesOf(state, values.names.first());
    const ToolSteps::StepPlan plan = ServerFiles::plan(
        choiceOf(values), folder, {lego.key, lego.certificate, lego.issuer}, context);
    // Asked before lego runs: a certificate is not ordered for files that are then kept.
    for (const QString& output : plan.made.paths)
        if (FileIsPresent(output) &&
            !user.mayReplace(ToolSteps::kOverwriteQuestion.arg(QFileInfo(output).fileName()),
                             false))
            throw SilentAbort();
    if (progress)
        progress(kConnectingStep, kConnectingFraction);
    AcmeResult result;
    result.values = values;
    {
        const IssuanceLock lock(
            state, kLegoTimeLimitMs,
            [&progress] {
                if (progress)
                    progress(kWaitingStep, kConnectingFraction);
            },
            [cancel] { return cancel && cancel->cancelled(); });
        result.legoOutput = runLego(values, state, lego, context, progress, cancel);
        IssuedCertificate::prove(values.names, lego.certificate, lego.key, values.caBundle,
                                 context);
        if (progress)
            progress(kMakingFilesStep, kMakingFilesFraction);
        // lego's key has no pass phrase; the tool ignores the current one for it.
        ServerFiles::KnownPassPhrases agreed(user, QString(), values.passPhrase);
        result.made = ToolSteps::runStep(plan, agreed, context);
        const QList<QSslCertificate> issued = QSslCertificate::fromPath(lego.certificate);
        if (!issued.isEmpty()) {
            result.expiry = issued.first().expiryDate().toUTC();
            result.notBefore = issued.first().effectiveDate().toUTC();
        }
    }
    if (!values.reloadCommand.isEmpty()) {
        if (progress)
            progress(kReloadingStep, kReloadingFraction);
        result.reloadProblem = ReloadCommand::run(values.reloadCommand, context);
    }
    if (progress)
        progress(kDoneStep, 1.0);
    return result;
}

// ---- Before it runs

QString termsOfService(const QString& directoryUrl, const QString& caBundle, int timeLimitMs,
                       LimitedFetch::Stop* stop) {
    QByteArray answer;
    try {
        answer = LimitedFetch::fetch(QUrl(directoryUrl),
                                     {timeLimitMs, kLargestDirectoryBytes, 0, caBundle}, stop);
    } catch (const LimitedFetch::Failure& failure) {
        throw PageError(kTermsUnreadableMessage.arg(directoryUrl, printableText(failure.reason)));
    }
    const QJsonDocument directory = QJsonDocument::fromJson(answer);
    if (!directory.isObject())
        throw PageError(kTermsUnreadableMessage.arg(directoryUrl, kTermsNotJson));
    const QString terms = directory.object()
                              .value(QStringLiteral("meta"))
                              .toObject()
                              .value(QStringLiteral("termsOfService"))
                              .toString();
    if (terms.isEmpty())
        throw PageError(kTermsMissingMessage.arg(directoryUrl));
    return printableText(terms);
}

QString webRootProblem(const QString& webRoot) {
    if (!QFileInfo(webRoot).isDir())
        return kWebRootMissing.arg(webRoot);
    try {
        const ChallengeFolder probed(webRoot);
    } catch (const PageError& error) {
        return error.message();
    }
    return QString();
}

QString privateDataFolder(const QString& name) {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString program = withTrailingSeparator(base) + kDataFolderName;
    const QString folder = program + name;
    QDir().mkpath(base);
    constexpr mode_t kPrivateFolderMode = 0700;
    for (const QString& path : {program, folder}) {
        const QByteArray encoded = QFile::encodeName(path);
        if (::mkdir(encoded.constData(), kPrivateFolderMode) != 0 && errno != EEXIST)
            throw PageError(kFolderMessage.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        const Descriptor opened(
            ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (opened.fd < 0 || ::fstat(opened.fd, &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != ::geteuid())
            throw PageError(kFolderMessage.arg(path, kNotOwnFolderReason));
        if ((status.st_mode & 07777) != kPrivateFolderMode &&
            ::fchmod(opened.fd, kPrivateFolderMode) != 0)
            throw PageError(kFolderMessage.arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    // Every folder above must be closed to other users as well: one who may rename a folder on
    // the way could put another in its place while lego writes the keys.
    return requirePrivateFolder(folder, QString(), kSharedDataFolderMessage).path();
}

QString stateFolder() {
    return privateDataFolder(kAcmeFolderName);
}

QString dataFolderPath(const QString& name) {
    const QString base =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    return withTrailingSeparator(withTrailingSeparator(base) + kDataFolderName + name);
}

CertificateCheck::CheckReport checkResult(const AcmeValues& values, const AcmeResult& result,
                                          const ToolContext& context) {
    const auto made = [&result](const QString& ending) {
        for (const QString& path : result.made.paths)
            if (path.endsWith(ending))
                return path;
        return QString();
    };
    CertificateCheck::CheckInput input;
    input.caFile = values.caBundle;
    if (values.outputs.contains(ServerFiles::kForNginx) ||
        values.outputs.contains(ServerFiles::kForApache)) {
        input.certificateFile = made(ServerFiles::kFullChainExtension);
        input.keyFile = made(ServerFiles::kKeyExtension);
    } else if (values.outputs.contains(ServerFiles::kForHaproxy)) {
        input.certificateFile = input.keyFile = made(ServerFiles::kCombinedExtension);
    } else if (values.outputs.contains(ServerFiles::kForIndy)) {
        input.certificateFile = made(QDir::separator() + ToolSteps::kCertificateFileName);
        input.chainFiles = {made(QDir::separator() + ToolSteps::kAuthoritiesFileName)};
        input.keyFile = made(QDir::separator() + ToolSteps::kKeyFileName);
        input.passPhrase = values.passPhrase;
    } else {
        input.pfxFile = made(ServerFiles::kPfxExtension);
        input.passPhrase = values.passPhrase;
    }
    return CertificateCheck::checkCertificate(input, context);
}

} // namespace Acme
