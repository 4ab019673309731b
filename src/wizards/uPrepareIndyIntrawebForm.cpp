#include "uPrepareIndyIntrawebForm.h"

#include "uAccessibility.h"
#include "uWindowsCommon.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kPFXPageMessage =
    QStringLiteral("Please make sure that both a PFX file and an output path are selected "
                   "before continuing.");
const OpenFileSetup kSelectPFXSetup{
    "dlgPFX",
    QStringLiteral("Select a Pfx File"),
    {QStringLiteral("PFX Files (*.pfx)"), TKeyAndCertificateWizard::kAllFilesFilter},
    QStringLiteral("pfx")};

const QString kStartText = QStringLiteral(
    "This wizard will prepare your SSL certificate for use in an Indy or IntraWeb based "
    "server.  Before you begin, you must have a signed certificate.  You should have either "
    "received this certificate from a Certificate Authority such as Verisign, or signed a "
    "certificate yourself\n\nBefore continuing, you will need this SSL certificate.");
const QString kKeyTypeQuestion = QStringLiteral("How did you generate your certificate request?");
const QString kGenCertwrightCaption = QStringLiteral("With Certwright");
const QString kGenIISCaption = QStringLiteral("With IIS");
const QString kGenOpenSSLCaption = QStringLiteral("With OpenSSL");
const QString kNeedPFXQuestion =
    QStringLiteral("Have you already exported the PSX file from your IIS server?");
const QString kYesCaption = QStringLiteral("Yes");
const QString kNoCaption = QStringLiteral("No");
const QString kSelectPFXCaption = QStringLiteral("Please select the PFX file exported from IIS:");
const QString kChoosePFXFile = QStringLiteral("Choose the PFX file");
const QString kCertwrightKeyCaption = QStringLiteral("Please select your Certwright Key file:");

} // namespace

const QStringList TfrmPrepareIndyIntraweb::kPFXInstructions = {
    QStringLiteral("Before continuing, you must export a PFX file from your "),
    QStringLiteral("IIS server.  "),
    QString(),
    QStringLiteral("1. Run mmc.exe"),
    QStringLiteral("2. Click the 'Console' menu and then click 'Add / "),
    QStringLiteral("Remove Snap-in'."),
    QStringLiteral("3. Click the 'Add' button and then choose the "),
    QStringLiteral("'certificates' snap-in and click on 'Add'."),
    QStringLiteral("4. Select 'Computer Account' then click 'Next'."),
    QStringLiteral("5. Select 'Local Computer' and then click 'OK'."),
    QStringLiteral("6. Click 'Close' and then click 'OK'."),
    QStringLiteral("7. Expand the menu for 'Certificates' and click on the "),
    QStringLiteral("'Personal' folder."),
    QStringLiteral("8. Right click on the certificate that you want to export "),
    QStringLiteral("and select 'All tasks' -> 'Export'."),
    QStringLiteral("9. A wizard will appear. Make sure you check the box to "),
    QStringLiteral("include the private key and continue through with this "),
    QStringLiteral("wizard until you have a .PFX file."),
};

const QStringList TfrmPrepareIndyIntraweb::kRootInstructions = {
    QStringLiteral("Your cert.pem and key.pem files have been extracted.  "),
    QString(),
    QStringLiteral("To create a root.pem file, please follow these "),
    QStringLiteral("instructions."),
    QString(),
    QStringLiteral("1.Open Internet Options from Control Panel"),
    QStringLiteral("2.Select the Content tab."),
    QStringLiteral("3.Press Certificates button"),
    QStringLiteral("4.Select Trusted Root Certification Authorities tab."),
    QStringLiteral("5.Select the issuing authority from the list.  If it does not "),
    QStringLiteral("exist, you must install that first."),
    QStringLiteral("6.Press the Export Button."),
    QStringLiteral("7.Select the Base 64 format."),
    QStringLiteral("8.Save the file to \"root.pem\""),
};

