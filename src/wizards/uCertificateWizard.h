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
    OutputKind outputKind;          // what the second run makes
    bool asksPassPhrase;            // the key is encrypted under a new pass phrase
    bool hasTerm;                   // the key page asks for the term of a certificate
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
    static inline const QString kDomainNameMessage = QStringLiteral(
        "The domain name \"%1\" is neither a host name nor an IP address. Please enter a name "
        "such as www.example.com or *.example.com, or an address such as 192.0.2.1.");
    static inline const QString kTermMessage =
        QStringLiteral("The term \"%1\" is not a whole number of days from %2 to %3. Please "
                       "enter the number of days only.");
    // The term of a certificate, in days.
    static constexpr int kShortestTerm = 1;
    static constexpr int kLongestTerm = 36500;

    // The page error for a term that is refused.
    static QString termMessage(const QString& term);

    QLabel* Label1 = nullptr;
    QLabel* Label4 = nullptr;
    QRadioButton* rb1024 = nullptr;
    QRadioButton* rb2048 = nullptr;
    QRadioButton* rb512 = nullptr;
    QRadioButton* rb4096 = nullptr;
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

    // The generation step shared by both wizards; returns once both outputs are non-empty.
    void generate(const CertificateValues& values);

    // Page 1 lays out the key sizes in this grid: rb1024, rb2048 and rb4096 in column 0, rb512
    // at row 0, column 1; the self-signed wizard puts its term beside rb2048.
    QGridLayout* keySizeGrid = nullptr;

  private:
    CertificateWizardSetup setup;

    void FormCreate();
    void buildStartPage();
    void buildKeySizePage();
    void buildLocalePage();
    void buildOrganizationPage();
    void buildFinishedPage();
    void setUpNavigation();
    // Refuses (PageError) a term that is not a whole number of days within the bounds; a
    // wizard without a term has nothing to check.
    void checkTerm(const QString& term) const;
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
