#include "Lego.h"

#include "ChallengeFolder.h"
#include "ChildRun.h"
#include "LegoReasons.h"

#include "uCertwrightCommon.h"
#include "uExternalApp.h"
#include "uFreshFile.h"
#include "uOpenSSLCommands.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QUrl>

#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace Acme {

namespace {

const QString kRegisteringStep = QStringLiteral("Registering with the authority");
const QString kOrderingStep = QStringLiteral("Ordering the certificate");
const QString kCheckingStep = QStringLiteral("The authority is checking %1…");
const QString kDownloadingStep = QStringLiteral("Downloading the certificate");

const QString kNoLegoMessage = QStringLiteral(
    "The ACME client lego is not installed. Please install it (on Debian: apt install lego).");
const QString kObtainFailedMessage =
    QStringLiteral("The certificate could not be obtained from the authority.");
const QString kTimeLimitExplanation =
    QStringLiteral("The authority did not finish within %1 minutes. Please try again later.");
const QString kLegoSubject = QStringLiteral("lego");
const QString kNoCertificateExplanation =
    QStringLiteral("lego ended without leaving the certificate in %1.");
const QString kLegoDetails = QStringLiteral("Command line:\n%1\n\nOutput of lego:\n%2");
const QString kUndrivableMessage =
    QStringLiteral("This program cannot drive the installed lego (%1, version %2).");
const QString kMissingFlagsExplanation =
    QStringLiteral("Its \"lego --help\" does not offer %1, which this program needs.");
const QString kOtherLegoAdvice =
    QStringLiteral(" Please install a lego that offers it (Debian's lego 4 does).");
const QString kNoWaitFlagAdvice = QStringLiteral(
    " A DNS script without --dns-resolver has lego wait for the record instead of asking, which "
    "needs a newer lego; with this one, please name the DNS server to ask with --dns-resolver.");
const QString kUnknownVersion = QStringLiteral("unknown");
const QString kFlagSeparator = QStringLiteral(", ");

const QString kLegoName = QStringLiteral("lego");
const QString kLegoCaVariable = QStringLiteral("LEGO_CA_CERTIFICATES=");
const QString kLegoCertificates = QStringLiteral("certificates/");

// The flags that tell lego not to look for the record at the zone's own name servers (which it
// finds by name, through the system's resolvers): lego 4's, then the newer one.
const QString kDisableCpFlag = QStringLiteral("--dns.disable-cp");
const QString kDisableAnsFlag = QStringLiteral("--dns.propagation-disable-ans");
const QString kPropagationWaitFlag = QStringLiteral("--dns.propagation-wait");

// `lego --help` and `lego --version` answer at once.
constexpr int kQuestionTimeLimitMs = 30 * 1000;
// lego's pause between two names' DNS records and between two looks for a record: short, since
// the record is in place when the update or the script has returned.
constexpr int kDnsIntervalSeconds = 1;
constexpr int kDnsPropagationSeconds = 120;

constexpr double kRegisteringFraction = 0.1;
constexpr double kOrderingFraction = 0.2;
constexpr double kCheckingFraction = 0.25;
constexpr double kCheckingShare = 0.5;
constexpr double kDownloadingFraction = 0.8;

// lego's name of a certificate's files: a wildcard's "*" becomes "_".
QString legoFileBase(const QString& name) {
    const QLatin1String wildcard("*.");
    if (name.startsWith(wildcard))
        return QStringLiteral("_.") + QString::fromLatin1(QUrl::toAce(name.mid(wildcard.size())));
    return QString::fromLatin1(QUrl::toAce(name));
}

// The name in square brackets that one of lego's messages is about, after its level.
QString bracketedName(const QString& line) {
    static const QRegularExpression name(QStringLiteral("\\[INFO\\] \\[([^\\],]+)\\]"));
    const QRegularExpressionMatch match = name.match(line);
    return match.hasMatch() ? match.captured(1) : QString();
}

QString checkedThing(const QString& name, bool byDns) {
    if (byDns)
        return QStringLiteral("the DNS record _acme-challenge.") +
               (name.startsWith(QLatin1String("*.")) ? name.mid(2) : name);
    return QStringLiteral("http://") + name + QStringLiteral("/.well-known/acme-challenge/");
}

// Follows lego's messages and reports the steps that they show.
class LegoProgress {
  public:
    LegoProgress(const QStringList& names, bool byDns, const ProgressCallback& progress)
        : names(names), byDns(byDns), report(progress) {}

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
        else if (text.contains(QLatin1String("Trying to solve HTTP-01")) ||
                 text.contains(QLatin1String("Trying to solve DNS-01")))
            report(kCheckingStep.arg(checkedThing(bracketedName(text), byDns)), checkedFraction());
        else if (text.contains(QLatin1String("The server validated our request"))) {
            ++validated;
            report(kCheckingStep.arg(checkedThing(bracketedName(text), byDns)), checkedFraction());
        } else if (text.contains(QLatin1String("requesting certificates")))
            report(kDownloadingStep, kDownloadingFraction);
    }

