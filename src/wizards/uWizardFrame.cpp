#include "uWizardFrame.h"

#include "uCertwrightCommon.h"
#include "uInstructionPrinting.h"
#include "uOpenSSLCommands.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>

namespace {

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

// What the tool writes when a run fails for a reason that a user can put right, most telling
// first: a wrong pass phrase also makes the key unreadable.
struct KnownFailure {
    QStringList signs;
    QString explanation;
};

const KnownFailure kKnownFailures[] = {
    {{QStringLiteral("key values mismatch")}, TWizardFrame::kKeyMismatchExplanation},
    {{QStringLiteral("Mac verify error"), QStringLiteral("bad decrypt"),
      QStringLiteral("maybe wrong password")},
     TWizardFrame::kWrongPassPhraseExplanation},
    {{QStringLiteral("Type=PKCS12"), QStringLiteral("asn1_d2i_read_bio"),
      QStringLiteral("ASN1_get_object")},
     TWizardFrame::kNotPkcs12Explanation},
    {{QStringLiteral("Could not read private key"), QStringLiteral("unable to load private key"),
      QStringLiteral("DECODER routines")},
     TWizardFrame::kNotPrivateKeyExplanation},
    {{QStringLiteral("Could not read any certificates"),
      QStringLiteral("unable to load certificate")},
     TWizardFrame::kNotCertificateExplanation},
};

QString nounOf(OutputKind kind) {
    switch (kind) {
    case OutputKind::Key:
        return TWizardFrame::kKeyNoun;
    case OutputKind::Request:
        return TWizardFrame::kRequestNoun;
    case OutputKind::Certificate:
        return TWizardFrame::kCertificateNoun;
    case OutputKind::Bundle:
        break;
    }
    return TWizardFrame::kBundleNoun;
}

// How the run ended, when that alone says why it failed.
QString endingOf(const OpenSSLCommands::ToolRun& run, OutputKind kind) {
    switch (run.end) {
    case RunEnd::TimeLimit:
        return TWizardFrame::kTimeLimitExplanation.arg(TExternalApp::kTimeLimitMs / 1000);
    case RunEnd::Signalled:
        return TWizardFrame::kSignalExplanation.arg(
            QString::fromLocal8Bit(::strsignal(run.endSignal)));
    case RunEnd::Exited:
        if (run.exitCode != 0)
            return TWizardFrame::kExitStatusExplanation.arg(run.exitCode);
        return TWizardFrame::kIncompleteOutputExplanation.arg(nounOf(kind));
    case RunEnd::NotStarted:
    case RunEnd::Stopped:
        break;
    }
    return QString();
}

QString explanationOf(const OpenSSLCommands::ToolRun& run, OutputKind kind) {
    if (!run.startError.isEmpty())
        return TWizardFrame::kToolNotStartedExplanation;
    const QString output = QString::fromLocal8Bit(run.output);
    for (const KnownFailure& failure : kKnownFailures)
        for (const QString& sign : failure.signs)
            if (output.contains(sign, Qt::CaseInsensitive))
                return failure.explanation;
    return endingOf(run, kind);
}

// The tool lacks an algorithm: in a PKCS#12 file, one that only its legacy provider has.
bool saysAlgorithmUnsupported(const OpenSSLCommands::ToolRun& run) {
    for (const QByteArray& line : run.output.split('\n'))
        if (line.contains("digital envelope routines") && line.contains(":unsupported:"))
            return true;
    return false;
}

bool madeItsOutput(const OpenSSLCommands::ToolRun& run, const QString& outputPath,
                   OutputKind kind) {
    return run.end == RunEnd::Exited && run.exitCode == 0 && outputIsComplete(outputPath, kind);
}

void removeFailedOutput(const QString& outputPath) {
    if (FileIsPresent(outputPath))
        QFile::remove(outputPath);
}

// The pass phrases travel in files, so neither the command line nor the output holds one.
QString detailsOf(const OpenSSLCommands::ToolRun& run) {
    QString said;
    if (!run.startError.isEmpty())
        said = TWizardFrame::kToolNotStartedDetails.arg(run.startError);
    else
        said = TWizardFrame::kToolOutputDetails.arg(
            run.output.isEmpty() ? TWizardFrame::kNoToolOutput
                                 : QString::fromLocal8Bit(run.output).trimmed());
    return TWizardFrame::kRunDetails.arg(run.program, run.commandLine, said);
}

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

// The folder dialog: asks before accepting a typed folder that does not exist yet.
class FolderChooserDialog : public QFileDialog {
  public:
    FolderChooserDialog(QWidget* parent, const QString& start)
        : QFileDialog(parent, kFolderChooserCaption, start) {
        setObjectName(QStringLiteral("dlgFolder"));
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly);
        setOption(QFileDialog::DontUseNativeDialog);
    }