const QStringList TfrmPrepareIndyIntraweb::kRootWrittenInstructions = {
    QStringLiteral("Your cert.pem, key.pem and root.pem files have been "),
    QStringLiteral("written."),
    QString(),
    QStringLiteral("root.pem holds the certificates of the authorities that "),
    QStringLiteral("issued your certificate, in order, from the one that "),
    QStringLiteral("signed it.  Give it to your server as its root "),
    QStringLiteral("certificate file (RootCertFile), together with cert.pem "),
    QStringLiteral("and key.pem; no root certificate needs to be exported "),
    QStringLiteral("by hand."),
};

TfrmPrepareIndyIntraweb::TfrmPrepareIndyIntraweb(QWidget* owner)
    : TKeyAndCertificateWizard(owner, WizardLook{.caption = kCaption, .printable = true}) {
    addStartPages();
    addPFXPages();
    addKeyPage(tsSelectKey, tsPrivateKeyType);
    addPastePage(tsPasteCert, tsSelectKey, tsFinished);
    memRootInstructions = makeInstructionBox("memRootInstructions", kRootInstructions);
    QVBoxLayout* finished = addPage(tsFinished, "tsFinished",
                                    {.next = [] { return kCloseWizard; },
                                     .previous = tsPrivateKeyType,
                                     .finished = true,
                                     .printBox = memRootInstructions});
    finished->addWidget(memRootInstructions);
    addMadeFilesPanel(finished);
}

void TfrmPrepareIndyIntraweb::addStartPages() {
    Label1 = makeLabel("Label1", kStartText, true);
    QVBoxLayout* start =
        addPage(tsStart, "tsStart",
                {.next = [] { return int(tsPrivateKeyType); }, .previous = kCloseWizard});
    start->addWidget(Label1);
    start->addStretch();

    Label2 = makeLabel("Label2", kKeyTypeQuestion);
    rbGenCertwright = named(new QRadioButton(kGenCertwrightCaption), "rbGenCertwright");
    rbGenIIS = named(new QRadioButton(kGenIISCaption), "rbGenIIS");
    rbGenOpenSSL = named(new QRadioButton(kGenOpenSSLCaption), "rbGenOpenSSL");
    rbGenCertwright->setChecked(true);
    QVBoxLayout* keyType = addPage(tsPrivateKeyType, "tsPrivateKeyType",
                                   {.next = [this] { return leaveKeySourcePage(); },
                                    .previous = tsStart,
                                    .focus = rbGenCertwright});
    for (QWidget* widget :
         std::initializer_list<QWidget*>{Label2, rbGenCertwright, rbGenIIS, rbGenOpenSSL})
        keyType->addWidget(widget);
    keyType->addStretch();
    setKeyboardOrder({rbGenCertwright, rbGenIIS, rbGenOpenSSL});

    Label3 = makeLabel("Label3", kNeedPFXQuestion, true);
    rbPFXyes = named(new QRadioButton(kYesCaption), "rbPFXyes");
    rbPFXno = named(new QRadioButton(kNoCaption), "rbPFXno");
    rbPFXno->setChecked(true);
    QVBoxLayout* needPFX = addPage(
        tsNeedPSX, "tsNeedPSX",
        {.next = [this] { return int(rbPFXno->isChecked() ? tsPFXInstructions : tsSelectPFX); },
         .previous = tsPrivateKeyType,
         .focus = rbPFXyes});
    for (QWidget* widget : std::initializer_list<QWidget*>{Label3, rbPFXyes, rbPFXno})
        needPFX->addWidget(widget);
    needPFX->addStretch();
    setKeyboardOrder({rbPFXyes, rbPFXno});
}

