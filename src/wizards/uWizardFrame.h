#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QStackedWidget;
class QTextEdit;
class QToolButton;
class QVBoxLayout;

// What the frame needs to know about one page of a wizard: its navigation table entry.
struct WizardPage {
    // Checks the page and runs its work (throwing PageError or SilentAbort to stay on the
    // page); returns the index of the page to show next, or TWizardFrame::kCloseWizard.
    std::function<int()> next;
    // The page that btnPrevious shows, or TWizardFrame::kCloseWizard.
    int previous = 0;
    // Receives the focus when Next arrives on this page.
    QWidget* focus = nullptr;
    // Arriving here by Next means the wizard's work succeeded: btnNext then reads "Finish".
    bool finished = false;
    // The instruction box that sbPrint prints while this page is shown; sbPrint is visible
    // exactly on the pages that have one.
    QTextEdit* printBox = nullptr;
};

// How a wizard window looks before its pages are added.
struct WizardLook {
    QString caption;
    QString backCaption;                            // "< Previous" or "< Back"
    bool printable = false;                         // has sbPrint
    QString nextCaption = QStringLiteral("Next >"); // "Finish" in the single-page guides
};

// The window that every wizard builds on: a stack of pages without tabs above a button bar,
// the navigation protocol, and the shared steps (overwrite question, folder chooser, tool
// run, instruction printing).
class TWizardFrame : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kCloseWizard = -1;

    static inline const QString kNextCaption = QStringLiteral("Next >");
    static inline const QString kFinishCaption = QStringLiteral("Finish");
    static inline const QString kCancelCaption = QStringLiteral("Cancel");
    static inline const QString kPrintErrorMessage = QStringLiteral("Error Printing text.");
    static inline const QString kCreateFolderQuestion =
        QStringLiteral("The specified directory does not exist. Create it?");

    // What a failed run's box says below its message when the tool's output says plainly
    // what went wrong.
    static inline const QString kKeyMismatchExplanation =
        QStringLiteral("The certificate does not belong to the key: it was issued for another "
                       "key. Use the certificate that was issued for this key.");
    static inline const QString kWrongPassPhraseExplanation =
        QStringLiteral("The pass phrase is wrong: the file does not open with the current "
                       "password that was typed.");
    static inline const QString kNotPkcs12Explanation =
        QStringLiteral("The file is not a PKCS#12 file (.pfx or .p12).");
    static inline const QString kNotPrivateKeyExplanation =
        QStringLiteral("The key file is not a private key that the tool can read.");
    static inline const QString kNotCertificateExplanation =
        QStringLiteral("The certificate text is not a certificate that the tool can read.");
    static inline const QString kToolNotStartedExplanation =
        QStringLiteral("The OpenSSL tool could not be started.");
    // The details of a failed run, which the user can open: the command line and what the tool
    // wrote, or why it could not be started.
    static inline const QString kRunDetails = QStringLiteral("Command line:\n%1 %2\n\n%3");
    static inline const QString kToolOutputDetails = QStringLiteral("Output of the tool:\n%1");
    static inline const QString kNoToolOutput = QStringLiteral("(none)");
    static inline const QString kToolNotStartedDetails =
        QStringLiteral("The tool could not be started: %1");

    QStackedWidget* pcWizard = nullptr;
    QPushButton* btnPrevious = nullptr;
    QPushButton* btnNext = nullptr;
    QToolButton* sbPrint = nullptr;

    // The printer behind dlgPrint (tests point it at a PDF file).
    QPrinter* printer() const { return dlgPrintPrinter; }

    int currentPage() const;

  public slots:
    void btnNextClick();
    void btnPreviousClick();
    void sbPrintClick();

  protected:
    TWizardFrame(QWidget* owner, const WizardLook& look);
    ~TWizardFrame() override;

    // Adds a page named `name` (a ts* name) and returns the layout to fill, top to bottom.
    QVBoxLayout* addPage(const char* name);
    // The navigation table, one entry per page in page order.
    void setNavigation(QVector<WizardPage> table);
    void showPage(int index);

    // Builds the read-only instruction box that holds the given stored lines.
    static QTextEdit* makeInstructionBox(const char* name, const QStringList& lines);
    // A label with its control name.
    static QLabel* makeLabel(const char* name, const QString& caption, bool wordWrap = false);

    // A single-line field with a small "..." button at its right.
    struct BrowseField {
        QLineEdit* edit;
        QPushButton* button;
    };
    // Adds a field and its "..." button to the layout, as one row.
    static BrowseField addBrowseField(QVBoxLayout* layout, const char* editName,
                                      const char* buttonName);
    // The folder chooser of a folder field's "..." button: it starts in the field's text or,
    // when that is empty, in defaultStart, and puts the chosen folder into the field.
    void chooseFolder(QLineEdit* field, const QString& defaultStart);

    // The overwrite question with Yes and No; true unless the user answers No.
    bool askOverwrite(const QString& question);
    // Runs the tool with one command line; followDebugSwitch false keeps the run hidden.
    // A run whose output fails the non-empty output check has that output deleted and ends
    // the step with PageError(failureMessage), which also says, where the tool's output
    // makes it plain, why the run failed, and holds the command line and the tool's output as
    // details.
    void runTool(const QString& commandLine, bool followDebugSwitch, const QString& outputPath,
                 const QString& failureMessage);

    void keyPressEvent(QKeyEvent* event) override;

  private:
    QVector<WizardPage> navigation;
    QString backCaption;
    QPrinter* dlgPrintPrinter = nullptr;
    void resetCaptions();
};

// Lets the user pick or type a folder; a typed folder that does not exist is created (with
// its parents) after the user agrees. Returns the chosen folder ending in a separator, or an
// empty string when the user cancels.
QString chooseFolderFrom(QWidget* parent, const QString& startFolder);
