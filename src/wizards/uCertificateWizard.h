#pragma once

#include "uWizardFrame.h"

#include <QString>
#include <QStringList>

class QAbstractButton;
class QComboBox;
class QGridLayout;
class QLabel;
class QRadioButton;

// What distinguishes one of the twin wizards from the other.
struct CertificateWizardSetup {
    QString caption;
    QString startText;
    QStringList finishedLines;
    const ToolSteps::CertificateStep* step; // what the organisation page's Next makes
};

// The request and self-signed certificate wizards: the same pages and checks; the step that
// their setup names makes the key and the request or the certificate.
class TCertificateWizard : public TWizardFrame {
    Q_OBJECT
  public:
    enum Page { tsStart, tsBitsize, tsLocaleInfo, tsOrganizationInfo, tsFinished };

    // The first line of the request wizard's finished page, and of the text that both
    // wizards put into it on Finish.
    static inline const QString kGeneratedLine =
        QStringLiteral("Your Certificate Request has been generated.");
    static inline const QString kPageIncompleteMessage =
        QStringLiteral("You must complete the fields on this page before continuing.");

    QLabel* Label1 = nullptr;
    QLabel* Label4 = nullptr;
    QRadioButton* rb1024 = nullptr;
    QRadioButton* rb2048 = nullptr;
    QRadioButton* rb512 = nullptr;
    QRadioButton* rb4096 = nullptr;
    // Keys on the elliptic curves P-256 and P-384, signed with ECDSA.
    QRadioButton* rbP256 = nullptr;
    QRadioButton* rbP384 = nullptr;
    // Shown while a key size below 2048 bits is selected.
    QLabel* lblShortKey = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* edtEmail = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* cbCountry = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* edtState = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* edtCity = nullptr;
    QLabel* Label11 = nullptr;
    QLineEdit* edtDomainName = nullptr;
    QLabel* Label12 = nullptr;
    QLineEdit* edtLegalName = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* edtExportPath = nullptr;
    QPushButton* btnExportPath = nullptr;
    QTextEdit* memRootInstructions = nullptr;

  public slots:
    void btnExportPathClick();

  protected:
    TCertificateWizard(QWidget* owner, const CertificateWizardSetup& setup);

    // The key size that the radio buttons select.
    QString keySize() const;
    // The code of the country that cbCountry selects.
    QString countryCode() const;

    // The key size page lays out the key sizes in this grid: rb1024, rb2048, rb4096, rbP256 and
    // rbP384 in column 0, rb512 at row 0, column 1; the self-signed wizard puts its term beside
    // rb2048.
    QGridLayout* keySizeGrid = nullptr;
    // The field of the certificate's term, which the self-signed wizard adds; none in the
    // request wizard.
    QLineEdit* termField = nullptr;

  private:
    CertificateWizardSetup setup;

    // The key size buttons in their keyboard order.
    QList<QAbstractButton*> keySizeButtons() const;

    void FormCreate();
    void buildStartPage();
    void buildKeySizePage();
    void buildLocalePage();
    void buildOrganizationPage();
    void buildFinishedPage();
    // The values of the pages, for the wizard's step.
    ToolSteps::CertificateValues valuesOfPages() const;

    QString completionText() const;
};
