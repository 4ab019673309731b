#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <functional>

// A temporary program folder holding an `openssl` link to the system's tool (unless told
// otherwise); ProgramFolder() answers with it while the object lives.
class TempProgramFolder {
  public:
    explicit TempProgramFolder(bool withTool = true);
    ~TempProgramFolder();
    QString path() const; // ends in '/'
    QString file(const QString& name) const { return path() + name; }

  private:
    QTemporaryDir dir;
};

// A temporary export folder; path() ends in '/'.
class TempFolder {
  public:
    TempFolder();
    QString path() const;
    QString file(const QString& name) const { return path() + name; }

  private:
    QTemporaryDir dir;
};

// Answers the modal windows that a step opens, one action per window in order of
// appearance. The actions run from a timer inside the modal window's own event loop.
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

// Presses the given button of a QMessageBox.
ModalScript::Action pressButton(QMessageBox::StandardButton button);
// Fills the pass-phrase dialog and presses Ok (the current field only when it is visible).
ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh,
                                     const QString& verify);
ModalScript::Action enterPassPhrases(const QString& current, const QString& fresh);
// Presses Cancel of whatever dialog is shown (rejects it).
ModalScript::Action rejectDialog();

// Runs the system's openssl with the arguments and returns its standard output (stderr is
// appended when mergeErrors); exitCode receives the exit code.
QString runOpenSSL(const QStringList& arguments, int* exitCode = nullptr, bool mergeErrors = false);

// The whole content of a file (empty when it cannot be read).
QByteArray fileContent(const QString& path);
// Writes the bytes to the file, creating or replacing it.
void writeFileContent(const QString& path, const QByteArray& content);
// The text of a PDF file as pdftotext -layout reads it back, ligatures taken apart.
QString pdfText(const QString& pdfPath);
// The number of pages of a PDF file, from pdfinfo.
int pdfPageCount(const QString& pdfPath);
