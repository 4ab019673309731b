#pragma once

#include "uKeyAndCertificateWizard.h"

class QCheckBox;
class QLabel;
class QTextEdit;

// Packs an existing key and its certificate into a .pfx file that IIS imports, and shows how
// to install it.
class TfrmPrepareIIS : public TKeyAndCertificateWizard {
    Q_OBJECT
  public:
    enum Page { tsStart, tsSelectKey, tsPasteCert, tsFinished };

    static inline const QString kCaption = QStringLiteral("Certwright [Prepare Cert for IIS]");
    // The installation steps on the finished page, one stored line each.
    static const QStringList kInstallationInstructions;

    explicit TfrmPrepareIIS(QWidget* owner);

    QLabel* Label1 = nullptr;
    // On the key page: protect the .pfx file so that older Windows can import it.
    QCheckBox* cbLegacyPfx = nullptr;
    QTextEdit* memRootInstructions = nullptr;

    // Exports the key and the certificate file into the .pfx file in the checked export
    // folder and returns it; throws SilentAbort when the user cancels or keeps an existing .pfx
    // file, PageError when the export fails.
    ToolSteps::MadeFiles CreatePfx(const QString& friendlyName, const QString& keyFile,
                                   const QString& certificateFile,
                                   const CheckedFolder& exportFolder);

  protected:
    ToolSteps::MadeFiles convert(const ToolSteps::KeyAndCertificateValues& values) override;

  private:
    void addLegacyPfxChoice();
    // The values with the protection that cbLegacyPfx chooses.
    ToolSteps::KeyAndCertificateValues
    protectedAsChosen(ToolSteps::KeyAndCertificateValues values) const;
};