void TfrmPrepareIndyIntraweb::addPFXPages() {
    memPFXInstructions = makeInstructionBox("memPFXInstructions", kPFXInstructions);
    addPage(tsPFXInstructions, "tsPFXInstructions",
            {.next = [] { return int(tsSelectPFX); },
             .previous = tsNeedPSX,
             .printBox = memPFXInstructions})
        ->addWidget(memPFXInstructions);

    Label4 = makeLabel("Label4", kSelectPFXCaption);
    const BrowseField pfxFile =
        makeBrowseField(Label4, "edtPFXFile", "btnSelectPFX", kChoosePFXFile);
    edtPFXFile = pfxFile.edit;
    btnSelectPFX = pfxFile.button;
    Label5 = makeLabel("Label5", kExportPathCaption);
    const BrowseField pfxExport =
        makeBrowseField(Label5, "edtPFXExport", "btnPFXExport", kChooseExportFolder);
    edtPFXExport = pfxExport.edit;
    btnPFXExport = pfxExport.button;
    QVBoxLayout* selectPFX = addPage(tsSelectPFX, "tsSelectPFX",
                                     {.next =
                                          [this] {
                                              showMade(leavePFXPage());
                                              return int(tsFinished);
                                          },
                                      .previous = tsNeedPSX,
                                      .focus = edtPFXFile});
    addBrowseField(selectPFX, Label4, pfxFile);
    addBrowseField(selectPFX, Label5, pfxExport);
    selectPFX->addStretch();

    setTabOrder(edtPFXFile, btnSelectPFX);
    setTabOrder(btnSelectPFX, edtPFXExport);
    setTabOrder(edtPFXExport, btnPFXExport);
    connect(btnSelectPFX, &QPushButton::clicked, this, &TfrmPrepareIndyIntraweb::btnSelectPFXClick);
    connect(btnPFXExport, &QPushButton::clicked, this, &TfrmPrepareIndyIntraweb::btnPFXExportClick);
}

void TfrmPrepareIndyIntraweb::btnSelectPFXClick() {
    runGuarded(this, [this] { chooseFileInto(kSelectPFXSetup, edtPFXFile, edtPFXExport); });
}

void TfrmPrepareIndyIntraweb::btnPFXExportClick() {
    runGuarded(this, [this] { chooseFolder(edtPFXExport, folderOfFile(edtPFXFile->text())); });
}

int TfrmPrepareIndyIntraweb::leaveKeySourcePage() {
    if (rbGenCertwright->isChecked()) {
        lblSelectKeyFile->setText(kCertwrightKeyCaption);
        source = KeySource::Certwright;
    } else if (rbGenIIS->isChecked()) {
        source = KeySource::IIS;
    } else {
        lblSelectKeyFile->setText(kOpenSSLKeyCaption);
        source = KeySource::OpenSSL;
    }
    return source == KeySource::IIS ? tsNeedPSX : tsSelectKey;
}

ToolSteps::MadeFiles TfrmPrepareIndyIntraweb::leavePFXPage() {
    const QString pfxFile = edtPFXFile->text();
    const QString exportPath = edtPFXExport->text();
    const bool complete = !pfxFile.isEmpty() && FileIsPresent(pfxFile) && !exportPath.isEmpty();
    if (!complete)
        throw PageError(kPFXPageMessage);
    requireExportFolder(exportPath, kPFXPageMessage);
    return ExtractFromPfx(pfxFile, exportPath);
}

ToolSteps::MadeFiles TfrmPrepareIndyIntraweb::ExtractFromPfx(const QString& pfxFile,
                                                             const QString& exportText) {
    return ToolSteps::extractFromPfx({pfxFile, exportText, true}, *this, desktopToolContext());
}

void TfrmPrepareIndyIntraweb::showMade(const ToolSteps::MadeFiles& made) {
    TKeyAndCertificateWizard::showMade(made);
    // A bundle without authority certificates leaves no root.pem behind.
    const bool rootWritten =
        std::any_of(made.paths.begin(), made.paths.end(), [](const QString& path) {
            return QFileInfo(path).fileName() == ToolSteps::kAuthoritiesFileName &&
                   FileIsPresent(path);
        });
    memRootInstructions->setPlainText(
        (rootWritten ? kRootWrittenInstructions : kRootInstructions).join(QLatin1Char('\n')));
}

ToolSteps::MadeFiles
TfrmPrepareIndyIntraweb::convert(const ToolSteps::KeyAndCertificateValues& values) {
    return ToolSteps::convertKeyAndCert(values, *this, desktopToolContext());
}

ToolSteps::MadeFiles TfrmPrepareIndyIntraweb::ConvertKeyAndCert(const QString& friendlyName,
                                                                const QString& keyFile,
                                                                const QString& certificateFile,
                                                                const CheckedFolder& exportFolder) {
    return convert({friendlyName, keyFile, certificateFile, exportFolder});
}
