#pragma once

#include "uKeyAndCertificateWizard.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTextEdit;

// Turns a .pfx file exported from IIS, or a key and its certificate, into the key.pem and
// cert.pem files that an Indy or IntraWeb based server loads.
class TfrmPrepareIndyIntraweb : public TKeyAndCertificateWizard {
    Q_OBJECT
  public:
    enum Page {
        tsStart,
        tsPrivateKeyType,
        tsNeedPSX,
        tsPFXInstructions,
        tsSelectPFX,
        tsSelectKey,
        tsPasteCert,
        tsFinished
    };
    // Which program made the certificate request: IIS leads to the .pfx route.
    enum class KeySource { Certwright, IIS, OpenSSL };

    static inline const QString kCaption =
        QStringLiteral("Certwright [Prepare Cert for Indy / Intraweb]");
    static const QStringList kPFXInstructions;
    static const QStringList kRootInstructions;
    // What the finished page says instead when root.pem was written from the chain.
    static const QStringList kRootWrittenInstructions;

    explicit TfrmPrepareIndyIntraweb(QWidget* owner);

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QRadioButton* rbGenCertwright = nullptr;
    QRadioButton* rbGenIIS = nullptr;
    QRadioButton* rbGenOpenSSL = nullptr;
    QLabel* Label3 = nullptr;
    QRadioButton* rbPFXyes = nullptr;
    QRadioButton* rbPFXno = nullptr;
    QTextEdit* memPFXInstructions = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* edtPFXFile = nullptr;
    QPushButton* btnSelectPFX = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* edtPFXExport = nullptr;
    QPushButton* btnPFXExport = nullptr;
    QTextEdit* memRootInstructions = nullptr;

    KeySource keySource() const { return source; }

    // Extracts key.pem and cert.pem from a .pfx file into the export folder, and root.pem when
    // the bundle holds authority certificates, and returns them.
    ToolSteps::MadeFiles ExtractFromPfx(const QString& pfxFile, const QString& exportText);
    // Packs the key and the certificate file into a temporary bundle in the checked export
    // folder and extracts key.pem and cert.pem from it, and returns them; throws SilentAbort
    // when the user cancels or keeps existing files.
    ToolSteps::MadeFiles ConvertKeyAndCert(const QString& friendlyName, const QString& keyFile,
                                           const QString& certificateFile,
                                           const CheckedFolder& exportFolder);

  public slots:
    void btnSelectPFXClick();
    void btnPFXExportClick();

  protected:
    ToolSteps::MadeFiles convert(const ToolSteps::KeyAndCertificateValues& values) override;
    // The made files, and whether root.pem was written or the root certificate guide is needed.
    void showMade(const ToolSteps::MadeFiles& made) override;

  private:
    KeySource source = KeySource::Certwright;

    void addStartPages();
    void addPFXPages();
    int leaveKeySourcePage();
    ToolSteps::MadeFiles leavePFXPage();
};
