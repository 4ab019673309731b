#pragma once

#include "uCertificateWizard.h"

// Makes a new RSA key, encrypted under a pass phrase that the user chooses, and a certificate
// request for it, to be sent to a certificate authority.
class TfrmGenerateCSR : public TCertificateWizard {
    Q_OBJECT
  public:
    explicit TfrmGenerateCSR(QWidget* owner);

    // Generates "<base>.key" and "<base>.csr" in the export folder and returns them; throws
    // PageError or SilentAbort when it does not.
    ToolSteps::MadeFiles GenerateRequest(const QString& email, const QString& keySize,
                                         const QString& countryCode, const QString& city,
                                         const QString& state, const QString& domain,
                                         const QString& legalName, const QString& exportFolder);
};
