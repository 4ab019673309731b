#include "uWizardFrame.h"

#include "UserFile.h"
#include "uAccessibility.h"
#include "uInstructionPrinting.h"
#include "uPasswordForm.h"
#include "uWindowsCommon.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kHeading = QStringLiteral("Files made:");
const QString kOpenFolderCaption = QStringLiteral("Open Folder");
const QString kOpenFolderDescription = QStringLiteral("Open the export folder");
const QString kCopyRequestCaption = QStringLiteral("Copy Request");
const QString kCopyRequestDescription =
    QStringLiteral("Copy the certificate request to the clipboard");
const QString kRequestReadFailure = QStringLiteral("Cannot read the request file \"%1\". %2");
const QString kNotPlainFileReason = QStringLiteral("It is not a plain file.");
const QString kTooLargeReason = QStringLiteral("It is larger than %1 bytes.");
const QString kPrintErrorMessage = QStringLiteral("Error Printing text.");
const QString kCreateFolderQuestion =
    QStringLiteral("The specified directory does not exist. Create it?");
const QString kPrintDescription = QStringLiteral("Print these instructions");
// The accessible name of every instruction box.
const QString kInstructionBoxName = QStringLiteral("Instructions");

const QSize kWindowSize(460, 290);
const QSize kButtonSize(75, 25);
const QSize kPrintButtonSize(23, 22);
const int kMargin = 10;
const int kButtonBarHeight = 33;
const QString kOverwriteCaption = QStringLiteral("Confirm");
const QString kPrintErrorCaption = QStringLiteral("Error");
const QString kFolderChooserCaption = QStringLiteral("Select a folder");
const QString kBrowseCaption = QStringLiteral("...");
const QString kFolderNotCreatedMessage = QStringLiteral("Cannot create the folder \"%1\"");

// A 16 by 16 printer drawn in code, so that the program carries no picture file for it.
QIcon printerIcon() {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setPen(QColor(40, 40, 40));
    painter.setBrush(Qt::white);
    painter.drawRect(4, 1, 8, 5); // paper going in
    painter.setBrush(QColor(150, 150, 160));
    painter.drawRect(1, 6, 14, 6); // body
    painter.setBrush(Qt::white);
    painter.drawRect(4, 10, 8, 5); // printed page
    painter.setPen(QColor(40, 160, 40));
    painter.drawPoint(13, 8); // power light
    return QIcon(picture);
}

// Enables a file dialog's confirm button again whenever Qt greys it out while the typed name is
// usable. Qt judges the name on every change of the text, and again on other occasions (the
// folder's contents arriving, a change of selection), so both the text and the button are
// watched.
class ConfirmButtonKeeper : public QObject {
  public:
    ConfirmButtonKeeper(QFileDialog* dialog, std::function<bool()> usable)
        : QObject(dialog), usable(std::move(usable)) {
        auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        confirm = buttons->button(dialog->acceptMode() == QFileDialog::AcceptOpen
                                      ? QDialogButtonBox::Open
                                      : QDialogButtonBox::Save);
        confirm->installEventFilter(this);
        // Connected after the dialog's own handler, so it runs after Qt has judged the text.
        connect(dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")),
                &QLineEdit::textChanged, this, &ConfirmButtonKeeper::enableWhenUsable);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange)
            enableWhenUsable();
        return false;
    }

  private:
    std::function<bool()> usable;
    QPushButton* confirm;

    void enableWhenUsable() {
        if (!confirm->isEnabled() && usable())
            confirm->setEnabled(true);
    }
};

// The folder dialog: asks before accepting a typed folder that does not exist yet.
class FolderChooserDialog : public QFileDialog {
  public:
    FolderChooserDialog(QWidget* parent, const QString& start)
        : QFileDialog(parent, kFolderChooserCaption, start) {
        named(this, "dlgFolder");
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly);
        setOption(QFileDialog::DontUseNativeDialog);
        // Qt greys out the confirm button for a folder that does not exist, which left only
        // the Enter key to confirm a new folder.
        auto* nameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        keepConfirmButtonUsable(this, [this, nameEdit] {
            return !nameEdit->text().isEmpty() && !QFileInfo::exists(selectedFiles().value(0));
        });
    }

    void accept() override {
        const QString chosen = selectedFiles().value(0);
        if (chosen.isEmpty() || QFileInfo(chosen).isDir()) {
            QFileDialog::accept();
            return;
        }
        if (QMessageBox::question(this, kFolderChooserCaption, kCreateFolderQuestion) ==
            QMessageBox::Yes)
            QDialog::accept();
    }
};

