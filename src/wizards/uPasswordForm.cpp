#include "uPasswordForm.h"

#include "uAccessibility.h"
#include "uPassPhraseRules.h"
#include "uWindowsCommon.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <initializer_list>
#include <tuple>
#include <utility>

namespace {
const QString kCaption = QStringLiteral("Password...");
const QString kCurrentPasswordCaption = QStringLiteral("Current Password:");
const QString kNewPasswordCaption = QStringLiteral("New Password:");
const QString kVerifyPasswordCaption = QStringLiteral("Verify New Password:");
const QString kOkCaption = QStringLiteral("Ok");
const QString kCancelCaption = QStringLiteral("Cancel");

const QString kAllFieldsMessage = QStringLiteral("All fields must be completed.");

// The stars that the pass-phrase fields show, whatever the style's own mask character is.
const QString kMaskStyleSheet = QStringLiteral("lineedit-password-character: 42");

// The rows sit at fixed places so that hiding the first one can move the others up by exactly
// one row and take that row's height off the dialog.
constexpr int kMargin = 12;
constexpr int kRowPitch = 58;
constexpr int kLabelHeight = 18;
constexpr int kEditOffset = 20;
constexpr int kEditHeight = 26;
constexpr int kFieldWidth = 280;
constexpr int kButtonWidth = 84;
constexpr int kButtonHeight = 28;
constexpr int kButtonGap = 8;
constexpr int kDialogWidth = kFieldWidth + 2 * kMargin;
constexpr int kButtonTop = kMargin + 3 * kRowPitch + 4;
constexpr int kDialogHeight = kButtonTop + kButtonHeight + kMargin;

struct SetUp {
    PassPhraseUse use;
    bool hideCurrentRow;
    bool currentRequired;
    QString currentCaption;
    QString newCaption;
};

const SetUp kSetUps[] = {
    {PassPhraseUse::CertificateRequest, true, true, kCurrentPasswordCaption,
     QStringLiteral("New Password for Key file:")},
    {PassPhraseUse::IISBundle, false, false, QStringLiteral("Current Key File Password:"),
     QStringLiteral("New Password for PFX file:")},
    {PassPhraseUse::IndyFromPfx, false, true, QStringLiteral("Current PFX File Password:"),
     QStringLiteral("New Password for PEM file:")},
    {PassPhraseUse::IndyFromKey, false, true, QStringLiteral("Current Key File Password:"),
     QStringLiteral("New Password for PEM file:")},
    {PassPhraseUse::ServerFiles, true, true, kCurrentPasswordCaption,
     QStringLiteral("New Password for PFX and PEM files:")},
};

void moveRow(QLabel* label, QLineEdit* edit, int row) {
    const int top = kMargin + row * kRowPitch;
    label->move(kMargin, top);
    edit->move(kMargin, top + kEditOffset);
}
} // namespace

TfrmPasswordDlg::TfrmPasswordDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
    setWindowTitle(kCaption);

    const auto makeRow = [this](const char* labelName, const QString& caption, const char* editName,
                                int row) {
        auto* label = named(new QLabel(caption, this), labelName);
        label->resize(kFieldWidth, kLabelHeight);
        auto* edit = named(new QLineEdit(this), editName);
        edit->setStyleSheet(kMaskStyleSheet);
        edit->setEchoMode(QLineEdit::Password);
        edit->resize(kFieldWidth, kEditHeight);
        nameAfterLabel(label, {edit});
        moveRow(label, edit, row);
        return std::make_pair(label, edit);
    };
    std::tie(lblPass1, edtCurrentPassword) =
        makeRow("lblPass1", kCurrentPasswordCaption, "edtCurrentPassword", 0);
    std::tie(lblPass2, edtNewPassword) =
        makeRow("lblPass2", kNewPasswordCaption, "edtNewPassword", 1);
    std::tie(lblPass3, edtVerifyNewPassword) =
        makeRow("lblPass3", kVerifyPasswordCaption, "edtVerifyNewPassword", 2);

    btnOk = named(new QPushButton(kOkCaption, this), "btnOk");
    btnOk->setDefault(true);
    btnOk->setGeometry(kDialogWidth - kMargin - 2 * kButtonWidth - kButtonGap, kButtonTop,
                       kButtonWidth, kButtonHeight);
    btnCancel = named(new QPushButton(kCancelCaption, this), "btnCancel");
    btnCancel->setGeometry(kDialogWidth - kMargin - kButtonWidth, kButtonTop, kButtonWidth,
                           kButtonHeight);
    connect(btnOk, &QPushButton::clicked, this, &TfrmPasswordDlg::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(kDialogWidth, kDialogHeight);
    edtCurrentPassword->setFocus();
}

