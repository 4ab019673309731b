#pragma once

#include "uToolSteps.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <functional>
#include <initializer_list>

class QFileDialog;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;
class QStackedWidget;
class QTextEdit;
class QToolButton;
class QVBoxLayout;

// What the frame needs to know about one page of a wizard: its navigation table entry, written
// with named fields where the page is added.
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

struct WizardLook;

// Below a finished page's instruction box: the full paths of the files that the step made,
// "Open Folder" for the export folder and, where there is a request, "Copy Request".
class TMadeFilesPanel : public QWidget {
    Q_OBJECT
  public:
    // A request is a few kilobytes; anything much larger is not one.
    static constexpr qint64 kLargestRequest = 64 * 1024;

    TMadeFilesPanel();

    QLabel* lblMadeFiles = nullptr;
    QPushButton* btnOpenFolder = nullptr;
    QPushButton* btnCopyRequest = nullptr;

    // Lists those of the made files that are present now.
    void showMadeFiles(const ToolSteps::MadeFiles& made);

  public slots:
    void btnOpenFolderClick();
    void btnCopyRequestClick();

  private:
    ToolSteps::MadeFiles shown;
};

// The window that every wizard builds on: a stack of pages without tabs above a button bar,
// the navigation protocol, the folder chooser, instruction printing, and the user of the
// wizard's step (the pass-phrase dialog and the overwrite question).
class TWizardFrame : public QDialog, public ToolSteps::StepUser {
    Q_OBJECT
  public:
    static constexpr int kCloseWizard = -1;

    static inline const QString kNextCaption = QStringLiteral("Next >");
    static inline const QString kFinishCaption = QStringLiteral("Finish");
    static inline const QString kCancelCaption = QStringLiteral("Cancel");
    static inline const QString kBackCaption = QStringLiteral("< Back");
    // What the "..." button of an export folder field does, for its tool tip and its name.
    static inline const QString kChooseExportFolder = QStringLiteral("Choose the export folder");

    QStackedWidget* pcWizard = nullptr;
    QPushButton* btnPrevious = nullptr;
    QPushButton* btnNext = nullptr;
    QToolButton* sbPrint = nullptr;
    // On the finished page of the wizards that make files.
    TMadeFilesPanel* madeFiles = nullptr;

    // The printer behind dlgPrint (tests point it at a PDF file).
    QPrinter* printer() const { return dlgPrintPrinter; }

    int currentPage() const;

    // The pass-phrase dialog of the use, with this window as its owner.
    PassPhrases askPassPhrases(PassPhraseUse use) override;
    // The overwrite question with Yes and No, the default as told; true unless the user
    // answers No.
    bool mayReplace(const QString& question, bool keepIsDefault) override;
    // An information box with OK.
    void tell(const QString& notice) override;

  public slots:
    void btnNextClick();
    // A wizard whose page runs work in the background takes this over while it runs.
    virtual void btnPreviousClick();
    void sbPrintClick();

  protected:
    TWizardFrame(QWidget* owner, const WizardLook& look);
    ~TWizardFrame() override;

    // Adds the page `index`, named `name` (a ts* name), with its navigation entry, and returns
    // the layout to fill, top to bottom. Pages are added in the order of their indexes, and the
    // controls that the entry names exist before their page is added.
    QVBoxLayout* addPage(int index, const char* name, WizardPage entry);
    void showPage(int index);
    // Shows the page as Next does on its arrival: its focus, and "Finish" on a finished page.
    // A page whose work ends later than its Next arrives here when that work is done.
    void arriveAt(int index);

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

    // A single-line field with a small "..." button at its right, in one row.
    struct BrowseField {
        QLineEdit* edit;
        QPushButton* button;
        QHBoxLayout* row;
    };
    // Makes the field and its button; the label names the field, buttonDescription says what
    // the button chooses.
    static BrowseField makeBrowseField(QLabel* label, const char* editName, const char* buttonName,
                                       const QString& buttonDescription);
    // Adds the label and below it the field's row to the layout.
    static void addBrowseField(QVBoxLayout* layout, QLabel* label, const BrowseField& field);
    // The folder chooser of a folder field's "..." button: it starts in the field's text or,
    // when that is empty, in defaultStart, and puts the chosen folder into the field.
    void chooseFolder(QLineEdit* field, const QString& defaultStart);

    void keyPressEvent(QKeyEvent* event) override;

  private:
    QVector<WizardPage> navigation;
    QString backCaption;
    QPrinter* dlgPrintPrinter = nullptr;
    void resetCaptions();
};

// How a wizard window looks before its pages are added.
struct WizardLook {
    QString caption;
    QString backCaption = TWizardFrame::kBackCaption;
    bool printable = false;                           // has sbPrint
    QString nextCaption = TWizardFrame::kNextCaption; // "Finish" in the single-page guides
};

// Keeps the confirm button of a non-native file dialog usable, with the mouse as with Enter,
// while `usable` says that the typed name is an answer that the dialog's accept() takes, even
// where Qt's own judgement greys the button out.
void keepConfirmButtonUsable(QFileDialog* dialog, std::function<bool()> usable);

// Lets the user pick or type a folder; a typed folder that does not exist is created (with
// its parents) after the user agrees. Returns the chosen folder ending in a separator, or an
// empty string when the user cancels.
QString chooseFolderFrom(QWidget* parent, const QString& startFolder);
