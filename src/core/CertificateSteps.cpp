#include "CertificateSteps.h"

#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"
#include "uRequestConfig.h"

#include <algorithm>

namespace ToolSteps {

namespace {

const QString kTermMessage =
    QStringLiteral("The term \"%1\" is not a whole number of days from %2 to %3. Please "
                   "enter the number of days only.");
const QString kKeyExtension = QStringLiteral(".key");
const QString kWildcard = QStringLiteral("wildcard");

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

} // namespace ToolSteps
