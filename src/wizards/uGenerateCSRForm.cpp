#include "uGenerateCSRForm.h"

namespace {

const CertificateWizardSetup kSetup{
    .caption = QStringLiteral("Generate Certificate Request"),
    .startText = QStringLiteral(
        "This wizard will generate a Certificate Request.  \n\nA Certificate Request is "
        "sent to a Certificate Authority in order to obtain a server certificate.  "
        "Before continuing, be sure you have information about the organization "
        "registering the certificate."),
    .finishedLines = {TCertificateWizard::kGeneratedLine, QString(),
                      QStringLiteral("You may now submit this request to a Certificate "),
                      QStringLiteral("Authority.")},
    .step = &ToolSteps::kRequestStep,
};

} // namespace

TfrmGenerateCSR::TfrmGenerateCSR(QWidget* owner) : TCertificateWizard(owner, kSetup) {}

ToolSteps::MadeFiles TfrmGenerateCSR::GenerateRequest(const QString& email, const QString& keySize,
                                                      const QString& countryCode,
                                                      const QString& city, const QString& state,
                                                      const QString& domain,
                                                      const QString& legalName,
                                                      const QString& exportFolder) {
    return ToolSteps::generateCertificate(
        ToolSteps::kRequestStep,
        {QString(), email, keySize, countryCode, city, state, domain, legalName, exportFolder},
        *this, desktopToolContext());
}
