#pragma once

#include "TestCoreSupport.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QtTest>

#include <functional>

#include "uFreshFile.h"

class QFileDialog;
class QProcess;
class QProcessEnvironment;
class QPushButton;
class TWizardFrame;

// Answers the modal windows that a step opens, one action per window in order of
// appearance. The actions run from a timer inside the modal window's own event loop.
// Once a check fails, inside an action or elsewhere, every window is closed unanswered so that
// the test ends at once.
class ModalScript : public QObject {
    Q_OBJECT
  public:
    using Action = std::function<void(QWidget* modal)>;
    explicit ModalScript(QVector<Action> actions);
    ~ModalScript() override;
    // Number of actions that have not run yet.
    int remaining() const { return int(actions.size()); }
    // For each handled window: a message box's text, else the window's title.
    QStringList seen;

  private:
    QVector<Action> actions;
    QPointer<QWidget> lastHandled;
    QTimer timer;
    void poll();
};

// Runs the action on the modal window when it is a Window; any other window fails the test
// (and is then closed unanswered).
template <class Window> ModalScript::Action onWindow(std::function<void(Window*)> action) {
    return [action](QWidget* modal) {
        auto* window = qobject_cast<Window*>(modal);
        if (!window)
            QFAIL(qPrintable(QStringLiteral("expected a %1, got \"%2\"")
                                 .arg(QString::fromLatin1(Window::staticMetaObject.className()),
                                      modal->windowTitle())));
        action(window);
    };
}

// Presses the given button of a QMessageBox.
ModalScript::Action pressButton(QMessageBox::StandardButton button);
// What a message box says below its main text and behind its "Show Details..." button.
struct MessageBoxTexts {
    QString informative;
    QString detailed;
};
// Notes the informative and detailed text of a QMessageBox in *texts and presses its OK.
ModalScript::Action noteTextsAndPressOk(MessageBoxTexts* texts);
// Fills the pass-phrase dialog and presses Ok (the current field only when it is visible).
ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh,
                                     const QString& verify);
ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh);
// Presses Cancel of whatever dialog is shown (rejects it); closes any other window.
ModalScript::Action rejectDialog();

// Types the path into an open-file or folder dialog's name box and confirms it by clicking the
// dialog's confirm button (failing the test when that button is greyed out).
void typeIntoFileDialog(QFileDialog* dialog, const QString& path);
// The Open (or Save) button of a non-native file dialog.
QPushButton* fileDialogConfirmButton(QFileDialog* dialog);

// Notes in *start the folder in which the folder dialog starts, types the folder into its name
// box and confirms it.
ModalScript::Action chooseFolder(const QString& folder, QString* start = nullptr);
// Notes in *start the folder in which the folder dialog starts and cancels it.
ModalScript::Action cancelFolderDialog(QString* start);

// The names, among those given, in the order in which Tab visits them from the first.
QStringList tabOrder(QWidget* first, const QStringList& names);

// A path that ctest hands to the test in the environment variable (CERTWRIGHT_EXECUTABLE,
// CERTWRIGHT_BUILD_DIR, CMAKE_COMMAND_PATH); the test program ends with a message when it was
// started without it.
QString testPath(const char* variable);

// True while the process exists and has not ended (a zombie has ended).
bool processIsAlive(qint64 pid);
// The number that a process wrote into the file, 0 while there is none.
qint64 idIn(const QString& file);

// Opens a file or folder and takes its lock (unless told not to), as a running copy of the
// program does, until the object goes.
class HeldLock {
  public:
    explicit HeldLock(const QString& path, bool take = true);
    const Descriptor file;
    // False when another holds the lock, or it was not to be taken.
    const bool locked;
};

// This system's environment, with Qt's platform without a display.
QProcessEnvironment offscreenEnvironment();

// True when the process has taken the termination signals over.
bool catchesTerminationSignals(qint64 pid);

// Copies the program into the folder, starts it there with the environment and waits until
// it has taken the termination signals over; by then it has chosen its pass-phrase folder.
void startProgramCopy(QProcess& process, const QString& folder,
                      const QProcessEnvironment& environment);

// The text of a PDF file as pdftotext -layout reads it back, ligatures taken apart.
QString pdfText(const QString& pdfPath);
// The number of pages of a PDF file, from pdfinfo.
int pdfPageCount(const QString& pdfPath);

// Collects what the program writes to its standard error while the object lives.
class StandardErrorCapture {
  public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    // Ends the capture and returns what was written.
    QString text();

  private:
    TempFolder folder;
    int saved = -1;
    void restore();
};

// Accepts the print dialog (and fails the test when the window is another one).
ModalScript::Action acceptPrintDialog();
// Points the wizard's printer at a PDF file.
void printToPdf(TWizardFrame& wizard, const QString& pdf);
// Presses the wizard's print button with its printer pointed at a PDF file and accepts the
// print dialog; returns the PDF file's path, or empty when no print dialog was answered.
QString printShownPage(TWizardFrame& wizard, const QString& pdf);
// The printed lines of a PDF file as pdftotext reads them, each with its blanks simplified.
QStringList printedLines(const QString& pdf);

// Adds a row of the values, in the order of the current data table's columns.
template <class... Values> void addRow(const char* name, const Values&... values) {
    (QTest::newRow(name) << ... << values);
}
// Gives the current data table one bool column: a row for false, then one for true.
void addBoolRows(const char* column, const char* whenFalse, const char* whenTrue);

// Puts a shell script in place of whatever stands at the path, runnable by its owner only;
// true when it was made.
bool writeProgram(const QString& path, const QByteArray& script);
