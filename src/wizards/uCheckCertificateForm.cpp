#include "uCheckCertificateForm.h"

#include "uAccessibility.h"
#include "uPasswordForm.h"
#include "uToolContext.h"
#include "uWindowsCommon.h"

#include <QButtonGroup>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

using namespace CertificateCheck;

namespace {

const QString kCaption = QStringLiteral("Check a Certificate or a Server");

const QString kServerCaption = QStringLiteral("A server");
const QString kHostCaption = QStringLiteral("Host name:");
const QString kPortCaption = QStringLiteral("Port:");
const QString kConnectCaption = QStringLiteral("Connect to (optional):");
const QString kConnectExample = QStringLiteral("the server's address, such as 192.0.2.10:443");
const QString kFilesCaption = QStringLiteral("Certificate files");
const QString kCertFileCaption = QStringLiteral("Certificate or chain (PEM, DER or PKCS#7):");
const QString kChainFileCaption = QStringLiteral("Separate chain file (optional):");
const QString kKeyFileCaption = QStringLiteral("Key (optional):");
const QString kPfxCaption = QStringLiteral("A .pfx file");
const QString kPfxFileCaption = QStringLiteral(".pfx file:");
const QString kNameCaption = QStringLiteral("Host name it must carry (optional):");
const QString kCaFileCaption = QStringLiteral("Further trusted roots (optional):");

const QString kChooseCertFile = QStringLiteral("Choose the certificate or chain file");
const QString kChooseChainFile = QStringLiteral("Choose the chain file");
const QString kChooseKeyFile = QStringLiteral("Choose the key file");
const QString kChoosePfxFile = QStringLiteral("Choose the .pfx file");
const QString kChooseCaFile = QStringLiteral("Choose the file of further trusted roots");
const QString kSaveChainTitle = QStringLiteral("Save the Complete Chain");

const QStringList kCertificateFilters = {
    QStringLiteral("Certificates (*.pem *.crt *.cer *.der *.p7b *.p7c)"),
    QStringLiteral("All Files (*)")};
const QStringList kKeyFilters = {QStringLiteral("Keys (*.pem *.key)"),
                                 QStringLiteral("All Files (*)")};
const QStringList kPfxFilters = {QStringLiteral("PFX Files (*.pfx *.p12)"),
                                 QStringLiteral("All Files (*)")};
const QStringList kChainFilters = {QStringLiteral("PEM Files (*.pem)"),
                                   QStringLiteral("All Files (*)")};
const QString kChainFileName = QStringLiteral("fullchain.pem");

const QString kKeyPassPhraseCaption = QStringLiteral("Key File Password:");
const QString kPfxPassPhraseCaption = QStringLiteral("PFX File Password:");

const QString kNoHostMessage = QStringLiteral("Please type the host name of the server.");
const QString kServerAddressMessage = QStringLiteral("\"%1\" is not a server address.");
const QString kServerAddressExplanation =
    QStringLiteral("Type the server's host name, such as www.example.com, with \":8443\" when "
                   "its port is not the one beside it, or its address, such as "
                   "https://www.example.com/. A port is a number from 1 to 65535.");
const QString kConnectAddressMessage = QStringLiteral("\"%1\" is not an address to connect to.");
const QString kConnectAddressExplanation = QStringLiteral(
    "Type the address of the server that is to answer for the host name, such as 192.0.2.10 or "
    "192.0.2.10:8443 (without a port, the host's port is used), or leave the field empty to "
    "connect to the host name itself. A port is a number from 1 to 65535.");
const QString kNoCertificateMessage =
    QStringLiteral("Please choose the certificate file, or type its path.");
const QString kNoPfxMessage = QStringLiteral("Please choose the .pfx file, or type its path.");

const QString kCheckingText = QStringLiteral("Checking... Cancel or Escape ends the check.");

const QString kNoProblemVerdict = QStringLiteral("No problem found.");
const QString kOneProblemVerdict = QStringLiteral("1 problem found: see below what to do.");
const QString kProblemsVerdict = QStringLiteral("%1 problems found: see below what to do.");
const QString kChainSavedNotice =
    QStringLiteral("The server certificate and its chain were saved to %1:\n\n%2");

constexpr int kDefaultPort = 443;
constexpr int kLargestPort = 65535;
// The input page holds more rows than the other wizards' pages.
const QSize kWindowSize(600, 430);

// The folder in which a file chooser for a field opens: the field's file's folder, or the
// user's home folder.
QString startFolder(const QLineEdit* field) {
    const QString typed = field->text().trimmed();
    return typed.isEmpty() ? QDir::homePath() : QFileInfo(typed).absolutePath();
}

QString verdict(const CheckReport& report) {
    const qsizetype count = report.problems.size();
    if (count == 0)
        return kNoProblemVerdict;
    return count == 1 ? kOneProblemVerdict : kProblemsVerdict.arg(count);
}

} // namespace

