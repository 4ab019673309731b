#pragma once

#include "uCertificateWizard.h"

// Makes a new RSA key, encrypted under a pass phrase that the user chooses, and a certificate
// request for it, to be sent to a certificate authority.
class TfrmGenerateCSR : public TCertificateWizard {
    Q_OBJECT
  public:
    explicit TfrmGenerateCSR(QWidget* owner);

    // Generates "<base>.key" and "<base>.csr" in the export folder; throws PageError or
    // SilentAbort when it does not.
    void GenerateRequest(const QString& email, const QString& keySize, const QString& countryCode,
                         const QString& city, const QString& state, const QString& domain,
                         const QString& legalName, const QString& exportFolder);

  private:
    void generateFromPages() override;
    QString keyCommandLine(const QString& folder, const QString& base,
                           const CertificateValues& values) const override;
    QString outputCommandLine(const QString& folder, const QString& base,
                              const CertificateValues& values) const override;
};
