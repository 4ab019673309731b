#include "InstallCertificateForm.h"

#include "ServerFiles.h"
#include "uAccessibility.h"
#include "uCertwrightCommon.h"
#include "uFreshFile.h"
#include "uPasswordForm.h"
#include "uViewInstructionsForm.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

const QString kStartText = QStringLiteral(
    "This wizard makes the files that your web servers load from your private key and the "
    "certificate that your certificate authority sent you. The chain is sorted, completed and "
    "verified before any file is written.\n\n"
    "Before continuing, you will need the key of your request and your authority's answer.");
const QString kServersCaption = QStringLiteral("Make the files for these servers:");
const QString kNginxCaption = QStringLiteral("nginx");
const QString kApacheCaption = QStringLiteral("Apache");
const QString kHaproxyCaption = QStringLiteral("HAProxy");
const QString kIisCaption = QStringLiteral("IIS");
const QString kLegacyPfxCaption = QStringLiteral("For Windows Server 2016 and older");
const QString kIndyCaption = QStringLiteral("Indy/IntraWeb");
const QString kEncryptKeyCaption =
    QStringLiteral("Protect the key of nginx and Apache with a pass phrase");
const QString kKeyPassPhraseCaption = QStringLiteral("Pass phrase of your key:");
const QString kInstructionsCaption = QStringLiteral("Show the installation steps");
const QString kInstructionsDescription =
    QStringLiteral("Open the built-in installation page of each server chosen");
const QString kVerifiedText = QStringLiteral("The chain verified: %1");
const QString kInstructionsTitle = QStringLiteral("Certwright [Installation steps: %1]");
const QString kCloseCaption = QStringLiteral("Close");
const QString kPastedName = QStringLiteral("pasted.pem");

// The built-in installation page of each server, and its name in a title.
struct ServerPage {
    QString server;
    QString title;
    QString resource;
};
const ServerPage kServerPages[] = {
    {ServerFiles::kForNginx, kNginxCaption, QStringLiteral(":/installation/nginx.html")},
    {ServerFiles::kForApache, kApacheCaption, QStringLiteral(":/installation/apache.html")},
    {ServerFiles::kForHaproxy, kHaproxyCaption, QStringLiteral(":/installation/haproxy.html")},
    {ServerFiles::kForIis, kIisCaption, QStringLiteral(":/installation/iis.html")},
    {ServerFiles::kForIndy, kIndyCaption, QStringLiteral(":/installation/indy.html")},
};

QString subjectOf(const QSslCertificate& certificate) {
    const QStringList names = certificate.subjectInfo(QSslCertificate::CommonName);
    return names.isEmpty() ? certificate.subjectDisplayName() : names.first();
}

} // namespace

TfrmInstallCertificate::TfrmInstallCertificate(QWidget* owner)
    : TKeyAndCertificateWizard(owner, WizardLook{.caption = kCaption, .printable = false}) {
    lblStart = makeLabel("lblStart", kStartText, true);
    QVBoxLayout* start = addPage(tsStart, "tsStart",
                                 {.next = [] { return int(tsServers); }, .previous = kCloseWizard});
    start->addWidget(lblStart);
    start->addStretch();

    cbNginx = named(new QCheckBox(kNginxCaption), "cbNginx");
    cbApache = named(new QCheckBox(kApacheCaption), "cbApache");
    cbHaproxy = named(new QCheckBox(kHaproxyCaption), "cbHaproxy");
    cbIis = named(new QCheckBox(kIisCaption), "cbIis");
    cbLegacyPfx = named(new QCheckBox(kLegacyPfxCaption), "cbLegacyPfx");
    cbIndy = named(new QCheckBox(kIndyCaption), "cbIndy");
    cbEncryptKey = named(new QCheckBox(kEncryptKeyCaption), "cbEncryptKey");
    lblServers = makeLabel("lblServers", kServersCaption, true);
    QVBoxLayout* servers = addPage(tsServers, "tsServers",
                                   {.next =
                                        [this] {
                                            leaveServersPage();
                                            return int(tsSelectKey);
                                        },
                                    .previous = tsStart,
                                    .focus = cbNginx});
    servers->addWidget(lblServers);
    for (QCheckBox* box : {cbNginx, cbApache, cbHaproxy, cbIis})
        servers->addWidget(box);
    auto* legacy = new QHBoxLayout;
    legacy->addSpacing(20);
    legacy->addWidget(cbLegacyPfx);
    servers->addLayout(legacy);
    servers->addWidget(cbIndy);
    servers->addSpacing(8);
    servers->addWidget(cbEncryptKey);
    servers->addStretch();
    cbLegacyPfx->setEnabled(false);
    connect(cbIis, &QCheckBox::toggled, cbLegacyPfx, &QWidget::setEnabled);
    setTabOrder(cbNginx, cbApache);
    setTabOrder(cbApache, cbHaproxy);
    setTabOrder(cbHaproxy, cbIis);
    setTabOrder(cbIis, cbLegacyPfx);
    setTabOrder(cbLegacyPfx, cbIndy);
    setTabOrder(cbIndy, cbEncryptKey);

    addKeyPage(tsSelectKey, tsServers);
    addPastePage(tsPasteCert, tsSelectKey, tsFinished);

    lblResult = makeLabel("lblResult", QString(), true);
    lblResult->setTextFormat(Qt::PlainText);
    lblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnInstructions = named(new QPushButton(kInstructionsCaption), "btnInstructions");
    describeButton(btnInstructions, kInstructionsDescription);
    QVBoxLayout* finished =
        addPage(tsFinished, "tsFinished",
                {.next = [] { return kCloseWizard; }, .previous = tsServers, .finished = true});
    finished->addWidget(lblResult);
    finished->addWidget(btnInstructions, 0, Qt::AlignLeft);
    addMadeFilesPanel(finished);
    connect(btnInstructions, &QPushButton::clicked, this,
            &TfrmInstallCertificate::showInstructions);
}