TfrmCheckCertificate::TfrmCheckCertificate(QWidget* owner)
    : TWizardFrame(owner, WizardLook{.caption = kCaption, .printable = true}) {
    resize(kWindowSize);
    addInputPage();
    addReportPage();
    showInputKind();
    edtHost->setFocus();
}

void TfrmCheckCertificate::addInputPage() {
    const auto makeFile = [](QLabel** label, const char* labelName, const QString& caption,
                             const char* editName, const char* buttonName,
                             const QString& description) {
        *label = makeLabel(labelName, caption);
        return makeBrowseField(*label, editName, buttonName, description);
    };
    rbServer = named(new QRadioButton(kServerCaption), "rbServer");
    edtHost = named(new QLineEdit, "edtHost");
    lblHost = makeLabel("lblHost", kHostCaption, {edtHost});
    spnPort = named(new QSpinBox, "spnPort");
    spnPort->setRange(1, kLargestPort);
    spnPort->setValue(kDefaultPort);
    lblPort = makeLabel("lblPort", kPortCaption, {spnPort});
    edtConnect = named(new QLineEdit, "edtConnect");
    edtConnect->setPlaceholderText(kConnectExample);
    lblConnect = makeLabel("lblConnect", kConnectCaption, {edtConnect});
    rbFiles = named(new QRadioButton(kFilesCaption), "rbFiles");
    certFile = makeFile(&lblCertFile, "lblCertFile", kCertFileCaption, "edtCertFile", "btnCertFile",
                        kChooseCertFile);
    chainFile = makeFile(&lblChainFile, "lblChainFile", kChainFileCaption, "edtChainFile",
                         "btnChainFile", kChooseChainFile);
    keyFile = makeFile(&lblKeyFile, "lblKeyFile", kKeyFileCaption, "edtKeyFile", "btnKeyFile",
                       kChooseKeyFile);
    rbPfx = named(new QRadioButton(kPfxCaption), "rbPfx");
    pfxFile = makeFile(&lblPfxFile, "lblPfxFile", kPfxFileCaption, "edtPfxFile", "btnPfxFile",
                       kChoosePfxFile);
    edtName = named(new QLineEdit, "edtName");
    lblName = makeLabel("lblName", kNameCaption, {edtName});
    caFile =
        makeFile(&lblCaFile, "lblCaFile", kCaFileCaption, "edtCaFile", "btnCaFile", kChooseCaFile);
    lblChecking = makeLabel("lblChecking", kCheckingText, true);
    lblChecking->hide();
    rbServer->setChecked(true);

    auto* kinds = new QButtonGroup(this);
    for (QRadioButton* kind : {rbServer, rbFiles, rbPfx}) {
        kinds->addButton(kind);
        connect(kind, &QRadioButton::toggled, this, &TfrmCheckCertificate::showInputKind);
    }
    connect(certFile.button, &QPushButton::clicked, this, [this] {
        runGuarded(this,
                   [this] { chooseFile(certFile.edit, kChooseCertFile, kCertificateFilters); });
    });
    connect(chainFile.button, &QPushButton::clicked, this, [this] {
        runGuarded(this,
                   [this] { chooseFile(chainFile.edit, kChooseChainFile, kCertificateFilters); });
    });
    connect(keyFile.button, &QPushButton::clicked, this, [this] {
        runGuarded(this, [this] { chooseFile(keyFile.edit, kChooseKeyFile, kKeyFilters); });
    });
    connect(pfxFile.button, &QPushButton::clicked, this, [this] {
        runGuarded(this, [this] { chooseFile(pfxFile.edit, kChoosePfxFile, kPfxFilters); });
    });
    connect(caFile.button, &QPushButton::clicked, this, [this] {
        runGuarded(this, [this] { chooseFile(caFile.edit, kChooseCaFile, kCertificateFilters); });
    });

    // One row for each field: the label at the left, the field at the right; the fields of a
    // kind of input stand below its option button.
    auto* grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, 16);
    grid->setColumnStretch(2, 1);
    int row = 0;
    const auto addRow = [grid, &row](QLabel* label, QLayout* field) {
        grid->addWidget(label, row, 1);
        grid->addLayout(field, row++, 2);
    };
    grid->addWidget(rbServer, row++, 0, 1, 3);
    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(edtHost, 1);
    serverRow->addWidget(lblPort);
    serverRow->addWidget(spnPort);
    addRow(lblHost, serverRow);
    auto* connectRow = new QHBoxLayout;
    connectRow->addWidget(edtConnect);
    addRow(lblConnect, connectRow);
    grid->addWidget(rbFiles, row++, 0, 1, 3);
    addRow(lblCertFile, certFile.row);
    addRow(lblChainFile, chainFile.row);
    addRow(lblKeyFile, keyFile.row);
    grid->addWidget(rbPfx, row++, 0, 1, 3);
    addRow(lblPfxFile, pfxFile.row);
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(edtName);
    grid->addWidget(lblName, row, 0, 1, 2);
    grid->addLayout(nameRow, row++, 2);
    grid->addWidget(lblCaFile, row, 0, 1, 2);
    grid->addLayout(caFile.row, row++, 2);

    QVBoxLayout* page = addPage(
        tsInput, "tsInput",
        {.next = [this] { return runCheck(); }, .previous = kCloseWizard, .focus = edtHost});
    page->addLayout(grid);
    page->addWidget(lblChecking);
    page->addStretch();
    setKeyboardOrder({rbServer, rbFiles, rbPfx});
    // After the kinds of input, Tab visits the fields top to bottom; disabled ones are passed.
    QWidget* previous = rbPfx;
    for (QWidget* field : std::initializer_list<QWidget*>{
             edtHost, spnPort, edtConnect, certFile.edit, certFile.button, chainFile.edit,
             chainFile.button, keyFile.edit, keyFile.button, pfxFile.edit, pfxFile.button, edtName,
             caFile.edit, caFile.button}) {
        setTabOrder(previous, field);
        previous = field;
    }
}

