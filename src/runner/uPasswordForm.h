#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// The four ways in which a wizard step asks for pass phrases.
enum class PassPhraseUse {
    CertificateRequest, // new pass phrase only (the current row is hidden)
    IISBundle,          // current (may be empty) and new
    IndyFromPfx,        // current (required) and new
    IndyFromKey,        // current (required) and new
};

inline const QString kCurrentPassPhraseFile = QStringLiteral("passcurrent.txt");
inline const QString kNewPassPhraseFile = QStringLiteral("passnew.txt");

// Writes a pass phrase into a file of the program folder: created with mode 0600, UTF-8
// bytes, no line end. The empty pass phrase is written as a lone line end, since the tool
// refuses an empty file but reads that as the empty pass phrase. Throws PageError naming the
// path and the reason when it fails.
void writePassPhraseFile(const QString& fileName, const QString& passPhrase);

// Cuts both pass-phrase files to length 0 (creating them when missing), "passcurrent.txt"
// first; both are always tried, and the first that cannot be emptied is reported (PageError).
void emptyPassPhraseFiles();

// Asks for pass phrases and writes both pass-phrase files.
class TfrmPasswordDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmPasswordDlg(QWidget* owner);

    bool CurrentPasswordRequired = true;

    void HideCurrentPassword();
    // Applies one of the four set-ups (row visibility, required flag, label captions).
    void setUp(PassPhraseUse use);

    QString currentPassPhrase() const;
    QString newPassPhrase() const;

    // Shows the dialog set up for the use with the owner as parent; returns the new pass
    // phrase once the user has confirmed and both files are written. Any other ending of the
    // dialog throws SilentAbort.
    static QString ask(QWidget* owner, PassPhraseUse use);

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
