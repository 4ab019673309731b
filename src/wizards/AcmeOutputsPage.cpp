#include "AcmeOutputsPage.h"

#include "ServerFiles.h"
#include "uAcmeForm.h"
#include "uExportFolder.h"
#include "uKeyAndCertificateWizard.h"
#include "uReloadCommand.h"
#include "uWindowsCommon.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

#include <sys/stat.h>

namespace {

const QString kOutputsCaption = QStringLiteral("Make the files for:");
const QString kNginxCaption =
    QStringLiteral("nginx or Apache (<name>.key and <name>.fullchain.pem)");
const QString kIisCaption = QStringLiteral("IIS (<name>.pfx)");
const QString kLegacyPfxCaption = QStringLiteral("For Windows Server 2016 and older");
const QString kIndyCaption = QStringLiteral("Indy or IntraWeb (key.pem, cert.pem and root.pem)");
const QString kReloadCaption =
    QStringLiteral("Command to run after each new certificate (optional):");
const QString kReloadExample = QStringLiteral("systemctl reload nginx");
const QString kNoOutputMessage =
    QStringLiteral("Please choose at least one kind of server to make the files for.");
const QString kNoExportFolderMessage =
    QStringLiteral("Please choose a folder for the files that are made.");
const QString kDefaultFolderName = QStringLiteral("certificates");

} // namespace

AcmeOutputsPage::AcmeOutputsPage(TfrmAcme& window) : window(window) {}

void AcmeOutputsPage::add() {
    window.lblOutputs = TfrmAcme::makeLabel("lblOutputs", kOutputsCaption);
    window.cbForNginx = named(new QCheckBox(kNginxCaption), "cbForNginx");
    window.cbForNginx->setChecked(true);
    window.cbForIis = named(new QCheckBox(kIisCaption), "cbForIis");
    window.cbLegacyPfx = named(new QCheckBox(kLegacyPfxCaption), "cbLegacyPfx");
    window.cbLegacyPfx->setEnabled(false);
    window.cbForIndy = named(new QCheckBox(kIndyCaption), "cbForIndy");
    window.lblExportPath =
        TfrmAcme::makeLabel("lblExportPath", TKeyAndCertificateWizard::kExportPathCaption);
    const TfrmAcme::BrowseField exportPath = TfrmAcme::makeBrowseField(
        window.lblExportPath, "edtExportPath", "btnExportPath", TfrmAcme::kChooseExportFolder);
    window.edtExportPath = exportPath.edit;
    window.btnExportPath = exportPath.button;
    window.edtExportPath->setText(defaultExportFolder());
    window.edtReload = named(new QLineEdit, "edtReload");
    window.edtReload->setPlaceholderText(kReloadExample);
    window.lblReload = TfrmAcme::makeLabel("lblReload", kReloadCaption, {window.edtReload});

    QVBoxLayout* page = window.addPage(TfrmAcme::tsOutputs, "tsOutputs",
                                       {.next =
                                            [this] {
                                                window.leaveOutputsPage();
                                                return int(TfrmAcme::tsProgress);
                                            },
                                        .previous = TfrmAcme::tsReach,
                                        .focus = window.cbForNginx});
    page->addWidget(window.lblOutputs);
    page->addWidget(window.cbForNginx);
    page->addWidget(window.cbForIis);
    page->addLayout(TfrmAcme::indented(window.cbLegacyPfx));
    page->addWidget(window.cbForIndy);
    TfrmAcme::addBrowseField(page, window.lblExportPath, exportPath);
    page->addWidget(window.lblReload);
    page->addWidget(window.edtReload);
    page->addStretch();

    QObject::connect(window.cbForIis, &QCheckBox::toggled, window.cbLegacyPfx,
                     &QCheckBox::setEnabled);
    QObject::connect(window.btnExportPath, &QPushButton::clicked, &window,
                     &TfrmAcme::btnExportPathClick);
}

QString AcmeOutputsPage::defaultExportFolder() {
    return withTrailingSeparator(QDir::homePath() + QLatin1Char('/') + kDefaultFolderName);
}

void AcmeOutputsPage::fillValues(Acme::AcmeValues& values) const {
    const std::pair<QCheckBox*, QString> outputs[] = {{window.cbForNginx, ServerFiles::kForNginx},
                                                      {window.cbForIis, ServerFiles::kForIis},
                                                      {window.cbForIndy, ServerFiles::kForIndy}};
    for (const auto& [box, kind] : outputs)
        if (box->isChecked())
            values.outputs << kind;
    values.outFolder = window.edtExportPath->text();
    values.legacyPfx = window.cbForIis->isChecked() && window.cbLegacyPfx->isChecked();
    values.reloadCommand =
        ReloadCommand::resolve(window.edtReload->text(), desktopToolContext().currentFolder);
}

void AcmeOutputsPage::check(const Acme::AcmeValues& values) const {
    if (values.outputs.isEmpty())
        throw PageError(kNoOutputMessage);
    if (values.outFolder.trimmed().isEmpty())
        throw PageError(kNoExportFolderMessage);
    // The folder offered first is made the first time it is used, for the user alone.
    if (values.outFolder == defaultExportFolder())
        ::mkdir(QFile::encodeName(values.outFolder).constData(), S_IRWXU);
    requirePrivateExportFolder(values.outFolder, desktopToolContext().currentFolder);
}
