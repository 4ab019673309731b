#include "uRenewal.h"

#include "ChildRun.h"
#include "UserFile.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uExportFolder.h"
#include "uFreshFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Renewal {

namespace {

const QString kRecordFailedNotice =
    QStringLiteral("The certificate was made, but it could not be recorded for renewal: %1");
const QString kRecordsFolderName = QStringLiteral("renewals");
const QString kRecordExtension = QStringLiteral(".json");
const QString kPassPhraseExtension = QStringLiteral(".pass");
const QString kTsigSecretExtension = QStringLiteral(".tsig");

const QString kNamesKey = QStringLiteral("names");
const QString kEmailKey = QStringLiteral("email");
const QString kKeyTypeKey = QStringLiteral("keyType");
const QString kServerKey = QStringLiteral("server");
const QString kCaBundleKey = QStringLiteral("caBundle");
const QString kWebRootKey = QStringLiteral("webRoot");
const QString kHttpPortKey = QStringLiteral("httpPort");
const QString kOutputsKey = QStringLiteral("outputs");
const QString kOutFolderKey = QStringLiteral("outFolder");
const QString kLegacyPfxKey = QStringLiteral("legacyPfx");
const QString kReloadKey = QStringLiteral("reloadCommand");
const QString kPreHookKey = QStringLiteral("preHook");
const QString kPostHookKey = QStringLiteral("postHook");
const QString kFriendlyNameKey = QStringLiteral("friendlyName");
const QString kExpiryKey = QStringLiteral("expiry");
const QString kNotBeforeKey = QStringLiteral("notBefore");
const QString kLastAttemptKey = QStringLiteral("lastAttempt");
const QString kLastRenewedKey = QStringLiteral("lastRenewed");
const QString kLastReasonKey = QStringLiteral("lastReason");
const QString kDnsKey = QStringLiteral("dns");
const QString kDnsProviderKey = QStringLiteral("provider");
const QString kDnsScriptKey = QStringLiteral("script");
const QString kDnsServerKey = QStringLiteral("server");
const QString kTsigKeyKey = QStringLiteral("tsigKey");
const QString kTsigAlgorithmKey = QStringLiteral("tsigAlgorithm");
const QString kDnsResolverKey = QStringLiteral("resolver");
const QString kDnsWaitKey = QStringLiteral("waitSeconds");
// The lifetime taken for a record written before the start was kept: the common one of the
// authorities, which makes such a certificate due 30 days before its end, as it was.
constexpr int kAssumedLifetimeDays = 90;

const QString kUnwritableRecordMessage = QStringLiteral("The record \"%1\" cannot be written: %2.");
const QString kUnreadableRecord = QStringLiteral("The record \"%1\" cannot be read: %2.");
const QString kNotRecordReason = QStringLiteral("it is not a regular file of this program");
const QString kBadRecordReason = QStringLiteral("it does not hold a certificate's names");
const QString kNoPassPhraseReason = QStringLiteral("the pass phrase kept beside it is missing");
const QString kNoTsigSecretReason =
    QStringLiteral("the TSIG key's secret kept beside it is missing");
const QString kNoRecordFolderMessage =
    QStringLiteral("No renewal records were found in \"%1\": %2.");
const QString kMissingFolderReason = QStringLiteral("the folder does not exist");
const QString kNoRecordFolderExplanation = QStringLiteral(
    "Each certificate obtained with \"certwright acme\" is recorded there, in the data folder of "
    "the user who obtained it ($XDG_DATA_HOME, else ~/.local/share). A renewal that runs from a "
    "timer must have that data folder, as the units that \"certwright renew --install-timer\" "
    "writes name it.");
const QString kNoScratchMessage =
    QStringLiteral("No private scratch folder could be made for the trial renewal: %1.");
const QString kNoSuchRecordMessage =
    QStringLiteral("No certificate named \"%1\" was obtained with \"certwright acme\".");

const QString kTimerFolderUnwritable =
    QStringLiteral("The timer files cannot be written to \"%1\": %2.");
const QString kSystemNeedsRoot = QStringLiteral(
    "Only root may install the timer for the whole system. Run the command as root, or leave "
    "out --system to install it for yourself.");
const QString kControlCharacterMessage = QStringLiteral(
    "The path \"%1\" holds a line end or another control character, which a systemd unit cannot "
    "hold. Please move it to a path without one.");
const QString kSharedProgramMessage = QStringLiteral(
    "The timer for the whole system would run \"%1\" as root, but others can change it: %2. "
    "Install the program where only root can change it (as the package does), or leave out "
    "--system to install the timer for yourself.");
const QString kNoRecordsYetNote = QStringLiteral(
    " No certificate is recorded in \"%1\" yet: until \"certwright acme\" records one there, "
    "each renewal fails and says so.");
const QString kEnabledMessage = QStringLiteral(
    "The renewal timer is installed in %1 and enabled: it renews the certificates daily. See "
    "it with: %2");
const QString kNotEnabledMessage = QStringLiteral(
    "The renewal timer is installed in %1, but it is not enabled: %2. Enable it with: %3");
const QString kNoUserInstance = QStringLiteral("no systemd user instance runs");
const QString kNoSystemd = QStringLiteral("systemd does not run this computer");
const QString kEnableFailed = QStringLiteral("systemctl failed (%1)");
const QString kSystemctlSubject = QStringLiteral("it");
const QString kUserListCommand =
    QStringLiteral("systemctl --user list-timers certwright-renew.timer");
const QString kSystemListCommand = QStringLiteral("systemctl list-timers certwright-renew.timer");
const QString kUserEnableCommand =
    QStringLiteral("systemctl --user enable --now certwright-renew.timer");
const QString kSystemEnableCommand =
    QStringLiteral("systemctl enable --now certwright-renew.timer");
const QString kSystemUnitFolder = QStringLiteral("/etc/systemd/system/");
const QString kUserUnitFolder = QStringLiteral("systemd/user/");
const QString kDataHomeVariable = QStringLiteral("XDG_DATA_HOME=");
const QString kSystemdRunning = QStringLiteral("/run/systemd/system");
const QString kUserManagerSocket = QStringLiteral("systemd/private");

const QString kServiceTemplate =
    QStringLiteral("[Unit]\n"
                   "Description=Renew the certificates that Certwright obtained\n"
                   "\n"
                   "[Service]\n"
                   "Type=oneshot\n"
                   "Environment=%2\n"
                   "ExecStart=%1 renew\n");
const QString kTimerTemplate = QStringLiteral("[Unit]\n"
                                              "Description=Renew Certwright's certificates daily\n"
                                              "\n"
                                              "[Timer]\n"
                                              "OnCalendar=daily\n"
                                              "RandomizedDelaySec=1h\n"
                                              "Persistent=true\n"
                                              "\n"
                                              "[Install]\n"
                                              "WantedBy=timers.target\n");

// Anyone may read the units; systemd warns about units that others cannot.
constexpr QFile::Permissions kUnitPermissions =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;

QString recordBase(const QString& mainName) {
    return recordFolder() + ToolSteps::baseNameOf(mainName);
}

QJsonArray jsonList(const QStringList& texts) {
    return QJsonArray::fromStringList(texts);
}

QStringList textList(const QJsonValue& value) {
    QStringList texts;
    for (const QJsonValue& item : value.toArray())
        texts << item.toString();
    return texts;
}

// The whole of a regular file of this program's user, read without following a link; nullopt
// when there is none.
std::optional<QByteArray> readRegularFile(const QString& path, QString* reason) {
    UserFile::Failure failure;
    std::optional<QByteArray> content =
        UserFile::read(path, {.followLinks = false, .ownedByUser = true}, &failure);
    if (!content)
        *reason = failure.refusal == UserFile::Refusal::System ? failure.systemReason()
                                                               : kNotRecordReason;
    return content;
}

// How the record's certificate is validated by DNS, with the TSIG secret from its file.
QJsonObject dnsJson(const Acme::DnsValidation& dns) {
    return {{kDnsProviderKey, dns.provider},
            {kDnsScriptKey, dns.script},
            {kDnsServerKey, dns.server},
            {kTsigKeyKey, dns.tsigKey},
            {kTsigAlgorithmKey, dns.tsigAlgorithm},
            {kDnsResolverKey, dns.resolver},
            {kDnsWaitKey, dns.waitSeconds}};
}

void readDns(const QJsonObject& json, const QString& path, Acme::DnsValidation* dns) {
    dns->provider = json.value(kDnsProviderKey).toString();
    if (dns->provider.isEmpty())
        return;
    dns->script = json.value(kDnsScriptKey).toString();
    dns->server = json.value(kDnsServerKey).toString();
    dns->tsigKey = json.value(kTsigKeyKey).toString();
    dns->tsigAlgorithm = json.value(kTsigAlgorithmKey).toString(dns->tsigAlgorithm);
    dns->resolver = json.value(kDnsResolverKey).toString();
    dns->waitSeconds = json.value(kDnsWaitKey).toInt(dns->waitSeconds);
    if (dns->provider != Acme::kDnsRfc2136)
        return;
    QString reason;
    const std::optional<QByteArray> secret =
        readRegularFile(ToolSteps::withExtension(path, kTsigSecretExtension), &reason);
    if (!secret)
        throw PageError(kUnreadableRecord.arg(path, kNoTsigSecretReason));
    dns->tsigSecret = QString::fromUtf8(*secret);
}

Record readRecord(const QString& path) {
    QString reason;
    const std::optional<QByteArray> text = readRegularFile(path, &reason);
    if (!text)
        throw PageError(kUnreadableRecord.arg(path, reason));
    const QJsonObject json = QJsonDocument::fromJson(*text).object();
    Record record;
    record.path = path;
    Acme::AcmeValues& values = record.values;
    values.names = textList(json.value(kNamesKey));
    if (values.names.isEmpty())
        throw PageError(kUnreadableRecord.arg(path, kBadRecordReason));
    record.name = values.names.first();
    values.email = json.value(kEmailKey).toString();
    values.keyType = json.value(kKeyTypeKey).toString();
    values.server = json.value(kServerKey).toString();
    values.caBundle = json.value(kCaBundleKey).toString();
    values.webRoot = json.value(kWebRootKey).toString();
    values.httpPort = json.value(kHttpPortKey).toInt(Acme::kDefaultHttpPort);
    values.outputs = textList(json.value(kOutputsKey));
    values.outFolder = json.value(kOutFolderKey).toString();
    values.legacyPfx = json.value(kLegacyPfxKey).toBool();
    values.reloadCommand = textList(json.value(kReloadKey));
    values.preHook = textList(json.value(kPreHookKey));
    values.postHook = textList(json.value(kPostHookKey));
    values.friendlyName = json.value(kFriendlyNameKey).toString();
    record.expiry = QDateTime::fromString(json.value(kExpiryKey).toString(), Qt::ISODate);
    record.notBefore = QDateTime::fromString(json.value(kNotBeforeKey).toString(), Qt::ISODate);
    if (!record.notBefore.isValid() && record.expiry.isValid())
        record.notBefore = record.expiry.addDays(-kAssumedLifetimeDays);
    record.lastAttempt = QDateTime::fromString(json.value(kLastAttemptKey).toString(), Qt::ISODate);
    record.lastRenewed = json.value(kLastRenewedKey).toBool();
    record.lastReason = json.value(kLastReasonKey).toString();
    if (values.outputs.contains(ServerFiles::kForIis) ||
        values.outputs.contains(ServerFiles::kForIndy)) {
        const std::optional<QByteArray> passPhrase =
            readRegularFile(ToolSteps::withExtension(path, kPassPhraseExtension), &reason);
        if (!passPhrase)
            throw PageError(kUnreadableRecord.arg(path, kNoPassPhraseReason));
        values.passPhrase = QString::fromUtf8(*passPhrase);
    }
    readDns(json.value(kDnsKey).toObject(), path, &values.dns);
    return record;
}

// Writes the time and result of a renewal into the record, replaced whole. Empty when it went
// well, else why not.
QString noteAttempt(const QString& path, const QDateTime& time, bool renewed,
                    const QString& reason) {
    QString problem;
    const std::optional<QByteArray> text = readRegularFile(path, &problem);
    if (!text)
        return kUnwritableRecordMessage.arg(path, problem);
    QJsonObject json = QJsonDocument::fromJson(*text).object();
    json.insert(kLastAttemptKey, time.toUTC().toString(Qt::ISODate));
    json.insert(kLastRenewedKey, renewed);
    json.insert(kLastReasonKey, reason);
    if (const int error = replaceFileWhole(path, QJsonDocument(json).toJson()); error != 0)
        return kUnwritableRecordMessage.arg(path, QString::fromLocal8Bit(std::strerror(error)));
    return QString();
}

// A renewal replaces the outputs that the record names without asking; the rest goes to the
// user.
class RenewalUser : public ToolSteps::StepUser {
  public:
    explicit RenewalUser(ToolSteps::StepUser& user) : inner(user) {}
    PassPhrases askPassPhrases(PassPhraseUse use) override { return inner.askPassPhrases(use); }
    bool mayReplace(const QString&, bool) override { return true; }
    void tell(const QString& notice) override { inner.tell(notice); }

