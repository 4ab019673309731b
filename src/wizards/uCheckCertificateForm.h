#pragma once

#include "uCertificateCheck.h"
#include "uWizardFrame.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// Checks a certificate, the files for a server, or what a server sends, and reports each
// problem in plain words with what to do; it can save the server certificate with its complete
// chain.
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
    // The report.
    QLabel* lblVerdict = nullptr;
    QTextEdit* memReport = nullptr;
    QPushButton* btnSaveChain = nullptr;

    // The report shown on the report page.
    const CertificateCheck::CheckReport& report() const { return shownReport; }

  public slots:
    void btnSaveChainClick();

  private:
    CertificateCheck::CheckReport shownReport;
    CertificateCheck::CheckInput checkedInput;

    // Enables the fields of the chosen kind of input.
    void showInputKind();
    CertificateCheck::CheckInput inputFromPage();
    int runCheck();
    void chooseFile(QLineEdit* field, const QString& title, const QStringList& filters);
    void addInputPage();
    void addReportPage();
};
