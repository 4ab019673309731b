#pragma once

#include "uWizardFrame.h"

#include <QString>
#include <QStringList>

class QComboBox;
class QGridLayout;
class QLabel;
class QRadioButton;

// The text values that one generation uses, as the pages hold them.
struct CertificateValues {
    QString term; // days of validity; empty in the request wizard, which has no term
    QString email;
    QString keySize;
    QString countryCode;
    QString city;
    QString state;
    QString domain;
    QString legalName;
    QString exportFolder; // as typed
};

// What distinguishes one of the twin wizards from the other, apart from its command lines.
struct CertificateWizardSetup {
    QString caption;
    QString startText;
    QStringList finishedLines;
    QString outputExtension;        // of the second run's output, with its dot
    bool asksPassPhrase;            // the key is encrypted under a new pass phrase
    bool offersRequestCopy = false; // the second output is a request for Copy Request
};

// The request and self-signed certificate wizards: the same pages, checks and generation
// steps; the key run and a req run with the subject from the request configuration file.
class TCertificateWizard : public TWizardFrame {
    Q_OBJECT
  public:
    static inline const QString kBackCaption = QStringLiteral("< Previous");
    static inline const QString kPageIncompleteMessage =
        QStringLiteral("You must complete the fields on this page before continuing.");
    static inline const QString kRunFailedMessage = QStringLiteral(
        "Error running process.  Make sure that you have valid entries for your data fields.");
    static inline const QString kNoPasswordMessage = QStringLiteral("No Password Provided");
    static inline const QString kOverwriteQuestion =
        QStringLiteral("Do you want to overwrite the %1 file?");
    static inline const QString kDomainPathMessage = QStringLiteral(
        "The domain name \"%1\" cannot name the output files: it must not contain \"/\" or "
        "\"\\\" and must not be \".\" or \"..\". Please enter the domain name only.");
    static inline const QString kTermMessage =
        QStringLiteral("The term \"%1\" must not contain blanks or double quotes. Please enter "
                       "the number of days only.");
    static inline const QString kDeleteFailedMessage =
        QStringLiteral("Cannot delete the file \"%1\", so it cannot be replaced. %2");

    QLabel* Label1;
    QLabel* Label4;
    QRadioButton* rb1024;
    QRadioButton* rb2048;
    QRadioButton* rb512;
    QLabel* Label5;
    QLineEdit* edtEmail;
    QLabel* Label2;
    QComboBox* cbCountry;
    QLabel* Label6;
    QLineEdit* edtState;
    QLabel* Label10;
    QLineEdit* edtCity;
    QLabel* Label11;
    QLineEdit* edtDomainName;
    QLabel* Label12;
    QLineEdit* edtLegalName;
    QLabel* Label3;
    QLineEdit* edtExportPath;
    QPushButton* btnExportPath;
    QTextEdit* memRootInstructions;

  public slots:
    void btnExportPathClick();

  protected:
    TCertificateWizard(QWidget* owner, const CertificateWizardSetup& setup);

    // The key size that the radio buttons select.
    QString keySize() const;
    // The code of the country that cbCountry selects.
    QString countryCode() const;

    // The generation step shared by both wizards; returns once both outputs are non-empty.
    void generate(const CertificateValues& values);

    // Page 1 lays out the key sizes in this grid: rb1024 and rb2048 in column 0, rb512 at
    // row 0, column 1; the self-signed wizard puts its term beside rb2048.
    QGridLayout* keySizeGrid;

  private:
    CertificateWizardSetup setup;

    void FormCreate();
    void buildStartPage();
    void buildKeySizePage();
    void buildLocalePage();
    void buildOrganizationPage();
    void buildFinishedPage();
    void setUpNavigation();
    // Lists the key and the second output on the finished page.
    void listMadeFiles();

    // Collects the pages' values and runs the wizard's own generation step.
    virtual void generateFromPages() = 0;
    virtual QString keyCommandLine(const QString& folder, const QString& base,
                                   const CertificateValues& values) const = 0;
    virtual QString outputCommandLine(const QString& folder, const QString& base,
                                      const CertificateValues& values) const = 0;

    QString completionText() const;
};