  private:
    ToolSteps::StepUser& inner;
};

// Quoted for systemd: spaces, quotes and backslashes kept, "%" not taken as a specifier, nor
// "$" as a variable in a command line.
QString unitWord(const QString& word, bool inCommand) {
    QString quoted = word;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""))
        .replace(QLatin1Char('%'), QLatin1String("%%"));
    if (inCommand)
        quoted.replace(QLatin1Char('$'), QLatin1String("$$"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A unit holds each setting on a line of its own: a path with a line end would add one.
void requireNoControlCharacter(const QString& path) {
    QString shown;
    bool found = false;
    for (const QChar c : path) {
        const bool control = c.category() == QChar::Other_Control;
        found = found || control;
        shown += control ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : c;
    }
    if (found)
        throw PageError(kControlCharacterMessage.arg(shown));
}

void writeUnit(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 ||
        !file.setPermissions(kUnitPermissions) || !file.commit())
        throw PageError(kTimerFolderUnwritable.arg(QFileInfo(path).path(), file.errorString()));
}

// Runs systemctl with the arguments; empty when it went well, else why not.
QString runSystemctl(const QStringList& arguments) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (program.isEmpty())
        return kNoSystemd;
    const ChildRun systemctl =
        runChild({.program = program,
                  .arguments = QStringList{QStringLiteral("systemctl")} + arguments,
                  .directory = QString()});
    if (systemctl.endedWell())
        return QString();
    // What it said, or else how it ended.
    const QString said = QString::fromLocal8Bit(systemctl.output).trimmed();
    return kEnableFailed.arg(said.isEmpty() ? describeEnding(systemctl, kSystemctlSubject) : said);
}

} // namespace

