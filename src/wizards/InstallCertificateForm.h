#pragma once

#include "uKeyAndCertificateWizard.h"

class QCheckBox;
class QLabel;

// Turns a key and the certificate that the user's authority sent into the files of the chosen
// servers, with the chain sorted, completed and proven before anything is written.
class TfrmInstallCertificate : public TKeyAndCertificateWizard {
    Q_OBJECT
  public:
    enum Page { tsStart, tsServers, tsSelectKey, tsPasteCert, tsFinished };

    static inline const QString kCaption =
        QStringLiteral("Certwright [Install the certificate from your authority]");

    explicit TfrmInstallCertificate(QWidget* owner);

    QLabel* lblStart = nullptr;
    QLabel* lblServers = nullptr;
    QCheckBox* cbNginx = nullptr;
    QCheckBox* cbApache = nullptr;
    QCheckBox* cbHaproxy = nullptr;
    QCheckBox* cbIis = nullptr;
    QCheckBox* cbLegacyPfx = nullptr;
    QCheckBox* cbIndy = nullptr;
    // The key written for nginx and Apache is encrypted under the new pass phrase.
    QCheckBox* cbEncryptKey = nullptr;
    // The check's result over the files that were written.
    QLabel* lblResult = nullptr;
    QPushButton* btnInstructions = nullptr;

    // The servers whose boxes are checked, as ServerFiles names them.
    QStringList chosenServers() const;

  protected:
    ToolSteps::MadeFiles convert(const ToolSteps::KeyAndCertificateValues& values) override;
    void showMade(const ToolSteps::MadeFiles& made) override;

  private:
    QStringList resultLines;
    void leaveServersPage();
    // Shows the built-in installation page of each chosen server.
    void showInstructions();
};
