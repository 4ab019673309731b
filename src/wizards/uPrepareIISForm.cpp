#include "uPrepareIISForm.h"

#include "uCertwrightCommon.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

const QString kLegacyPfxCaption = QStringLiteral("For Windows Server 2016 and older");

const QString kStartText = QStringLiteral(
    "This wizard will prepare your SSL certificate for use in an IIS server.  If you generated "
    "your Certificate Request with IIS instead of Certwright, there is no need to prepare your "
    "certificate.  You can instead follow the certificate installation instruction wizard.\n\n"
    "Before continuing, you will need your SSL certificate.");

} // namespace

const QStringList TfrmPrepareIIS::kInstallationInstructions = {
    QStringLiteral("Your pfx file has been created."),
    QString(),
    QStringLiteral("Copy the pfx file to your IIS server, then follow these"),
    QStringLiteral("steps on that server machine."),
    QString(),
    QStringLiteral("1.  Click Start, then Run."),
    QStringLiteral("2.  Type MMC.EXE (without quotation marks) and click OK."),
    QStringLiteral("3.  In the new console, click Console, then"),
    QStringLiteral("    Add/Remove Snap-in."),
    QStringLiteral("4.  Click Add."),
    QStringLiteral("5.  Highlight the Certificates snap-in and click Add."),
    QStringLiteral("6.  Choose the Computer option and click Next."),
    QStringLiteral("7.  Select Local Computer and click OK."),
    QStringLiteral("8.  Click Close, then OK."),
    QStringLiteral("9.  The Certificates snap-in now gives you access to the"),
    QStringLiteral("    certificate store of this computer.  You may save the"),
    QStringLiteral("    console to use it again later."),
    QString(),
    QStringLiteral("Next, import the server certificate into the certificate"),
    QStringLiteral("store of the computer:"),
    QStringLiteral("1.  Open the Certificates (Local Computer) snap-in and go"),
    QStringLiteral("    to Personal, then Certificates.  (Certificates is"),
    QStringLiteral("    missing while no certificate is installed yet.)"),
    QStringLiteral("2.  Right-click Certificates, or Personal when"),
    QStringLiteral("    Certificates is missing."),
    QStringLiteral("3.  Choose All Tasks, then Import."),
    QStringLiteral("4.  In the Certificate Import Wizard, click Next, browse"),
    QStringLiteral("    to the PFX file that holds your server certificate"),
    QStringLiteral("    and private key, and click Next."),
    QStringLiteral("5.  Enter the password that you gave the PFX file.  Select"),
    QStringLiteral("    the option that marks the key as exportable only if"),
    QStringLiteral("    the key pair must be exported again from this"),
    QStringLiteral("    computer; leaving it off keeps anyone from backing up"),
    QStringLiteral("    the private key."),
    QStringLiteral("6.  Click Next and choose the Personal store, as this is"),
    QStringLiteral("    a web server certificate.  (The certificates of the"),
    QStringLiteral("    certification hierarchy go to the same store.)"),
    QStringLiteral("7.  Click Next, check the summary and click Finish."),
    QStringLiteral("8.  The server certificate now shows in the list of"),
    QStringLiteral("    Personal certificates under the common name of your"),
    QStringLiteral("    server."),
    QString(),
    QStringLiteral("Finally, let Internet Information Services 5.0 use that"),
    QStringLiteral("certificate and its private key:"),
    QStringLiteral("1.  Open the Internet Services Manager under"),
    QStringLiteral("    Administrative Tools and go to the web site that is"),
    QStringLiteral("    to use secure communications (SSL/TLS)."),
    QStringLiteral("2.  Right-click the site and click Properties."),
    QStringLiteral("3.  Click the Directory Security tab."),
    QStringLiteral("4.  Under Secure Communications, click Server"),
    QStringLiteral("    Certificate."),
    QStringLiteral("5.  The Web Site Certificate Wizard starts; click Next."),
    QStringLiteral("6.  Choose Assign an existing certificate and click Next."),
    QStringLiteral("7.  Highlight your web server certificate (shown by its"),
    QStringLiteral("    common name) in the personal store and click Next."),
    QStringLiteral("8.  Check the summary of the certificate's details with"),
    QStringLiteral("    care: wrong details cause trouble with SSL or TLS."),
    QStringLiteral("9.  Click Next, then OK to leave the wizard."),
};

TfrmPrepareIIS::TfrmPrepareIIS(QWidget* owner)
    : TKeyAndCertificateWizard(owner, WizardLook{.caption = kCaption, .printable = true}) {
    Label1 = makeLabel("Label1", kStartText, true);
    QVBoxLayout* start = addPage(
        tsStart, "tsStart", {.next = [] { return int(tsSelectKey); }, .previous = kCloseWizard});
    start->addWidget(Label1);
    start->addStretch();

    addKeyPage(tsSelectKey, tsStart);
    addLegacyPfxChoice();
    addPastePage(tsPasteCert, tsSelectKey, tsFinished);

    memRootInstructions = makeInstructionBox("memRootInstructions", kInstallationInstructions);
    QVBoxLayout* finished = addPage(tsFinished, "tsFinished",
                                    {.next = [] { return kCloseWizard; },
                                     .previous = tsSelectKey,
                                     .finished = true,
                                     .printBox = memRootInstructions});
    finished->addWidget(memRootInstructions);
    addMadeFilesPanel(finished);
}

void TfrmPrepareIIS::addLegacyPfxChoice() {
    cbLegacyPfx = named(new QCheckBox(kLegacyPfxCaption), "cbLegacyPfx");
    // Below the key page's fields, above the stretch that closes the page.
    auto* keyPage = qobject_cast<QVBoxLayout*>(pcWizard->widget(tsSelectKey)->layout());
    keyPage->insertWidget(keyPage->count() - 1, cbLegacyPfx);
    setTabOrder(edtCommonName, cbLegacyPfx);
}

ToolSteps::KeyAndCertificateValues
TfrmPrepareIIS::protectedAsChosen(ToolSteps::KeyAndCertificateValues values) const {
    values.protection = cbLegacyPfx->isChecked() ? OpenSSLCommands::PfxProtection::OlderWindows
                                                 : OpenSSLCommands::PfxProtection::Current;
    return values;
}

ToolSteps::MadeFiles TfrmPrepareIIS::convert(const ToolSteps::KeyAndCertificateValues& values) {
    return ToolSteps::createPfx(protectedAsChosen(values), *this, desktopToolContext());
}

ToolSteps::MadeFiles TfrmPrepareIIS::CreatePfx(const QString& friendlyName, const QString& keyFile,
                                               const QString& certificateFile,
                                               const CheckedFolder& exportFolder) {
    return convert({friendlyName, keyFile, certificateFile, exportFolder});
}