void TfrmCheckCertificate::addReportPage() {
    lblVerdict = makeLabel("lblVerdict", QString(), true);
    QFont bold = lblVerdict->font();
    bold.setBold(true);
    lblVerdict->setFont(bold);
    memReport = makeInstructionBox("memReport", {});
    btnSaveChain = named(new QPushButton(kSaveChainCaption), "btnSaveChain");
    connect(btnSaveChain, &QPushButton::clicked, this, &TfrmCheckCertificate::btnSaveChainClick);
    QVBoxLayout* page = addPage(tsReport, "tsReport",
                                {.next = [] { return kCloseWizard; },
                                 .previous = tsInput,
                                 .focus = memReport,
                                 .finished = true,
                                 .printBox = memReport});
    page->addWidget(lblVerdict);
    page->addWidget(memReport);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnSaveChain);
    buttons->addStretch();
    page->addLayout(buttons);
}

void TfrmCheckCertificate::showInputKind() {
    const auto enable = [](bool on, std::initializer_list<QWidget*> widgets) {
        for (QWidget* widget : widgets)
            widget->setEnabled(on);
    };
    enable(rbServer->isChecked(), {lblHost, edtHost, lblPort, spnPort, lblConnect, edtConnect});
    enable(rbFiles->isChecked(),
           {lblCertFile, certFile.edit, certFile.button, lblChainFile, chainFile.edit,
            chainFile.button, lblKeyFile, keyFile.edit, keyFile.button});
    enable(rbPfx->isChecked(), {lblPfxFile, pfxFile.edit, pfxFile.button});
}