QString recordFolder() {
    return Acme::privateDataFolder(kRecordsFolderName);
}

QString recordFolderPath() {
    return Acme::dataFolderPath(kRecordsFolderName);
}

QStringList writeRecord(const Acme::AcmeValues& values, const QDateTime& expiry,
                        const QDateTime& notBefore) {
    QJsonObject json;
    json.insert(kNamesKey, jsonList(values.names));
    json.insert(kEmailKey, values.email);
    json.insert(kKeyTypeKey, values.keyType);
    json.insert(kServerKey, values.server);
    json.insert(kCaBundleKey, values.caBundle);
    json.insert(kWebRootKey, values.webRoot);
    json.insert(kHttpPortKey, values.httpPort);
    json.insert(kOutputsKey, jsonList(values.outputs));
    json.insert(kOutFolderKey, values.outFolder);
    json.insert(kLegacyPfxKey, values.legacyPfx);
    json.insert(kReloadKey, jsonList(values.reloadCommand));
    json.insert(kPreHookKey, jsonList(values.preHook));
    json.insert(kPostHookKey, jsonList(values.postHook));
    json.insert(kFriendlyNameKey, values.friendlyName);
    json.insert(kExpiryKey, expiry.toUTC().toString(Qt::ISODate));
    if (notBefore.isValid())
        json.insert(kNotBeforeKey, notBefore.toUTC().toString(Qt::ISODate));
    if (!values.dns.provider.isEmpty())
        json.insert(kDnsKey, dnsJson(values.dns));
    const QString base = recordBase(values.names.first());
    const QString record = base + kRecordExtension;
    const QString passPhrase = base + kPassPhraseExtension;
    // Each file is replaced whole, so that a renewal ended on the way leaves the earlier record.
    // The pass phrase goes first: the files just made already use it.
    const auto replace = [](const QString& path, const QByteArray& content) {
        if (const int error = replaceFileWhole(path, content); error != 0)
            throw PageError(
                kUnwritableRecordMessage.arg(path, QString::fromLocal8Bit(std::strerror(error))));
    };
    if (!values.passPhrase.isEmpty())
        replace(passPhrase, values.passPhrase.toUtf8());
    const QString tsigSecret = base + kTsigSecretExtension;
    if (!values.dns.tsigSecret.isEmpty())
        replace(tsigSecret, values.dns.tsigSecret.toUtf8());
    replace(record, QJsonDocument(json).toJson());
    if (values.dns.tsigSecret.isEmpty())
        ::unlink(QFile::encodeName(tsigSecret).constData());
    if (values.passPhrase.isEmpty()) {
        ::unlink(QFile::encodeName(passPhrase).constData());
        return {record, QString()};
    }
    return {record, passPhrase};
}

