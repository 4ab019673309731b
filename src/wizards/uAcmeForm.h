#pragma once

#include "uAcme.h"
#include "uLimitedFetch.h"
#include "uWizardFrame.h"

#include <QString>

#include <exception>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QThread;

// Gets a certificate from an ACME authority for names that point at this server, makes the
// server files from it and offers to renew it without the user. The issuance runs on a thread
// of its own, so that the window stays usable and Cancel ends it.
class TfrmAcme : public TWizardFrame {
    Q_OBJECT
  public:
    enum Page { tsNames, tsAuthority, tsReach, tsOutputs, tsProgress, tsFinished };

    static inline const QString kCaption = QStringLiteral("Certwright [Free Certificate (ACME)]");
    // How long the authority's directory may take to answer with its terms of service.
    static constexpr int kTermsTimeLimitMs = 15000;
    // The progress bar's steps for the engine's fraction from 0 to 1.
    static constexpr int kProgressSteps = 1000;

    explicit TfrmAcme(QWidget* owner);
    ~TfrmAcme() override;

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
    bool isRunning() const { return worker != nullptr; }
    // True while the chosen authority's terms of service are being read.
    bool isReadingTerms() const { return termsLookup != nullptr; }

  public slots:
    void btnPreviousClick() override;
    void btnCaFileClick();
    void btnShowTermsClick();
    void btnWebRootClick();
    void btnExportPathClick();
    void reject() override;

  private:
    // The values of the pages, as far as they are filled. Throws PageError for a reload command
    // that cannot be run (ReloadCommand::resolve).
    Acme::AcmeValues values() const;

    void addNamesPage();
    void addAuthorityPage();
    void addReachPage();
    void addOutputsPage();
    void addProgressPage();
    void addFinishedPage();

    void leaveNamesPage() const;
    // Reads the chosen authority's terms first and stays, until they are shown and agreed to.
    int leaveAuthorityPage();
    void leaveReachPage() const;
    // Checks the outputs, asks the pass phrase they need and starts the issuance.
    void leaveOutputsPage();
    void leaveFinishedPage();

    // The terms of service of the chosen authority, read only once the user asks for them (Next
    // or btnShowTerms), on a thread of its own with a time limit; Cancel, Escape, the close box
    // and another choice stop the reading.
    struct TermsKey {
        QString directory;
        QString caFile;
        bool operator==(const TermsKey&) const = default;
    };
    TermsKey chosenTerms() const;
    void authorityChoiceChanged();
    void lookUpTerms();
    void stopTermsLookup();
    void termsLookupEnded();
    void showTerms(const TermsKey& key, const QString& address, const QString& problem);
    QThread* termsLookup = nullptr;
    std::unique_ptr<RunCancel> termsStop; // of the lookup that runs
    std::optional<TermsKey> shownTerms;   // the choice whose terms (or why not) are shown

    // The issuance in progress, and what it left.
    void startIssuance(const Acme::AcmeValues& values);
    void showProgress(const QString& step, double fraction);
    void issuanceEnded();
    QThread* worker = nullptr;
    std::unique_ptr<Acme::Cancel> cancel;
    Acme::AcmeResult result;
    QString checkText; // lblCheck's, made on the issuance's thread
    std::exception_ptr failure;
    // The window was asked to close while the issuance ran: it closes once the run has ended.
    bool closeWhenEnded = false;
};
