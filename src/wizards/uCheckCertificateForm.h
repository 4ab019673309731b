#pragma once

#include "uCertificateCheck.h"
#include "uWindowJob.h"
#include "uWizardFrame.h"

#include <exception>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Checks a certificate, the files for a server, or what a server sends, and reports each
// problem in plain words with what to do; it can save the server certificate with its complete
// chain. The check runs on a thread of its own: the window takes input while a server keeps it
// waiting, and Cancel, Escape and the close box end the check at once.
class TfrmCheckCertificate : public TWizardFrame {
    Q_OBJECT
  public:
    enum Page { tsInput, tsReport };

    static inline const QString kSaveChainCaption = QStringLiteral("Save the complete chain...");

    explicit TfrmCheckCertificate(QWidget* owner);

    // What to check.
    QRadioButton* rbServer = nullptr;
    QLabel* lblHost = nullptr;
    QLineEdit* edtHost = nullptr;
    QLabel* lblPort = nullptr;
    QSpinBox* spnPort = nullptr;
    // Where to connect instead of the host name's own address, as the command's --connect.
    QLabel* lblConnect = nullptr;
    QLineEdit* edtConnect = nullptr;
    QRadioButton* rbFiles = nullptr;
    QLabel* lblCertFile = nullptr;
    BrowseField certFile{};
    QLabel* lblChainFile = nullptr;
    BrowseField chainFile{};
    QLabel* lblKeyFile = nullptr;
    BrowseField keyFile{};
    QRadioButton* rbPfx = nullptr;
    QLabel* lblPfxFile = nullptr;
    BrowseField pfxFile{};
    QLabel* lblName = nullptr;
    QLineEdit* edtName = nullptr;
    QLabel* lblCaFile = nullptr;
    BrowseField caFile{};
    // Shown while the check runs.
    QLabel* lblChecking = nullptr;
    // The report.
    QLabel* lblVerdict = nullptr;
    QTextEdit* memReport = nullptr;
    QPushButton* btnSaveChain = nullptr;

    // The report shown on the report page.
    const CertificateCheck::CheckReport& report() const { return shownReport; }
    // True while the check runs.
    bool isChecking() const { return check != nullptr; }

  public slots:
    void btnSaveChainClick();
    // While the check runs, Cancel (and Escape) ends it and the input page stays.
    void btnPreviousClick() override;
    // The close box ends a check that runs and closes the window at once.
    void reject() override;

  private:
    CertificateCheck::CheckReport shownReport;
    CertificateCheck::CheckInput checkedInput;
    std::unique_ptr<WindowJob> check;

    // Enables the fields of the chosen kind of input.
    void showInputKind();
    CertificateCheck::CheckInput inputFromPage();
    // Starts the check of the page's input; the report page follows when it ends.
    int runCheck();
    void checkEnded(const CertificateCheck::CheckInput& input,
                    const CertificateCheck::CheckReport& report, std::exception_ptr thrown);
    // Gives the check up, if one runs, and makes the input page usable again.
    void endCheck();
    void showChecking(bool running);
    void chooseFile(QLineEdit* field, const QString& title, const QStringList& filters);
    void addInputPage();
    void addReportPage();
};