Acme::AcmeResult obtainAndRecord(const Acme::AcmeValues& values, ToolSteps::StepUser& user,
                                 const ToolContext& context, const Acme::ProgressCallback& progress,
                                 Acme::Cancel* cancel) {
    return obtainAndRecord(Acme::checkValues(values, context), user, context, progress, cancel);
}

Acme::AcmeResult obtainAndRecord(const Acme::CheckedAcmeValues& values, ToolSteps::StepUser& user,
                                 const ToolContext& context, const Acme::ProgressCallback& progress,
                                 Acme::Cancel* cancel) {
    Acme::AcmeResult result = Acme::obtain(values, user, context, progress, cancel);
    try {
        const QStringList kept = writeRecord(result.values, result.expiry, result.notBefore);
        result.recordPath = kept.value(0);
        result.passPhrasePath = kept.value(1);
    } catch (const PageError& error) {
        user.tell(kRecordFailedNotice.arg(error.message()));
    }
    return result;
}

QVector<Record> records(QStringList* problems) {
    // The folder is made with the first record: without it, no record was ever written here.
    const QString path = recordFolderPath();
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0) {
        const int error = errno;
        throw PageError(kNoRecordFolderMessage.arg(
                            path, error == ENOENT ? kMissingFolderReason
                                                  : QString::fromLocal8Bit(std::strerror(error))),
                        kNoRecordFolderExplanation);
    }
    const QDir folder(recordFolder());
    QVector<Record> found;
    for (const QString& name : folder.entryList({QLatin1Char('*') + kRecordExtension},
                                                QDir::Files | QDir::System, QDir::Name)) {
        try {
            found << readRecord(folder.filePath(name));
        } catch (const PageError& error) {
            if (problems)
                *problems << error.message();
        }
    }
    return found;
}

