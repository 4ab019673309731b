#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>

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

    QStackedWidget* pcWizard;
    QPushButton* btnPrevious;
    QPushButton* btnNext;
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
    // A run whose output fails the non-empty output check has that output deleted and ends
    // the step with PageError(failureMessage).
    void runTool(const QString& commandLine, bool followDebugSwitch, const QString& outputPath,
                 const QString& failureMessage);

    void keyPressEvent(QKeyEvent* event) override;

  private:
    QVector<WizardPage> navigation;
    QString backCaption;
    QPrinter* dlgPrintPrinter;
    void resetCaptions();
};

// Keeps the confirm button of a non-native file dialog usable, with the mouse as with Enter,
// while `usable` says that the typed name is an answer that the dialog's accept() takes, even
// where Qt's own judgement greys the button out.
void keepConfirmButtonUsable(QFileDialog* dialog, std::function<bool()> usable);

// Lets the user pick or type a folder; a typed folder that does not exist is created (with
// its parents) after the user agrees. Returns the chosen folder ending in a separator, or an
// empty string when the user cancels.
QString chooseFolderFrom(QWidget* parent, const QString& startFolder);
