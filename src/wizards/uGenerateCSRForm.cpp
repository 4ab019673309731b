#include "uGenerateCSRForm.h"

#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"
#include "uPassPhraseFolder.h"

#include <QLineEdit>

namespace {

const CertificateWizardSetup kSetup{
    QStringLiteral("Generate Certificate Request"),
    QStringLiteral("This wizard will generate a Certificate Request.  \n\nA Certificate Request is "
                   "sent to a Certificate Authority in order to obtain a server certificate.  "
                   "Before continuing, be sure you have information about the organization "
                   "registering the certificate."),
    {QStringLiteral("Your Certificate Request has been generated."), QString(),
     QStringLiteral("You may now submit this request to a Certificate "),
     QStringLiteral("Authority.")},
    QStringLiteral(".csr"),
    OutputKind::Request,
    true,
    false,
    true,
};

} // namespace

TfrmGenerateCSR::TfrmGenerateCSR(QWidget* owner) : TCertificateWizard(owner, kSetup) {}

void TfrmGenerateCSR::GenerateRequest(const QString& email, const QString& keySize,
                                      const QString& countryCode, const QString& city,
                                      const QString& state, const QString& domain,
                                      const QString& legalName, const QString& exportFolder) {
    generate(
        {QString(), email, keySize, countryCode, city, state, domain, legalName, exportFolder});
}

void TfrmGenerateCSR::generateFromPages() {
    GenerateRequest(edtEmail->text(), keySize(), countryCode(), edtCity->text(), edtState->text(),
                    edtDomainName->text(), edtLegalName->text(), edtExportPath->text());
}

QString TfrmGenerateCSR::keyCommandLine(const QString& folder, const QString& base,
                                        const CertificateValues& values) const {
    return OpenSSLCommands::makeEncryptedKey(PassPhraseFolder(), folder, base, values.keySize);
}

QString TfrmGenerateCSR::outputCommandLine(const QString& folder, const QString& base,
                                           const CertificateValues&) const {
    return OpenSSLCommands::makeRequest(PassPhraseFolder(), folder, base);
}