void TfrmCheckCertificate::chooseFile(QLineEdit* field, const QString& title,
                                      const QStringList& filters) {
    QFileDialog dialog(this, title, startFolder(field));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        field->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

CheckInput TfrmCheckCertificate::inputFromPage() {
    CheckInput input;
    input.name = edtName->text().trimmed();
    input.caFile = caFile.edit->text().trimmed();
    if (rbServer->isChecked()) {
        // The host may carry its port ("www.example.com:8443") or be a whole address
        // ("https://www.example.com/"); the port field holds the port that it does not name.
        const QString typed = edtHost->text().trimmed();
        if (typed.isEmpty())
            throw PageError(kNoHostMessage);
        const auto address = serverAddress(typed, spnPort->value());
        if (!address)
            throw PageError(kServerAddressMessage.arg(typed), kServerAddressExplanation);
        input.host = address->host;
        input.port = address->port;
        // An address without a port is reached at the host's port.
        const QString connectTyped = edtConnect->text().trimmed();
        if (!connectTyped.isEmpty()) {
            const auto connectTo = serverAddress(connectTyped, address->port);
            if (!connectTo)
                throw PageError(kConnectAddressMessage.arg(connectTyped),
                                kConnectAddressExplanation);
            input.connectAddress = connectTo->text();
        }
        return input;
    }
    if (rbFiles->isChecked()) {
        input.certificateFile = certFile.edit->text().trimmed();
        if (input.certificateFile.isEmpty())
            throw PageError(kNoCertificateMessage);
        if (!chainFile.edit->text().trimmed().isEmpty())
            input.chainFiles << chainFile.edit->text().trimmed();
        input.keyFile = keyFile.edit->text().trimmed();
        if (!input.keyFile.isEmpty())
            input.passPhrase = TfrmPasswordDlg::askCurrent(this, kKeyPassPhraseCaption);
        return input;
    }
    input.pfxFile = pfxFile.edit->text().trimmed();
    if (input.pfxFile.isEmpty())
        throw PageError(kNoPfxMessage);
    input.passPhrase = TfrmPasswordDlg::askCurrent(this, kPfxPassPhraseCaption);
    return input;
}

int TfrmCheckCertificate::runCheck() {
    const CheckInput input = inputFromPage();
    const ToolContext context = desktopToolContext();
    shownReport = CheckReport();
    checkedInput = CheckInput();
    lblVerdict->clear();
    memReport->clear();
    // The check fills `made` on its own thread; the window reads it once the check has ended.
    auto made = std::make_shared<CheckReport>();
    check = std::make_unique<WindowJob>(
        [input, context, made](RunCancel& cancel) {
            CheckInput cancellable = input;
            cancellable.cancel = &cancel;
            *made = checkCertificate(cancellable, context);
        },
        [this, input, made](std::exception_ptr thrown) { checkEnded(input, *made, thrown); });
    showChecking(true);
    return tsInput;
}

void TfrmCheckCertificate::checkEnded(const CheckInput& input, const CheckReport& report,
                                      std::exception_ptr thrown) {
    endCheck();
    if (thrown) {
        runGuarded(this, [&thrown] { std::rethrow_exception(thrown); });
        return;
    }
    shownReport = report;
    checkedInput = input;
    checkedInput.passPhrase.clear();
    lblVerdict->setText(verdict(shownReport));
    memReport->setPlainText(shownReport.toText());
    btnPrevious->setText(kBackCaption);
    arriveAt(tsReport);
}

void TfrmCheckCertificate::endCheck() {
    check.reset();
    showChecking(false);
}

void TfrmCheckCertificate::showChecking(bool running) {
    // The fields keep what was checked while it runs.
    const auto fields =
        pcWizard->widget(tsInput)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* field : fields)
        if (field != lblChecking)
            field->setEnabled(!running);
    if (!running)
        showInputKind();
    lblChecking->setVisible(running);
    btnNext->setEnabled(!running);
    btnPrevious->setText(kCancelCaption);
    if (running) {
        setCursor(Qt::BusyCursor);
        btnPrevious->setFocus();
        return;
    }
    unsetCursor();
    QWidget* first = rbServer->isChecked()  ? edtHost
                     : rbFiles->isChecked() ? certFile.edit
                                            : pfxFile.edit;
    first->setFocus();
}

void TfrmCheckCertificate::btnPreviousClick() {
    if (check)
        endCheck();
    else
        TWizardFrame::btnPreviousClick();
}

void TfrmCheckCertificate::reject() {
    check.reset();
    TWizardFrame::reject();
}

void TfrmCheckCertificate::btnSaveChainClick() {
    runGuarded(this, [this] {
        const QString start = checkedInput.certificateFile.isEmpty()
                                  ? QDir::homePath()
                                  : QFileInfo(checkedInput.certificateFile).absolutePath();
        QFileDialog dialog(this, kSaveChainTitle, QDir(start).filePath(kChainFileName));
        named(&dialog, "dlgSaveChain");
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters(kChainFilters);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        const QString file = dialog.selectedFiles().constFirst();
        // The dialog has asked before it offers an existing file.
        const CertificateChain written =
            writeCompleteChain(shownReport, file, checkedInput.caFile, desktopToolContext(), true);
        tell(kChainSavedNotice.arg(QDir::toNativeSeparators(file),
                                   chainSummaryLines(written).join(QLatin1Char('\n'))));
    });
}
