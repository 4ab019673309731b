#include "uPasswordForm.h"

#include "uAccessibility.h"
#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {
const QString kCaption = QStringLiteral("Password...");
const QString kCurrentPasswordCaption = QStringLiteral("Current Password:");
const QString kNewPasswordCaption = QStringLiteral("New Password:");
const QString kVerifyPasswordCaption = QStringLiteral("Verify New Password:");
const QString kOkCaption = QStringLiteral("Ok");
const QString kCancelCaption = QStringLiteral("Cancel");

const QString kAllFieldsMessage = QStringLiteral("All fields must be completed.");
const QString kMismatchMessage =
    QStringLiteral("Your verified password must match your new password.");
const QString kTooShortMessage =
    QStringLiteral("Your password must be at least 4 characters long.");
const QString kControlCharacterMessage = QStringLiteral(
    "Your password must not contain line breaks or other control characters (it contains %1).");
const QString kTooLongMessage =
    QStringLiteral("Your password must be at most 1023 bytes long in UTF-8.");
const QString kFileErrorMessage = QStringLiteral("Cannot create file \"%1\". %2");
const QString kReadErrorMessage = QStringLiteral("Cannot read file \"%1\". %2");
const QString kNotARegularFile = QStringLiteral("It is not a regular file");

constexpr int kMinimumLength = 4;
// The tool reads at most this many bytes of a pass-phrase file.
constexpr int kMaximumBytes = 1023;
// The stars that the pass-phrase fields show, whatever the style's own mask character is.
const QString kMaskStyleSheet = QStringLiteral("lineedit-password-character: 42");
// Far more than any pass-phrase file the dialog writes.
constexpr qsizetype kReadLimit = 64 * 1024;

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

// The tool refuses an empty pass-phrase file, but reads a lone line end as the empty pass
// phrase; any other pass phrase is stored exactly as typed.
const QByteArray kEmptyPassPhraseContent = QByteArrayLiteral("\n");

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
};

// A file descriptor that is closed when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    const int fd;
};

PageError fileError(const QString& message, const QString& fileName, const QString& reason) {
    return PageError(message.arg(PassPhraseFolder() + fileName, reason));
}

PageError fileError(const QString& message, const QString& fileName, int error) {
    return fileError(message, fileName, QString::fromLocal8Bit(std::strerror(error)));
}

void writePassPhraseBytes(const QString& fileName, const QByteArray& content) {
    const QString refusal = PassPhraseFolderRefusal();
    if (!refusal.isEmpty())
        throw PageError(refusal);
    const Descriptor folder(openPassPhraseFolder());
    if (folder.fd < 0)
        throw fileError(kFileErrorMessage, fileName, errno);
    const int error = writeFreshFileAt(folder.fd, QFile::encodeName(fileName).constData(),
                                       content.constData(), size_t(content.size()));
    if (error != 0)
        throw fileError(kFileErrorMessage, fileName, error);
}