    void accept() override {
        const QString chosen = selectedFiles().value(0);
        if (chosen.isEmpty() || QFileInfo(chosen).isDir()) {
            QFileDialog::accept();
            return;
        }
        if (QMessageBox::question(this, kFolderChooserCaption,
                                  TWizardFrame::kCreateFolderQuestion) == QMessageBox::Yes)
            QDialog::accept();
    }
};

} // namespace

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
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(QFont(QStringLiteral("Arial"), 9));
    setFixedSize(kWindowSize);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, 0);
    layout->setSpacing(0);
    pcWizard = new QStackedWidget(this);
    pcWizard->setObjectName(QStringLiteral("pcWizard"));
    layout->addWidget(pcWizard);

    auto* bar = new QWidget(this);
    bar->setFixedHeight(kButtonBarHeight);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 0, 0, 0);
    if (look.printable) {
        sbPrint = new QToolButton(bar);
        sbPrint->setObjectName(QStringLiteral("sbPrint"));
        sbPrint->setAutoRaise(true);
        sbPrint->setFixedSize(kPrintButtonSize);
        sbPrint->setIcon(printerIcon());
        sbPrint->setIconSize(QSize(16, 16));
        sbPrint->setFocusPolicy(Qt::NoFocus);
        sbPrint->hide();
        barLayout->addWidget(sbPrint);
        connect(sbPrint, &QToolButton::clicked, this, &TWizardFrame::sbPrintClick);
    }
    barLayout->addStretch();
    btnPrevious = new QPushButton(kCancelCaption, bar);
    btnPrevious->setObjectName(QStringLiteral("btnPrevious"));
    btnPrevious->setFixedSize(kButtonSize);
    btnNext = new QPushButton(look.nextCaption, bar);
    btnNext->setObjectName(QStringLiteral("btnNext"));
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

QVBoxLayout* TWizardFrame::addPage(const char* name) {
    auto* page = new QWidget(pcWizard);
    page->setObjectName(QLatin1String(name));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    pcWizard->addWidget(page);
    return layout;
}

void TWizardFrame::setNavigation(QVector<WizardPage> table) {
    navigation = std::move(table);
    showPage(0);
}

void TWizardFrame::showPage(int index) {
    pcWizard->setCurrentIndex(index);
    if (sbPrint)
        sbPrint->setVisible(navigation.value(index).printBox != nullptr);
}

QTextEdit* TWizardFrame::makeInstructionBox(const char* name, const QStringList& lines) {
    auto* box = new QTextEdit;
    box->setObjectName(QLatin1String(name));
    box->setAcceptRichText(false);
    box->setReadOnly(true);
    box->setFrameShape(QFrame::NoFrame);
    box->setLineWrapMode(QTextEdit::WidgetWidth);
    box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->viewport()->setAutoFillBackground(false);
    box->setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
    box->setPlainText(lines.join(QLatin1Char('\n')));
    return box;
}

QLabel* TWizardFrame::makeLabel(const char* name, const QString& caption, bool wordWrap) {
    auto* label = named(new QLabel(caption), name);
    label->setWordWrap(wordWrap);
    return label;
}

TWizardFrame::BrowseField TWizardFrame::addBrowseField(QVBoxLayout* layout, const char* editName,
                                                       const char* buttonName) {
    auto* row = new QHBoxLayout;
    auto* field = named(new QLineEdit, editName);
    auto* button = named(new QPushButton(kBrowseCaption), buttonName);
    QFont bold(QStringLiteral("Arial"));
    bold.setPixelSize(16);
    bold.setBold(true);
    button->setFont(bold);
    button->setFixedSize(25, 22);
    row->addWidget(field);
    row->addWidget(button);
    layout->addLayout(row);
    return {field, button};
}

void TWizardFrame::chooseFolder(QLineEdit* field, const QString& defaultStart) {
    const QString start = field->text().isEmpty() ? defaultStart : field->text();
    const QString chosen = chooseFolderFrom(this, start);
    if (!chosen.isEmpty())
        field->setText(chosen);
}

bool TWizardFrame::askOverwrite(const QString& question) {
    return QMessageBox::question(this, kOverwriteCaption, question,
                                 QMessageBox::Yes | QMessageBox::No) != QMessageBox::No;
}

void TWizardFrame::runTool(const QString& commandLine, bool followDebugSwitch,
                           const QString& outputPath, OutputKind kind,
                           const QString& failureMessage) {
    runJudged(commandLine, followDebugSwitch, outputPath, kind, failureMessage, false);
}

void TWizardFrame::runToolWithLegacyRetry(const QString& commandLine, bool followDebugSwitch,
                                          const QString& outputPath, OutputKind kind,
                                          const QString& failureMessage) {
    runJudged(commandLine, followDebugSwitch, outputPath, kind, failureMessage, true);
}

void TWizardFrame::runJudged(const QString& commandLine, bool followDebugSwitch,
                             const QString& outputPath, OutputKind kind,
                             const QString& failureMessage, bool legacyRetry) {
    const bool shown = followDebugSwitch && DebugMode;
    OpenSSLCommands::ToolRun run = OpenSSLCommands::runOpenSSLTool(commandLine, shown);
    if (madeItsOutput(run, outputPath, kind))
        return;
    if (legacyRetry && run.end == RunEnd::Exited && saysAlgorithmUnsupported(run)) {
        removeFailedOutput(outputPath);
        run = OpenSSLCommands::runOpenSSLTool(OpenSSLCommands::withLegacyAlgorithms(commandLine),
                                              shown);
        if (madeItsOutput(run, outputPath, kind))
            return;
    }
    removeFailedOutput(outputPath);
    // The program is closing: nothing more is shown.
    if (run.end == RunEnd::Stopped)
        throw SilentAbort();
    throw PageError(failureMessage, explanationOf(run, kind), detailsOf(run));
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
        showPage(target);
        const WizardPage& arrived = navigation.at(target);
        if (arrived.focus)
            arrived.focus->setFocus();
        if (arrived.finished)
            btnNext->setText(kFinishCaption);
    });
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
        dlgPrint.setObjectName(QStringLiteral("dlgPrint"));
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
