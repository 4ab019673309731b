#pragma once

#include "uWizardFrame.h"

#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QShowEvent;
class QTextEdit;
class QTimer;
class QVBoxLayout;

// How an open-file dialog of the preparation wizards is set up.
struct OpenFileSetup {
    const char* name; // the dialog's objectName (dlgSelectKey, dlgPFX)
    QString title;
    QStringList filters; // the first one is selected
    QString defaultSuffix;
};

// The base of the two wizards that turn an existing key and its pasted certificate into
// server files (a .pfx for IIS, key.pem and cert.pem for Indy/IntraWeb). It owns the key page
// and the paste page, their checks, the sibling certificate lookup and the temporary
// certificate file; the wizard supplies its conversion step.
class TKeyAndCertificateWizard : public TWizardFrame {
    Q_OBJECT
  public:
    // A certificate file beside the key that is larger than this is not put into the paste
    // box; the paste page says so.
    static constexpr qint64 kLargestSiblingCertificate = 1024 * 1024;
    // Reading a large paste box takes long, so the summary follows once typing pauses this long.
    static constexpr int kSummaryPauseMs = 300;
    static inline const QString kSiblingTooLargeMessage =
        QStringLiteral("The certificate file \"%1\" is larger than 1 MiB, so it is not a "
                       "certificate and was not put into the box. Please paste your certificate "
                       "here.");
    // The paste page's button that fills the box from a certificate or chain file.
    static inline const QString kLoadCaption = QStringLiteral("Load...");
    static inline const QString kLoadDescription =
        QStringLiteral("Load the certificate, or the certificates of its chain, from a PEM, DER "
                       "or PKCS#7 file");
    // The key page's label as it opens, and as it reads for a key made with OpenSSL.
    // The last filter of every open-file dialog of the preparation wizards.
    static inline const QString kAllFilesFilter = QStringLiteral("All Files (*)");
    // The export folder's label on the key page, and on Indy's PFX page.
    static inline const QString kExportPathCaption =
        QStringLiteral("Select a path for the exported files:");
    static inline const QString kOpenSSLKeyCaption =
        QStringLiteral("Please select your OpenSSL Key file:");

    // The key page.
    QLabel* lblSelectKeyFile = nullptr;
    QLineEdit* edtKeyFile = nullptr;
    QPushButton* btnKeyFile = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* edtExportPath = nullptr;
    QPushButton* btnCertExport = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* edtCommonName = nullptr;
    // The paste page.
    QLabel* Label7 = nullptr;
    QTextEdit* memPasteCert = nullptr;
    QPushButton* btnLoadCertificate = nullptr;
    // What the certificates in memPasteCert say about themselves and what the check finds
    // wrong with them, while it holds any; it scrolls when it is longer than the page.
    QLabel* lblCertificateInfo = nullptr;
    QScrollArea* scrCertificateInfo = nullptr;

    // The certificate file beside a key file (".cer" before ".crt"), or empty when neither
    // exists.
    static QString siblingCertificate(const QString& keyFile);
    // The text of a paste box as the tool receives it: every line followed by CR LF.
    static QString certificateText(const QString& boxText);
    // True when the certificate text begins with "--"; the tool judges the rest.
    static bool passesCertificateCheck(const QString& certificateText);
    // Where the pasted certificate is written for the tool: inside the export folder (as
    // checked, ending in a separator).
    static QString temporaryCertificatePath(const QString& exportFolder);
    // The folder of a file named in a field, ending in a separator; empty for an empty text.
    static QString folderOfFile(const QString& fileText);
    // Refuses (PageError) a friendly name with a character that the bundle cannot hold.
    static void refuseNameTheBundleCannotCarry(const QString& name);

  public slots:
    void btnKeyFileClick();
    void btnCertExportClick();
    void memPasteCertChange();
    void btnLoadCertificateClick();

  protected:
    TKeyAndCertificateWizard(QWidget* owner, const WizardLook& look);

    // Add the key page, whose btnPrevious shows the page `previous`, and the paste page after
    // it, whose Next shows the finished page `finished` once the conversion has made its files.
    void addKeyPage(int index, int previous);
    void addPastePage(int index, int previous, int finished);

    // The export folder that a page names, checked as every step checks it (a relative one is
    // taken from the current folder). A refusal ends the step with the page's own message, the
    // reason below it.
    static CheckedFolder requireExportFolder(const QString& typed, const QString& pageMessage);

    // The work of leaving the key page and the paste page by Next; leaving the paste page
    // returns what the conversion made.
    void leaveKeyPage();
    ToolSteps::MadeFiles leavePastePage();

    // The wizard's conversion step (it throws to keep the paste page); returns what it made.
    virtual ToolSteps::MadeFiles convert(const ToolSteps::KeyAndCertificateValues& values) = 0;

    // Shows the finished page's list of the made files; a wizard adds what its page says about
    // them.
    virtual void showMade(const ToolSteps::MadeFiles& made);

    // Shows the open-file dialog starting in the folder; returns the chosen file, or an empty
    // text when the user cancels.
    QString chooseFile(const OpenFileSetup& setup, const QString& startFolder);
    // Shows the open-file dialog; the chosen file goes into fileField and, when folderField
    // is empty, the file's folder into folderField. Cancelling changes nothing.
    void chooseFileInto(const OpenFileSetup& setup, QLineEdit* fileField, QLineEdit* folderField);

    void showEvent(QShowEvent* event) override;

  private:
    int pastePage = -1;
    // Runs while typing in memPasteCert has not paused; its end updates the summary.
    QTimer* summaryPause = nullptr;

    // Brings the summary up to date at once when the box changed since it was last read.
    void showSummaryNow();

    // The public key of the key file in PEM when it can be read without a pass phrase, empty
    // otherwise: it tells the server certificate among several pasted ones, and whether the
    // certificate is the key's. Read once for each pass over the key page.
    std::optional<QByteArray> keyPublicPem;
    const QByteArray& publicKeyOfKey();

    // The problems that the check finds with the pasted certificates, as the summary shows
    // them; empty when there is none. The check runs the tool several times, so its answer is
    // kept until the certificates (or the key) change.
    struct CheckedCertificates {
        QList<QSslCertificate> certificates;
        QString problems;
    };
    std::optional<CheckedCertificates> checked;
    QString problemsOf(const QList<QSslCertificate>& certificates);

    // Puts the certificates of a file's content into the box: PEM text as it is, DER and
    // PKCS#7 as PEM blocks. When addToCertificates and the box holds certificates already, those
    // stay and the file's others follow them, so that a chain can be loaded file by file.
    // Throws PageError when the content holds no certificate.
    void putIntoBox(const QByteArray& content, bool addToCertificates);
    void writeTemporaryCertificate(const QString& path, const QByteArray& content);
};
