#pragma once

#include "uOutputCheck.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <functional>
#include <initializer_list>

class QFileDialog;
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

// The files that a wizard's step made, as its finished page lists them.
struct MadeFiles {
    QString folder;    // the export folder, absolute, ending in a separator
    QStringList paths; // every file that the step makes, absolute, in the order listed
    QString request;   // the file whose text Copy Request copies; empty: no such button
};

// Below a finished page's instruction box: the full paths of the files that the step made,
// "Open Folder" for the export folder and, where there is a request, "Copy Request".
class TMadeFilesPanel : public QWidget {
    Q_OBJECT
  public:
    static inline const QString kHeading = QStringLiteral("Files made:");
    static inline const QString kMadeFilesName = QStringLiteral("Files made");
    static inline const QString kOpenFolderCaption = QStringLiteral("Open Folder");
    static inline const QString kOpenFolderName = QStringLiteral("Open the export folder");
    static inline const QString kCopyRequestCaption = QStringLiteral("Copy Request");
    static inline const QString kCopyRequestName =
        QStringLiteral("Copy the certificate request to the clipboard");
    static inline const QString kRequestReadFailure =
        QStringLiteral("Cannot read the request file \"%1\". %2");
    static inline const QString kNotPlainFileReason = QStringLiteral("It is not a plain file.");
    static inline const QString kTooLargeReason = QStringLiteral("It is larger than %1 bytes.");
    // A request is a few kilobytes; anything much larger is not one.
    static constexpr qint64 kLargestRequest = 64 * 1024;

    TMadeFilesPanel();

    QLabel* lblMadeFiles = nullptr;
    QPushButton* btnOpenFolder = nullptr;
    QPushButton* btnCopyRequest = nullptr;

    // Lists those of the made files that are present now.
    void showMadeFiles(const MadeFiles& made);

  public slots:
    void btnOpenFolderClick();
    void btnCopyRequestClick();

  private:
    MadeFiles shown;
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
    // What the "..." button of an export folder field does, for its tool tip and its name.
    static inline const QString kChooseExportFolder = QStringLiteral("Choose the export folder");
    static inline const QString kPrintDescription = QStringLiteral("Print these instructions");
    // The accessible name of every instruction box.
    static inline const QString kInstructionBoxName = QStringLiteral("Instructions");

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
    static inline const QString kExitStatusExplanation =
        QStringLiteral("The tool ended with status %1.");
    static inline const QString kTimeLimitExplanation =
        QStringLiteral("The tool was stopped after %1 seconds.");
    static inline const QString kSignalExplanation =
        QStringLiteral("The tool was ended by a signal (%1).");
    static inline const QString kIncompleteOutputExplanation =
        QStringLiteral("The tool's output is not a complete %1.");
    static inline const QString kKeyNoun = QStringLiteral("private key");
    static inline const QString kRequestNoun = QStringLiteral("certificate request");
    static inline const QString kCertificateNoun = QStringLiteral("certificate");
    static inline const QString kBundleNoun = QStringLiteral("PKCS#12 file");
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
    // On the finished page of the wizards that make files.
    TMadeFilesPanel* madeFiles = nullptr;

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
    // Adds madeFiles below the instruction box of a finished page; the page's Next code fills
    // it once the step has succeeded.
    void addMadeFilesPanel(QVBoxLayout* page);
    // A label with its control name.
    static QLabel* makeLabel(const char* name, const QString& caption, bool wordWrap = false);
    // A label that names the controls it describes, for assistive technology; the first one is
    // its buddy.
    static QLabel* makeLabel(const char* name, const QString& caption,
                             std::initializer_list<QWidget*> describes);

    // A single-line field with a small "..." button at its right.
    struct BrowseField {
        QLineEdit* edit;
        QPushButton* button;
    };
    // Adds the label and below it the field and its "..." button, as one row, to the layout.
    // The label names the field; buttonDescription says what the button chooses.
    static BrowseField addBrowseField(QVBoxLayout* layout, QLabel* label, const char* editName,
                                      const char* buttonName, const QString& buttonDescription);
    // The folder chooser of a folder field's "..." button: it starts in the field's text or,
    // when that is empty, in defaultStart, and puts the chosen folder into the field.
    void chooseFolder(QLineEdit* field, const QString& defaultStart);

    // The overwrite question with Yes and No; true unless the user answers No.
    bool askOverwrite(const QString& question);
    // Runs the tool with one command line; followDebugSwitch false keeps the run hidden.
    // The run made its output when the tool ended by itself with status 0 and left a complete
    // output of the kind at outputPath. A run that did not has its output deleted and ends the
    // step with PageError(failureMessage), which also says why the run failed, where the
    // tool's output or its ending makes it plain, and holds the command line and the tool's
    // output as details; a run that the program ended because it is closing ends the step
    // with SilentAbort.
    void runTool(const QString& commandLine, bool followDebugSwitch, const QString& outputPath,
                 OutputKind kind, const QString& failureMessage);
    // The same for a run that reads a PKCS#12 file: when the tool says that it lacks an
    // algorithm that the file uses, the run is made once more with the tool's legacy
    // algorithms, and that run decides.
    void runToolWithLegacyRetry(const QString& commandLine, bool followDebugSwitch,
                                const QString& outputPath, OutputKind kind,
                                const QString& failureMessage);

    void keyPressEvent(QKeyEvent* event) override;

  private:
    QVector<WizardPage> navigation;
    QString backCaption;
    QPrinter* dlgPrintPrinter = nullptr;
    void resetCaptions();
    void runJudged(const QString& commandLine, bool followDebugSwitch, const QString& outputPath,
                   OutputKind kind, const QString& failureMessage, bool legacyRetry);
};

// Keeps the confirm button of a non-native file dialog usable, with the mouse as with Enter,
// while `usable` says that the typed name is an answer that the dialog's accept() takes, even
// where Qt's own judgement greys the button out.
void keepConfirmButtonUsable(QFileDialog* dialog, std::function<bool()> usable);

// Lets the user pick or type a folder; a typed folder that does not exist is created (with
// its parents) after the user agrees. Returns the chosen folder ending in a separator, or an
// empty string when the user cancels.
QString chooseFolderFrom(QWidget* parent, const QString& startFolder);