QStringList TfrmInstallCertificate::chosenServers() const {
    QStringList servers;
    const std::pair<QCheckBox*, QString> boxes[] = {{cbNginx, ServerFiles::kForNginx},
                                                    {cbApache, ServerFiles::kForApache},
                                                    {cbHaproxy, ServerFiles::kForHaproxy},
                                                    {cbIis, ServerFiles::kForIis},
                                                    {cbIndy, ServerFiles::kForIndy}};
    for (const auto& [box, server] : boxes)
        if (box->isChecked())
            servers << server;
    return servers;
}

void TfrmInstallCertificate::leaveServersPage() {
    ServerFiles::checkServerChoice(chosenServers(), cbEncryptKey->isChecked());
}

ToolSteps::MadeFiles
TfrmInstallCertificate::convert(const ToolSteps::KeyAndCertificateValues& values) {
    const ToolContext context = desktopToolContext();
    // The check sorts and completes every pasted certificate itself, a root among them that
    // issued none of the others too.
    const ScratchFolder pasted;
    pasted.write(kPastedName, certificateText(memPasteCert->toPlainText()).toUtf8());
    ServerFiles::InstallValues install;
    install.keyFile = values.keyFile;
    install.certificateFile = pasted.file(kPastedName);
    install.servers = chosenServers();
    install.outFolder = values.exportFolder.path();
    install.friendlyName = values.friendlyName;
    install.legacyPfx = cbIis->isChecked() && cbLegacyPfx->isChecked();
    install.encryptKey = cbEncryptKey->isChecked();
    // The key's pass phrase is asked only when the key has one.
    if (ToolSteps::plainKeyPublicPem(install.keyFile, context).isEmpty())
        install.currentPassPhrase = TfrmPasswordDlg::askCurrent(this, kKeyPassPhraseCaption);
    if (ServerFiles::needsNewPassPhrase(
            {install.servers, QString(), QString(), install.legacyPfx, install.encryptKey}))
        install.newPassPhrase = TfrmPasswordDlg::ask(this, PassPhraseUse::ServerFiles).fresh;
    const ServerFiles::InstallResult result = ServerFiles::install(install, *this, context);
    QStringList names{subjectOf(result.chain.server)};
    for (const QSslCertificate& authority : result.chain.authorities)
        names << subjectOf(authority);
    if (!result.chain.root.isNull() && (result.chain.authorities.isEmpty() ||
                                        result.chain.authorities.last() != result.chain.root))
        names << subjectOf(result.chain.root);
    resultLines =
        QStringList{kVerifiedText.arg(names.join(QStringLiteral(" \u2192 ")))} + result.notes;
    if (!result.reloadProblem.isEmpty())
        resultLines << result.reloadProblem;
    return result.made;
}

void TfrmInstallCertificate::showMade(const ToolSteps::MadeFiles& made) {
    TKeyAndCertificateWizard::showMade(made);
    lblResult->setText(resultLines.join(QLatin1Char('\n')));
}

void TfrmInstallCertificate::showInstructions() {
    registerInstallationPages();
    const QStringList servers = chosenServers();
    for (const ServerPage& page : kServerPages) {
        if (!servers.contains(page.server))
            continue;
        QFile resource(page.resource);
        if (!resource.open(QIODevice::ReadOnly))
            continue;
        auto* dialog = new QDialog(this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setObjectName(QStringLiteral("dlgInstructions"));
        dialog->setWindowTitle(kInstructionsTitle.arg(page.title));
        auto* layout = new QVBoxLayout(dialog);
        auto* text = new QTextBrowser;
        text->setObjectName(QStringLiteral("memInstructions"));
        text->setAccessibleName(kInstructionsTitle.arg(page.title));
        text->setHtml(QString::fromUtf8(resource.readAll()));
        layout->addWidget(text);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
        buttons->button(QDialogButtonBox::Close)->setText(kCloseCaption);
        buttons->button(QDialogButtonBox::Close)->setAccessibleName(kCloseCaption);
        connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
        layout->addWidget(buttons);
        dialog->resize(640, 480);
        dialog->show();
    }
}