    double checkedFraction() const {
        return kCheckingFraction +
               kCheckingShare * std::min<double>(validated, names.size()) / names.size();
    }

    QStringList names;
    bool byDns;
    ProgressCallback report;
    QByteArray pending;
    int validated = 0;
};

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

// What lego writes when asked a question: its answer, or an empty text when it gave none.
QString askLego(const QString& program, const QStringList& arguments) {
    TExternalApp lego;
    lego.ModuleName = program;
    lego.Arguments = QStringList{kLegoName} + arguments;
    lego.setTimeLimit(kQuestionTimeLimitMs);
    lego.StartProcess();
    lego.WaitForProcess();
    if (lego.End() != RunEnd::Exited)
        return QString();
    return QString::fromUtf8(lego.Output());
}

// What one lego executable offers, asked once for each program and run.
struct LegoFlags {
    QStringList flags; // every long flag that `lego --help` lists
    QString version;   // from `lego --version`
};

LegoFlags flagsOf(const QString& program) {
    static QMutex guard;
    static QHash<QString, LegoFlags> known;
    const QMutexLocker locked(&guard);
    if (const auto found = known.constFind(program); found != known.cend())
        return *found;
    LegoFlags asked;
    static const QRegularExpression flag(QStringLiteral("(?:^|[\\s,])(--[a-z0-9][a-z0-9.-]*)"),
                                         QRegularExpression::MultilineOption);
    const QString help = askLego(program, {QStringLiteral("--help")});
    for (auto match = flag.globalMatch(help); match.hasNext();)
        asked.flags << match.next().captured(1);
    asked.flags.removeDuplicates();
    static const QRegularExpression version(QStringLiteral("version\\s+(\\S+)"));
    const QString said = askLego(program, {QStringLiteral("--version")});
    const QRegularExpressionMatch match = version.match(said);
    asked.version = match.hasMatch() ? printableText(match.captured(1)) : kUnknownVersion;
    return *known.insert(program, asked);
}

bool byDns(const AcmeValues& values) {
    return !values.dns.provider.isEmpty();
}

// An exec script without a resolver: lego is told to wait instead of asking.
bool waitsInsteadOfAsking(const AcmeValues& values) {
    return values.dns.provider == kDnsExec && values.dns.resolver.isEmpty();
}

// The long flags of lego's argument list, which its help must offer.
QStringList flagsUsed(const QStringList& arguments) {
    QStringList used;
    for (const QString& argument : arguments.mid(1))
        if (argument.startsWith(QLatin1String("--")))
            used << argument;
    return used;
}

// lego's argument list, with the flags of the lego at hand where its versions differ.
QStringList argumentsFor(const AcmeValues& values, const QString& state, const LegoFlags* offered) {
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
    if (byDns(values)) {
        arguments << QStringLiteral("--dns") << values.dns.provider;
        if (waitsInsteadOfAsking(values)) {
            arguments << kPropagationWaitFlag
                      << QString::number(values.dns.waitSeconds) + QLatin1Char('s');
        } else {
            // Only the one server is asked whether the record is in place: never the system's
            // resolvers, nor the zone's name servers found through them.
            const QString resolver =
                values.dns.resolver.isEmpty() ? values.dns.server : values.dns.resolver;
            arguments << QStringLiteral("--dns.resolvers") << dnsServerAddress(resolver);
            const bool newer = offered && !offered->flags.contains(kDisableCpFlag) &&
                               offered->flags.contains(kDisableAnsFlag);
            arguments << (newer ? kDisableAnsFlag : kDisableCpFlag);
        }
    } else {
        arguments << QStringLiteral("--http");
        if (values.webRoot.isEmpty())
            arguments << QStringLiteral("--http.port")
                      << QLatin1Char(':') + QString::number(values.httpPort);
        else
            arguments << QStringLiteral("--http.webroot") << values.webRoot;
    }
    arguments << QStringLiteral("run");
    return arguments;
}

} // namespace