bool isDue(const Record& record, int days, const QDateTime& now) {
    // A record without a readable expiry is renewed: its certificate is unknown.
    return days == kEveryCertificate || !record.expiry.isValid() ||
           CertificateCheck::expiresSoon(record.notBefore, record.expiry, now, days);
}

QDateTime duePoint(const Record& record) {
    if (!record.expiry.isValid())
        return QDateTime();
    return CertificateCheck::soonFrom(record.notBefore, record.expiry);
}

QVector<Outcome> renewDue(int days, const QString& onlyName, ToolSteps::StepUser& user,
                          const ToolContext& context, bool dryRun, Acme::Cancel* cancel) {
    QStringList problems;
    const QVector<Record> all = records(&problems);
    QVector<Outcome> outcomes;
    for (const QString& problem : problems)
        outcomes << Outcome{QString(), false, problem};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    bool named = false;
    for (const Record& record : all) {
        if (!onlyName.isEmpty() && record.name != onlyName)
            continue;
        named = true;
        if (!isDue(record, days, now))
            continue;
        Outcome outcome{record.name, false, QString()};
        try {
            RenewalUser renewal(user);
            if (dryRun) {
                const QTemporaryDir scratch;
                if (!scratch.isValid())
                    throw PageError(kNoScratchMessage.arg(scratch.errorString()));
                Acme::AcmeValues trial = record.values;
                trial.outFolder = scratch.path();
                trial.reloadCommand.clear();
                Acme::obtain(trial, renewal, context, {}, cancel);
            } else {
                outcome.error =
                    obtainAndRecord(record.values, renewal, context, {}, cancel).reloadProblem;
            }
            outcome.renewed = true;
        } catch (const PageError& error) {
            outcome.error = error.explanation().isEmpty()
                                ? error.message()
                                : error.message() + QLatin1Char(' ') + error.explanation();
        }
        const QString noted = dryRun ? QString()
                                     : noteAttempt(record.path, QDateTime::currentDateTimeUtc(),
                                                   outcome.renewed, outcome.error);
        if (!noted.isEmpty())
            outcome.error =
                outcome.error.isEmpty() ? noted : outcome.error + QLatin1Char(' ') + noted;
        outcomes << outcome;
    }
    if (!onlyName.isEmpty() && !named)
        outcomes << Outcome{onlyName, false, kNoSuchRecordMessage.arg(onlyName)};
    return outcomes;
}