// The content of a plain file of at most `limit` bytes. The name is not followed when it is a
// link, and what is opened is checked, not what the name named a moment before; anything else
// is refused with PageError(failure) for the path and the reason.
QByteArray readPlainFile(const QString& path, qint64 limit, const QString& failure) {
    UserFile::Failure refused;
    const std::optional<QByteArray> content =
        UserFile::read(path, {.largestBytes = limit, .followLinks = false}, &refused);
    if (content)
        return *content;
    switch (refused.refusal) {
    case UserFile::Refusal::NotRegular:
        throw PageError(failure.arg(path, kNotPlainFileReason));
    case UserFile::Refusal::TooLarge:
        throw PageError(failure.arg(path, kTooLargeReason.arg(limit)));
    default:
        throw PageError(failure.arg(path, qt_error_string(refused.error)));
    }
}

} // namespace

TMadeFilesPanel::TMadeFilesPanel() {
    named(this, "pnlMadeFiles");
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Without a name of its own, the label is read out as it shows: the heading and the paths.
    lblMadeFiles = named(new QLabel, "lblMadeFiles");
    lblMadeFiles->setWordWrap(true);
    lblMadeFiles->setTextFormat(Qt::PlainText);
    lblMadeFiles->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    btnOpenFolder = named(new QPushButton(kOpenFolderCaption), "btnOpenFolder");
    describeButton(btnOpenFolder, kOpenFolderDescription);
    btnCopyRequest = named(new QPushButton(kCopyRequestCaption), "btnCopyRequest");
    describeButton(btnCopyRequest, kCopyRequestDescription);
    btnCopyRequest->hide();
    for (QPushButton* button : {btnOpenFolder, btnCopyRequest}) {
        button->setFixedHeight(kButtonSize.height());
        button->setMinimumWidth(kButtonSize.width());
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(lblMadeFiles);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOpenFolder);
    buttons->addWidget(btnCopyRequest);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(btnOpenFolder, &QPushButton::clicked, this, &TMadeFilesPanel::btnOpenFolderClick);
    connect(btnCopyRequest, &QPushButton::clicked, this, &TMadeFilesPanel::btnCopyRequestClick);
}

void TMadeFilesPanel::showMadeFiles(const ToolSteps::MadeFiles& made) {
    shown = made;
    QStringList lines{kHeading};
    for (const QString& path : made.paths)
        if (FileIsPresent(path))
            lines << QDir::toNativeSeparators(path);
    lblMadeFiles->setText(lines.join(QLatin1Char('\n')));
    btnCopyRequest->setVisible(!made.request.isEmpty());
}

void TMadeFilesPanel::btnOpenFolderClick() {
    runGuarded(this, [this] { openWithShell(QUrl::fromLocalFile(shown.folder)); });
}

void TMadeFilesPanel::btnCopyRequestClick() {
    runGuarded(this, [this] {
        const QByteArray request =
            readPlainFile(shown.request, kLargestRequest, kRequestReadFailure);
        QGuiApplication::clipboard()->setText(QString::fromUtf8(request));
    });
}

void keepConfirmButtonUsable(QFileDialog* dialog, std::function<bool()> usable) {
    new ConfirmButtonKeeper(dialog, std::move(usable));
}

QString chooseFolderFrom(QWidget* parent, const QString& startFolder) {
    FolderChooserDialog dialog(parent, startFolder);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QString chosen = QDir::cleanPath(dialog.selectedFiles().value(0));
    if (chosen.isEmpty())
        return QString();
    if (!QDir().mkpath(chosen))
        throw PageError(kFolderNotCreatedMessage.arg(chosen));
    return withTrailingSeparator(chosen);
}