LegoFiles legoFilesOf(const QString& state, const QString& mainName) {
    const QString base = state + kLegoCertificates + legoFileBase(mainName);
    return {base + QStringLiteral(".crt"), base + ServerFiles::kKeyExtension,
            base + QStringLiteral(".issuer.crt")};
}

QString legoProgram(const ToolContext& context) {
    QString program = QStandardPaths::findExecutable(kLegoName, {context.programFolder});
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(kLegoName);
    if (program.isEmpty())
        throw PageError(kNoLegoMessage);
    return program;
}

void requireDrivableLego(const QString& program, const AcmeValues& values) {
    const LegoFlags offered = flagsOf(program);
    // A help that lists no flag at all says nothing about them: the run itself will tell.
    if (offered.flags.isEmpty())
        return;
    QStringList missing;
    for (const QString& flag : flagsUsed(argumentsFor(values, QString(), &offered)))
        if (!offered.flags.contains(flag) && !missing.contains(flag))
            missing << flag;
    if (missing.isEmpty())
        return;
    QString explanation = kMissingFlagsExplanation.arg(missing.join(kFlagSeparator));
    explanation += missing.contains(kPropagationWaitFlag) ? kNoWaitFlagAdvice : kOtherLegoAdvice;
    throw PageError(kUndrivableMessage.arg(program, offered.version), explanation);
}

QStringList legoArguments(const AcmeValues& values, const QString& state) {
    return argumentsFor(values, state, nullptr);
}

QStringList legoEnvironment(const AcmeValues& values) {
    QStringList environment;
    if (!values.caBundle.isEmpty())
        environment << kLegoCaVariable + values.caBundle;
    if (!byDns(values))
        return environment;
    const QString interval = QString::number(kDnsIntervalSeconds);
    const QString propagation = QString::number(kDnsPropagationSeconds);
    // The names that a record's name leads to are looked up only at the server asked.
    if (waitsInsteadOfAsking(values))
        environment << QStringLiteral("LEGO_DISABLE_CNAME_SUPPORT=true");
    if (values.dns.provider == kDnsExec) {
        environment << QStringLiteral("EXEC_PATH=") + values.dns.script
                    << QStringLiteral("EXEC_POLLING_INTERVAL=") + interval
                    << QStringLiteral("EXEC_PROPAGATION_TIMEOUT=") + propagation
                    << QStringLiteral("EXEC_SEQUENCE_INTERVAL=") + interval;
    } else {
        environment << QStringLiteral("RFC2136_NAMESERVER=") + dnsServerAddress(values.dns.server)
                    << QStringLiteral("RFC2136_TSIG_KEY=") + values.dns.tsigKey
                    << QStringLiteral("RFC2136_TSIG_SECRET=") + values.dns.tsigSecret
                    << QStringLiteral("RFC2136_TSIG_ALGORITHM=") + values.dns.tsigAlgorithm +
                           QLatin1Char('.')
                    << QStringLiteral("RFC2136_POLLING_INTERVAL=") + interval
                    << QStringLiteral("RFC2136_PROPAGATION_TIMEOUT=") + propagation
                    << QStringLiteral("RFC2136_SEQUENCE_INTERVAL=") + interval;
    }
    return environment;
}

QString runLego(const AcmeValues& values, const QString& state, const LegoFiles& files,
                const ToolContext& context, const ProgressCallback& progress, Cancel* cancel) {
    const QString program = legoProgram(context);
    // What lego left of an earlier certificate must not pass for the new one.
    for (const QString& path : {files.certificate, files.key, files.issuer})
        ::unlink(QFile::encodeName(path).constData());
    std::optional<ChallengeFolder> challenges;
    if (!byDns(values) && !values.webRoot.isEmpty()) {
        challenges.emplace(values.webRoot);
        challenges->noteNewAnswers();
    }
    LegoProgress follower(values.names, byDns(values), progress);
    TExternalApp lego;
    lego.ModuleName = program;
    const LegoFlags offered = flagsOf(program);
    lego.Arguments = argumentsFor(values, state, &offered);
    lego.CurrentDirectory = state;
    lego.ShowAppWindow = context.debug;
    lego.Environment = legoEnvironment(values);
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
    throw PageError(kObtainFailedMessage, plainReason(output, values), details);
}

} // namespace Acme