QString serviceText(const QString& program, const QString& dataHome) {
    return kServiceTemplate.arg(unitWord(program, true),
                                unitWord(kDataHomeVariable + dataHome, false));
}

QString timerText() {
    return kTimerTemplate;
}

TimerInstallation installTimer(const QString& program, bool system) {
    if (system && ::geteuid() != 0)
        throw PageError(kSystemNeedsRoot);
    // The unit names the data folder of this run: a system unit has no HOME, and a user's own
    // XDG_DATA_HOME is not the manager's.
    const QString dataHome =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).absolutePath();
    for (const QString& path : {program, dataHome})
        requireNoControlCharacter(path);
    if (system)
        if (const QString reason = whyFileIsShared(program); !reason.isEmpty())
            throw PageError(kSharedProgramMessage.arg(program, reason));
    const QString folder = system ? kSystemUnitFolder
                                  : withTrailingSeparator(QStandardPaths::writableLocation(
                                        QStandardPaths::GenericConfigLocation)) +
                                        kUserUnitFolder;
    if (!QDir().mkpath(folder))
        throw PageError(
            kTimerFolderUnwritable.arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    writeUnit(folder + kServiceName, serviceText(program, dataHome));
    writeUnit(folder + kTimerName, timerText());
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const bool managerRuns =
        system ? QFileInfo(kSystemdRunning).isDir()
               : QFileInfo::exists(withTrailingSeparator(runtime) + kUserManagerSocket);
    QString problem = system ? kNoSystemd : kNoUserInstance;
    if (managerRuns) {
        const QStringList scope = system ? QStringList() : QStringList{QStringLiteral("--user")};
        problem = runSystemctl(scope + QStringList{QStringLiteral("daemon-reload")});
        if (problem.isEmpty())
            problem = runSystemctl(
                scope + QStringList{QStringLiteral("enable"), QStringLiteral("--now"), kTimerName});
    }
    const QString note = QFileInfo::exists(recordFolderPath())
                             ? QString()
                             : kNoRecordsYetNote.arg(recordFolderPath());
    if (problem.isEmpty())
        return {folder, true,
                kEnabledMessage.arg(folder, system ? kSystemListCommand : kUserListCommand) + note};
    return {folder, false,
            kNotEnabledMessage.arg(folder, problem,
                                   system ? kSystemEnableCommand : kUserEnableCommand) +
                note};
}

} // namespace Renewal
