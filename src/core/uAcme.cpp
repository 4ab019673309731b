#include "uAcme.h"

#include "IssuanceHooks.h"
#include "IssuanceLock.h"
#include "IssuedCertificate.h"

#include "uCertwrightCommon.h"
#include "uLimitedFetch.h"
#include "uReloadCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QUrl>

namespace Acme {

namespace {

const QString kWaitingStep =
    QStringLiteral("Waiting for another run of this program to finish its certificate");
const QString kConnectingStep = QStringLiteral("Connecting to the authority");
const QString kMakingFilesStep = QStringLiteral("Making the files for the server");
const QString kReloadingStep = QStringLiteral("Running the reload command");
const QString kDoneStep = QStringLiteral("Done");

const QString kTermsMissingMessage =
    QStringLiteral("The authority's directory at %1 names no terms of service.");
const QString kTermsUnreadableMessage =
    QStringLiteral("The authority's directory at %1 could not be read: %2.");
// An ACME directory is a few hundred bytes.
constexpr qint64 kLargestDirectoryBytes = 64 * 1024;
const QString kTermsNotJson = QStringLiteral("it is not an ACME directory");

// How far the run is at the program's own steps; lego's are in between.
constexpr double kConnectingFraction = 0.02;
constexpr double kMakingFilesFraction = 0.9;
constexpr double kReloadingFraction = 0.95;

} // namespace

// ---- Obtaining

AcmeResult obtain(const CheckedAcmeValues& checked, ToolSteps::StepUser& user,
                  const ToolContext& context, const ProgressCallback& progress, Cancel* cancel) {
    const AcmeValues& values = checked.values();
    requireDrivableLego(legoProgram(context), values);
    const QString state = stateFolder();
    const LegoFiles lego = legoFilesOf(state, values.names.first());
    const ToolSteps::StepPlan plan =
        ServerFiles::plan(serverFilesChoice(values), checked.folder(),
                          {lego.key, lego.certificate, lego.issuer}, context);
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
        result.reloadProblem =
            IssuanceHooks::runAround(values.preHook, values.postHook, context, cancel, user, [&] {
                result.legoOutput = runLego(values, state, lego, context, progress, cancel);
            });
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
        const QString reloadProblem = ReloadCommand::run(values.reloadCommand, context);
        if (!reloadProblem.isEmpty())
            result.reloadProblem +=
                (result.reloadProblem.isEmpty() ? QString() : QStringLiteral("\n")) + reloadProblem;
    }
    if (progress)
        progress(kDoneStep, 1.0);
    return result;
}

AcmeResult obtain(const AcmeValues& values, ToolSteps::StepUser& user, const ToolContext& context,
                  const ProgressCallback& progress, Cancel* cancel) {
    return obtain(checkValues(values, context), user, context, progress, cancel);
}

// ---- Before it runs

QString termsOfService(const QString& directoryUrl, const QString& caBundle, int timeLimitMs,
                       RunCancel* cancel) {
    QByteArray answer;
    try {
        answer = LimitedFetch::fetch(QUrl(directoryUrl),
                                     {timeLimitMs, kLargestDirectoryBytes, 0, caBundle}, cancel);
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