TWizardFrame::TWizardFrame(QWidget* owner, const WizardLook& look)
    : QDialog(owner), backCaption(look.backCaption), dlgPrintPrinter(new QPrinter) {
    setWindowTitle(look.caption);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(QFont(QStringLiteral("Arial"), 9));
    // Opens at this size; dragging the border makes room for the long instructions.
    setMinimumSize(kWindowSize);
    resize(kWindowSize);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, 0);
    layout->setSpacing(0);
    pcWizard = named(new QStackedWidget(this), "pcWizard");
    layout->addWidget(pcWizard);

    auto* bar = new QWidget(this);
    bar->setFixedHeight(kButtonBarHeight);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 0, 0, 0);
    if (look.printable) {
        sbPrint = named(new QToolButton(bar), "sbPrint");
        sbPrint->setAutoRaise(true);
        sbPrint->setFixedSize(kPrintButtonSize);
        sbPrint->setIcon(printerIcon());
        sbPrint->setIconSize(QSize(16, 16));
        sbPrint->setFocusPolicy(Qt::NoFocus);
        describeButton(sbPrint, kPrintDescription);
        sbPrint->hide();
        barLayout->addWidget(sbPrint);
        connect(sbPrint, &QToolButton::clicked, this, &TWizardFrame::sbPrintClick);
        // The keyboard's way to the print button, which takes no focus.
        connect(new QShortcut(QKeySequence::Print, this), &QShortcut::activated, sbPrint, [this] {
            if (sbPrint->isVisible())
                sbPrint->click();
        });
    }
    barLayout->addStretch();
    btnPrevious = named(new QPushButton(kCancelCaption, bar), "btnPrevious");
    btnPrevious->setFixedSize(kButtonSize);
    btnNext = named(new QPushButton(look.nextCaption, bar), "btnNext");
    btnNext->setFixedSize(kButtonSize);
    btnNext->setDefault(true);
    barLayout->addWidget(btnPrevious);
    barLayout->addWidget(btnNext);
    layout->addWidget(bar);
    connect(btnPrevious, &QPushButton::clicked, this, &TWizardFrame::btnPreviousClick);
    connect(btnNext, &QPushButton::clicked, this, &TWizardFrame::btnNextClick);
}

TWizardFrame::~TWizardFrame() {
    delete dlgPrintPrinter;
}

int TWizardFrame::currentPage() const {
    return pcWizard->currentIndex();
}

QVBoxLayout* TWizardFrame::addPage(int index, const char* name, WizardPage entry) {
    if (index != pcWizard->count())
        qFatal("The page %s is added as page %d, not as page %d", name, int(pcWizard->count()),
               index);
    auto* page = named(new QWidget(pcWizard), name);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    pcWizard->addWidget(page);
    navigation.append(std::move(entry));
    if (index == 0)
        showPage(0);
    return layout;
}

void TWizardFrame::showPage(int index) {
    pcWizard->setCurrentIndex(index);
    if (sbPrint)
        sbPrint->setVisible(navigation.value(index).printBox != nullptr);
}

QTextEdit* TWizardFrame::makeInstructionBox(const char* name, const QStringList& lines) {
    auto* box = named(new QTextEdit, name);
    box->setAcceptRichText(false);
    box->setReadOnly(true);
    box->setFrameShape(QFrame::NoFrame);
    box->setLineWrapMode(QTextEdit::WidgetWidth);
    box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->viewport()->setAutoFillBackground(false);
    box->setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
    box->setPlainText(lines.join(QLatin1Char('\n')));
    box->setAccessibleName(kInstructionBoxName);
    // The box takes whatever room a larger window gives its page.
    QSizePolicy grows(QSizePolicy::Expanding, QSizePolicy::Expanding);
    grows.setVerticalStretch(1);
    box->setSizePolicy(grows);
    return box;
}

void TWizardFrame::addMadeFilesPanel(QVBoxLayout* page) {
    madeFiles = new TMadeFilesPanel;
    page->addWidget(madeFiles);
}