void TfrmPasswordDlg::HideCurrentPassword() {
    lblPass1->hide();
    edtCurrentPassword->hide();
    moveRow(lblPass3, edtVerifyNewPassword, 1);
    moveRow(lblPass2, edtNewPassword, 0);
    // The buttons keep their distance from the bottom edge.
    for (QPushButton* button : {btnOk, btnCancel})
        button->move(button->x(), button->y() - kRowPitch);
    setFixedSize(width(), height() - kRowPitch);
    edtNewPassword->setFocus();
}

void TfrmPasswordDlg::HideNewPassword() {
    for (QWidget* row :
         std::initializer_list<QWidget*>{lblPass2, edtNewPassword, lblPass3, edtVerifyNewPassword})
        row->hide();
    for (QPushButton* button : {btnOk, btnCancel})
        button->move(button->x(), button->y() - 2 * kRowPitch);
    setFixedSize(width(), height() - 2 * kRowPitch);
    edtCurrentPassword->setFocus();
}

void TfrmPasswordDlg::setUp(PassPhraseUse use) {
    for (const SetUp& setUp : kSetUps) {
        if (setUp.use != use)
            continue;
        if (setUp.hideCurrentRow)
            HideCurrentPassword();
        CurrentPasswordRequired = setUp.currentRequired;
        lblPass1->setText(setUp.currentCaption);
        lblPass2->setText(setUp.newCaption);
    }
}

QString TfrmPasswordDlg::currentPassPhrase() const {
    return edtCurrentPassword->text();
}

QString TfrmPasswordDlg::newPassPhrase() const {
    return edtNewPassword->text();
}

PassPhrases TfrmPasswordDlg::ask(QWidget* owner, PassPhraseUse use) {
    TfrmPasswordDlg dialog(owner);
    dialog.setUp(use);
    dialog.WritesPassPhraseFiles = false;
    if (dialog.exec() != QDialog::Accepted)
        throw SilentAbort();
    return {dialog.currentPassPhrase(), dialog.newPassPhrase()};
}

QString TfrmPasswordDlg::askCurrent(QWidget* owner, const QString& caption) {
    TfrmPasswordDlg dialog(owner);
    dialog.HideNewPassword();
    dialog.CurrentPasswordRequired = false;
    dialog.lblPass1->setText(caption);
    if (dialog.exec() != QDialog::Accepted)
        throw SilentAbort();
    return dialog.currentPassPhrase();
}

void TfrmPasswordDlg::btnOkClick() {
    runGuarded(this, [this] {
        const QString current = edtCurrentPassword->text();
        if (!edtNewPassword->isVisibleTo(this)) {
            PassPhraseRules::checkToolCanReadAsTyped(current);
            accept();
            return;
        }
        const QString fresh = edtNewPassword->text();
        const QString repeated = edtVerifyNewPassword->text();
        if (CurrentPasswordRequired && edtCurrentPassword->isVisibleTo(this) && current.isEmpty())
            throw PageError(kAllFieldsMessage);
        if (fresh.isEmpty() || repeated.isEmpty())
            throw PageError(kAllFieldsMessage);
        if (fresh != repeated)
            throw PageError(PassPhraseRules::kMismatchMessage);
        PassPhraseRules::checkNewPassPhrase(fresh);
        PassPhraseRules::checkToolCanReadAsTyped(current);
        if (WritesPassPhraseFiles)
            writePassPhrases(PassPhraseFolder(), {current, fresh});
        accept();
    });
}
