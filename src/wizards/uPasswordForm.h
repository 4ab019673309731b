#pragma once

#include "uPassPhraseFiles.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// Asks for pass phrases; confirmed on its own, it writes both pass-phrase files.
class TfrmPasswordDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmPasswordDlg(QWidget* owner);

    bool CurrentPasswordRequired = true;
    // Whether OK writes both pass-phrase files into the program folder before it closes the
    // dialog (a file that cannot be written keeps it open). ask() turns it off: the step that
    // asked writes them itself.
    bool WritesPassPhraseFiles = true;

    void HideCurrentPassword();
    // Leaves only the current pass phrase, for a task that reads a file and makes none.
    void HideNewPassword();
    // Applies one of the four set-ups (row visibility, required flag, label captions).
    void setUp(PassPhraseUse use);

    QString currentPassPhrase() const;
    QString newPassPhrase() const;

    // Shows the dialog set up for the use with the owner as parent; returns both pass phrases
    // (the current one empty where its row is hidden) once the user has confirmed; it writes no
    // file. Any other ending of the dialog throws SilentAbort.
    static PassPhrases ask(QWidget* owner, PassPhraseUse use);
    // Shows the dialog with the current pass phrase alone, under the caption, and returns it
    // (empty when the file has none) once the user has confirmed; it writes no file. Any other
    // ending of the dialog throws SilentAbort.
    static QString askCurrent(QWidget* owner, const QString& caption);

    QLabel* lblPass1;
    QLineEdit* edtCurrentPassword;
    QLabel* lblPass2;
    QLineEdit* edtNewPassword;
    QLabel* lblPass3;
    QLineEdit* edtVerifyNewPassword;
    QPushButton* btnOk;
    QPushButton* btnCancel;

  public slots:
    void btnOkClick();
};