QLabel* TWizardFrame::makeLabel(const char* name, const QString& caption, bool wordWrap) {
    auto* label = named(new QLabel(caption), name);
    label->setWordWrap(wordWrap);
    return label;
}

QLabel* TWizardFrame::makeLabel(const char* name, const QString& caption,
                                std::initializer_list<QWidget*> describes) {
    QLabel* label = makeLabel(name, caption);
    nameAfterLabel(label, describes);
    return label;
}

TWizardFrame::BrowseField TWizardFrame::makeBrowseField(QLabel* label, const char* editName,
                                                        const char* buttonName,
                                                        const QString& buttonDescription) {
    auto* row = new QHBoxLayout;
    auto* field = named(new QLineEdit, editName);
    auto* button = named(new QPushButton(kBrowseCaption), buttonName);
    nameAfterLabel(label, {field});
    describeButton(button, buttonDescription);
    QFont bold(QStringLiteral("Arial"));
    bold.setPixelSize(16);
    bold.setBold(true);
    button->setFont(bold);
    button->setFixedSize(25, 22);
    row->addWidget(field);
    row->addWidget(button);
    return {field, button, row};
}

void TWizardFrame::addBrowseField(QVBoxLayout* layout, QLabel* label, const BrowseField& field) {
    layout->addWidget(label);
    layout->addLayout(field.row);
}

void TWizardFrame::chooseFolder(QLineEdit* field, const QString& defaultStart) {
    const QString start = field->text().isEmpty() ? defaultStart : field->text();
    const QString chosen = chooseFolderFrom(this, start);
    if (!chosen.isEmpty())
        field->setText(chosen);
}

PassPhrases TWizardFrame::askPassPhrases(PassPhraseUse use) {
    return TfrmPasswordDlg::ask(this, use);
}

bool TWizardFrame::mayReplace(const QString& question, bool keepIsDefault) {
    return QMessageBox::question(
               this, kOverwriteCaption, question, QMessageBox::Yes | QMessageBox::No,
               keepIsDefault ? QMessageBox::No : QMessageBox::Yes) != QMessageBox::No;
}

void TWizardFrame::tell(const QString& notice) {
    QMessageBox::information(this, windowTitle(), notice);
}

void TWizardFrame::resetCaptions() {
    btnPrevious->setText(backCaption);
    btnNext->setText(kNextCaption);
}

void TWizardFrame::btnNextClick() {
    runGuarded(this, [this] {
        resetCaptions();
        const int target = navigation.at(currentPage()).next();
        if (target == kCloseWizard) {
            accept();
            return;
        }
        arriveAt(target);
    });
}

void TWizardFrame::arriveAt(int index) {
    showPage(index);
    const WizardPage& arrived = navigation.at(index);
    if (arrived.focus)
        arrived.focus->setFocus();
    if (arrived.finished)
        btnNext->setText(kFinishCaption);
}

void TWizardFrame::btnPreviousClick() {
    runGuarded(this, [this] {
        resetCaptions();
        const int target = navigation.at(currentPage()).previous;
        if (target == kCloseWizard) {
            accept();
            return;
        }
        showPage(target);
        if (target == 0)
            btnPrevious->setText(kCancelCaption);
    });
}

void TWizardFrame::sbPrintClick() {
    runGuarded(this, [this] {
        QPrintDialog dlgPrint(dlgPrintPrinter, this);
        named(&dlgPrint, "dlgPrint");
        if (dlgPrint.exec() != QDialog::Accepted)
            return;
        QTextEdit* box = navigation.value(currentPage()).printBox;
        if (!box)
            return;
        if (!printLines(dlgPrintPrinter, visualLines(box)))
            QMessageBox::critical(this, kPrintErrorCaption, kPrintErrorMessage);
    });
}

void TWizardFrame::keyPressEvent(QKeyEvent* event) {
    // Escape belongs to btnPrevious alone: a guide that hides it ends only by Finish or the
    // close box.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (btnPrevious->isVisible())
            btnPrevious->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
