#pragma once

#include "uAcme.h"
#include "uWizardFrame.h"

#include <QString>

#include <exception>
#include <memory>

class AcmeAuthorityPage;
class AcmeDnsPage;
class AcmeFinishedPage;
class AcmeNamesPage;
class AcmeOutputsPage;
class AcmeReachPage;
class IssuanceJob;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Gets a certificate from an ACME authority for names that point at this server, makes the
// server files from it and offers to renew it without the user. Each page is a unit of its own;
// the issuance runs as a job off the window's thread, so that the window stays usable and
// Cancel ends it.
class TfrmAcme : public TWizardFrame {
    Q_OBJECT
    friend class AcmeAuthorityPage;
    friend class AcmeDnsPage;
    friend class AcmeFinishedPage;
    friend class AcmeNamesPage;
    friend class AcmeOutputsPage;
    friend class AcmeReachPage;

  public:
    // The DNS page follows the reach page when a DNS record is chosen; it is added last, so
    // that the other pages keep their numbers.
    enum Page { tsNames, tsAuthority, tsReach, tsOutputs, tsProgress, tsFinished, tsDns };

    static inline const QString kCaption = QStringLiteral("Certwright [Free Certificate (ACME)]");
    // How long the authority's directory may take to answer with its terms of service.
    static constexpr int kTermsTimeLimitMs = 15000;
    // The progress bar's steps for the engine's fraction from 0 to 1.
    static constexpr int kProgressSteps = 1000;

    explicit TfrmAcme(QWidget* owner);
    ~TfrmAcme() override;

    // The controls of the pages, as their units make them.
    // The names page.
    QLabel* lblNames = nullptr;
    QPlainTextEdit* memNames = nullptr;
    QLabel* lblEmail = nullptr;
    QLineEdit* edtEmail = nullptr;
    QLabel* lblKeyType = nullptr;
    QComboBox* cbKeyType = nullptr;
    // The authority page.
    QRadioButton* rbLetsEncrypt = nullptr;
    QRadioButton* rbLetsEncryptStaging = nullptr;
    QRadioButton* rbOtherAuthority = nullptr;
    QLineEdit* edtDirectory = nullptr;
    QLabel* lblCaFile = nullptr;
    QLineEdit* edtCaFile = nullptr;
    QPushButton* btnCaFile = nullptr;
    QPushButton* btnShowTerms = nullptr;
    QLabel* lblTerms = nullptr;
    QCheckBox* cbAgreeTerms = nullptr;
    // The page of how the authority reaches this server.
    QLabel* lblReach = nullptr;
    QRadioButton* rbWebRoot = nullptr;
    QLineEdit* edtWebRoot = nullptr;
    QPushButton* btnWebRoot = nullptr;
    QRadioButton* rbStandalone = nullptr;
    QSpinBox* spnHttpPort = nullptr;
    QLabel* lblPortNote = nullptr;
    // Validation by a DNS record, of either kind.
    QRadioButton* rbDns = nullptr;
    // The DNS page.
    QLabel* lblDnsNote = nullptr;
    QLabel* lblDnsProvider = nullptr;
    QComboBox* cbDnsProvider = nullptr;
    QLabel* lblDnsScript = nullptr;
    QLineEdit* edtDnsScript = nullptr;
    QPushButton* btnDnsScript = nullptr;
    QLabel* lblDnsServer = nullptr;
    QLineEdit* edtDnsServer = nullptr;
    QLabel* lblTsigKey = nullptr;
    QLineEdit* edtTsigKey = nullptr;
    QLabel* lblTsigSecret = nullptr;
    QLineEdit* edtTsigSecret = nullptr;
    QLabel* lblTsigAlgorithm = nullptr;
    QComboBox* cbTsigAlgorithm = nullptr;
    QLabel* lblDnsResolver = nullptr;
    QLineEdit* edtDnsResolver = nullptr;
    QLabel* lblDnsWait = nullptr;
    QSpinBox* spnDnsWait = nullptr;
    // The outputs page.
    QLabel* lblOutputs = nullptr;
    QCheckBox* cbForNginx = nullptr;
    QCheckBox* cbForIis = nullptr;
    QCheckBox* cbLegacyPfx = nullptr;
    QCheckBox* cbForIndy = nullptr;
    QLabel* lblExportPath = nullptr;
    QLineEdit* edtExportPath = nullptr;
    QPushButton* btnExportPath = nullptr;
    QLabel* lblReload = nullptr;
    QLineEdit* edtReload = nullptr;
    // The progress page.
    QLabel* lblProgress = nullptr;
    QProgressBar* pbProgress = nullptr;
    QLabel* lblStep = nullptr;
    // The finished page.
    QLabel* lblFinished = nullptr;
    QLabel* lblPassPhraseKept = nullptr;
    QLabel* lblReloadProblem = nullptr;
    QLabel* lblCheck = nullptr; // what the check finds with the new certificate
    QCheckBox* cbRenewAutomatically = nullptr;

    // The authority's directory address as the authority page chooses it.
    QString directoryAddress() const;
    // The folder that the outputs page offers first: "certificates" in the home folder.
    static QString defaultExportFolder();
    // True while the issuance runs.
    bool isRunning() const { return issuance != nullptr; }
    // True while the chosen authority's terms of service are being read.
    bool isReadingTerms() const;

  public slots:
    void btnPreviousClick() override;
    void btnCaFileClick();
    void btnShowTermsClick();
    void btnWebRootClick();
    void btnDnsScriptClick();
    void btnExportPathClick();
    void reject() override;

  private:
    // The room the pages leave on the left of a control that belongs to the one above it.
    static constexpr int kIndent = 20;
    static QHBoxLayout* indented(QWidget* widget);

    std::unique_ptr<AcmeNamesPage> namesPage;
    std::unique_ptr<AcmeAuthorityPage> authorityPage;
    std::unique_ptr<AcmeReachPage> reachPage;
    std::unique_ptr<AcmeOutputsPage> outputsPage;
    std::unique_ptr<AcmeFinishedPage> finishedPage;
    std::unique_ptr<AcmeDnsPage> dnsPage;

    // The values of the pages, as far as they are filled. Throws PageError for a reload command
    // that cannot be run (ReloadCommand::resolve).
    Acme::AcmeValues values() const;
    void addProgressPage();
    // Checks the outputs, asks the pass phrase they need and starts the issuance.
    void leaveOutputsPage();
    // The pass phrase of the .pfx and key.pem files, asked once before the issuance.
    QString askServerFilesPassPhrase();

    // The issuance in progress.
    void startIssuance(const Acme::CheckedAcmeValues& values);
    void showProgress(const QString& step, double fraction);
    void issuanceEnded(std::exception_ptr thrown);
    std::unique_ptr<IssuanceJob> issuance;
    // The window was asked to close while the issuance ran: it closes once the run has ended.
    bool closeWhenEnded = false;
};
