#pragma once

#include "uCertificateWizard.h"

class QEvent;
class QSpinBox;

// Makes a new RSA key, unencrypted, and a certificate that the key signs itself.
class TfrmSelfSign : public TCertificateWizard {
    Q_OBJECT
  public:
    explicit TfrmSelfSign(QWidget* owner);

    QLineEdit* edtDays = nullptr;
    // Steps the term in edtDays by one day; only its arrows show.
    QSpinBox* udDays = nullptr;

    // Generates "<base>.key" and "<base>.cer" in the export folder and returns them; throws
    // PageError or SilentAbort when it does not.
    ToolSteps::MadeFiles GenerateSelfSigned(const QString& term, const QString& email,
                                            const QString& keySize, const QString& countryCode,
                                            const QString& city, const QString& state,
                                            const QString& domain, const QString& legalName,
                                            const QString& exportFolder);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