// The content of a pass-phrase file that is a regular file; a link is not followed, and a
// FIFO or device neither blocks nor is read.
QByteArray readPassPhraseBytes(const QString& fileName) {
    const Descriptor folder(openPassPhraseFolder());
    if (folder.fd < 0)
        throw fileError(kReadErrorMessage, fileName, errno);
    const Descriptor file(::openat(folder.fd, QFile::encodeName(fileName).constData(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
        throw errno == ELOOP ? fileError(kReadErrorMessage, fileName, kNotARegularFile)
                             : fileError(kReadErrorMessage, fileName, errno);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0)
        throw fileError(kReadErrorMessage, fileName, errno);
    if (!S_ISREG(info.st_mode) || info.st_size > kReadLimit)
        throw fileError(kReadErrorMessage, fileName, kNotARegularFile);
    QByteArray content(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t got = ::read(file.fd, content.data() + done, size_t(content.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw fileError(kReadErrorMessage, fileName, errno);
        if (got == 0)
            break;
        done += got;
    }
    content.truncate(done);
    return content;
}

// The first character (code point, not UTF-16 unit) that a pass-phrase file cannot hold as
// typed: the tool reads only the first line, so line breaks and other control characters are
// out.
std::optional<char32_t> firstRefusedCharacter(const QString& text) {
    for (const char32_t character : text.toUcs4()) {
        switch (QChar::category(character)) {
        case QChar::Other_Control:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return character;
        default:
            break;
        }
    }
    return std::nullopt;
}

// Refuses a pass phrase that the tool would read differently from what was typed.
void checkToolCanReadAsTyped(const QString& passPhrase) {
    if (const auto refused = firstRefusedCharacter(passPhrase))
        throw PageError(kControlCharacterMessage.arg(
            QStringLiteral("U+%1").arg(uint(*refused), 4, 16, QLatin1Char('0')).toUpper()));
    if (passPhrase.toUtf8().size() > kMaximumBytes)
        throw PageError(kTooLongMessage);
}

void moveRow(QLabel* label, QLineEdit* edit, int row) {
    const int top = kMargin + row * kRowPitch;
    label->move(kMargin, top);
    edit->move(kMargin, top + kEditOffset);
}
} // namespace

void writePassPhraseFile(const QString& fileName, const QString& passPhrase) {
    writePassPhraseBytes(fileName,
                         passPhrase.isEmpty() ? kEmptyPassPhraseContent : passPhrase.toUtf8());
}

void emptyPassPhraseFiles() {
    if (!PassPhraseFolderRefusal().isEmpty())
        return;
    // One file that cannot be emptied must not leave the other's pass phrase on disk as well,
    // so both are tried; the first failure is the one reported.
    std::optional<PageError> failure;
    for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile}) {
        try {
            writePassPhraseBytes(name, QByteArray());
        } catch (const PageError& error) {
            if (!failure)
                failure = error;
        }
    }
    if (failure)
        throw *failure;
}

void copyNewPassPhraseOverCurrent() {
    writePassPhraseBytes(kCurrentPassPhraseFile, readPassPhraseBytes(kNewPassPhraseFile));
}

TfrmPasswordDlg::TfrmPasswordDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
    setWindowTitle(kCaption);

    const auto makeRow = [this](const char* labelName, const QString& caption, const char* editName,
                                int row) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(QLatin1String(labelName));
        label->resize(kFieldWidth, kLabelHeight);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(editName));
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

    btnOk = new QPushButton(kOkCaption, this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setGeometry(kDialogWidth - kMargin - 2 * kButtonWidth - kButtonGap, kButtonTop,
                       kButtonWidth, kButtonHeight);
    btnCancel = new QPushButton(kCancelCaption, this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
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

QString TfrmPasswordDlg::ask(QWidget* owner, PassPhraseUse use) {
    TfrmPasswordDlg dialog(owner);
    dialog.setUp(use);
    if (dialog.exec() != QDialog::Accepted)
        throw SilentAbort();
    return dialog.newPassPhrase();
}

void TfrmPasswordDlg::btnOkClick() {
    runGuarded(this, [this] {
        const QString current = edtCurrentPassword->text();
        const QString fresh = edtNewPassword->text();
        const QString verify = edtVerifyNewPassword->text();
        if (CurrentPasswordRequired && edtCurrentPassword->isVisibleTo(this) && current.isEmpty())
            throw PageError(kAllFieldsMessage);
        if (fresh.isEmpty() || verify.isEmpty())
            throw PageError(kAllFieldsMessage);
        if (fresh != verify)
            throw PageError(kMismatchMessage);
        if (fresh.toUcs4().size() < kMinimumLength)
            throw PageError(kTooShortMessage);
        for (const QString& passPhrase : {current, fresh})
            checkToolCanReadAsTyped(passPhrase);
        writePassPhraseFile(kCurrentPassPhraseFile, current);
        writePassPhraseFile(kNewPassPhraseFile, fresh);
        accept();
    });
}
