#include "AcmeAuthorityPage.h"

#include "uAccessibility.h"
#include "uAcmeForm.h"
#include "uKeyAndCertificateWizard.h"
#include "uWindowJob.h"
#include "uWindowsCommon.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kLetsEncryptCaption = QStringLiteral("Let's Encrypt");
const QString kStagingCaption = QStringLiteral(
    "Let's Encrypt's staging service, for trying (browsers do not trust its certificates)");
const QString kOtherAuthorityCaption = QStringLiteral("Another ACME directory address");
const QString kCaFileCaption = QStringLiteral("CA file for its HTTPS (optional):");
const QString kChooseCaFile = QStringLiteral("Choose the CA file");
const QString kCaFileDialogTitle = QStringLiteral("Select a CA File");
const QStringList kCaFileFilters = {QStringLiteral("Certificates (*.pem *.crt *.cer)"),
                                    TKeyAndCertificateWizard::kAllFilesFilter};
const QString kTermsLookingUp =
    QStringLiteral("Reading the authority's terms of service... (Cancel or Escape stops reading.)");
const QString kTermsNotRead =
    QStringLiteral("Press \"Show Terms of Service\" or Next to read the authority's terms of "
                   "service from its directory.");
const QString kTermsStopped = QStringLiteral(
    "Reading the terms of service was cancelled. Press \"Show Terms of Service\" or Next to "
    "read them.");
const QString kShowTermsCaption = QStringLiteral("Show Terms of Service");
const QString kShowTermsDescription =
    QStringLiteral("Read the chosen authority's terms of service from its directory");
const QString kTermsShown =
    QStringLiteral("The authority's terms of service: <a href=\"%1\">%2</a>");
const QString kTermsProblem =
    QStringLiteral("The authority's terms of service cannot be read: %1 %2");
const QString kNoDirectoryYet =
    QStringLiteral("Enter the directory address to read the authority's terms of service.");
const QString kAgreeCaption = QStringLiteral("I agree to the authority's terms of service");
const QString kNoDirectoryMessage =
    QStringLiteral("Please enter the address of the authority's ACME directory, such as "
                   "https://acme.example.com/directory.");
const QString kMustAgreeMessage =
    QStringLiteral("Please read the authority's terms of service and tick \"I agree to the "
                   "authority's terms of service\": the authority issues certificates only to "
                   "those who agree.");

} // namespace

AcmeAuthorityPage::AcmeAuthorityPage(TfrmAcme& window) : window(window) {
    window.rbLetsEncrypt = named(new QRadioButton(kLetsEncryptCaption), "rbLetsEncrypt");
    window.rbLetsEncryptStaging = named(new QRadioButton(kStagingCaption), "rbLetsEncryptStaging");
    window.rbOtherAuthority = named(new QRadioButton(kOtherAuthorityCaption), "rbOtherAuthority");
    window.rbLetsEncrypt->setChecked(true);
    window.edtDirectory = named(new QLineEdit, "edtDirectory");
    window.edtDirectory->setAccessibleName(nameFromLabel(kOtherAuthorityCaption));
    window.lblCaFile = TfrmAcme::makeLabel("lblCaFile", kCaFileCaption);
    // No authority is asked anything before the user has chosen it: its terms are read on
    // Next or by this button.
    window.btnShowTerms = named(new QPushButton(kShowTermsCaption), "btnShowTerms");
    describeButton(window.btnShowTerms, kShowTermsDescription);
    window.lblTerms = TfrmAcme::makeLabel("lblTerms", kTermsNotRead.toHtmlEscaped(), true);
    window.lblTerms->setTextFormat(Qt::RichText);
    window.lblTerms->setTextInteractionFlags(Qt::TextBrowserInteraction);
    window.cbAgreeTerms = named(new QCheckBox(kAgreeCaption), "cbAgreeTerms");
    window.cbAgreeTerms->setEnabled(false);
}

AcmeAuthorityPage::~AcmeAuthorityPage() = default;

void AcmeAuthorityPage::add() {
    const TfrmAcme::BrowseField caFile =
        TfrmAcme::makeBrowseField(window.lblCaFile, "edtCaFile", "btnCaFile", kChooseCaFile);
    window.edtCaFile = caFile.edit;
    window.btnCaFile = caFile.button;
    QVBoxLayout* page = window.addPage(TfrmAcme::tsAuthority, "tsAuthority",
                                       {.next = [this] { return leave(); },
                                        .previous = TfrmAcme::tsNames,
                                        .focus = window.btnShowTerms});
    page->addWidget(window.rbLetsEncrypt);
    page->addWidget(window.rbLetsEncryptStaging);
    page->addWidget(window.rbOtherAuthority);
    page->addLayout(TfrmAcme::indented(window.edtDirectory));
    page->addLayout(TfrmAcme::indented(window.lblCaFile));
    caFile.row->insertSpacing(0, TfrmAcme::kIndent);
    page->addLayout(caFile.row);
    page->addWidget(window.btnShowTerms, 0, Qt::AlignLeft);
    page->addWidget(window.lblTerms);
    page->addWidget(window.cbAgreeTerms);
    page->addStretch();

    for (QRadioButton* choice :
         {window.rbLetsEncrypt, window.rbLetsEncryptStaging, window.rbOtherAuthority})
        connect(choice, &QRadioButton::toggled, this, &AcmeAuthorityPage::choiceChanged);
    // Typing an address chooses it.
    connect(window.edtDirectory, &QLineEdit::textEdited, window.rbOtherAuthority,
            [this] { window.rbOtherAuthority->setChecked(true); });
    for (QLineEdit* field : {window.edtDirectory, window.edtCaFile})
        connect(field, &QLineEdit::textChanged, this, &AcmeAuthorityPage::choiceChanged);
    connect(window.btnShowTerms, &QPushButton::clicked, &window, &TfrmAcme::btnShowTermsClick);
    connect(window.btnCaFile, &QPushButton::clicked, &window, &TfrmAcme::btnCaFileClick);
    connect(window.lblTerms, &QLabel::linkActivated, this,
            [](const QString& link) { openWithShell(QUrl(link)); });
}

QString AcmeAuthorityPage::directoryAddress() const {
    if (window.rbLetsEncrypt->isChecked())
        return Acme::kLetsEncryptDirectory;
    if (window.rbLetsEncryptStaging->isChecked())
        return Acme::kLetsEncryptStagingDirectory;
    return window.edtDirectory->text().trimmed();
}

void AcmeAuthorityPage::fillValues(Acme::AcmeValues& values) const {
    values.server = directoryAddress();
    if (window.rbOtherAuthority->isChecked())
        values.caBundle = window.edtCaFile->text().trimmed();
}

int AcmeAuthorityPage::leave() {
    if (directoryAddress().isEmpty())
        throw PageError(kNoDirectoryMessage);
    // Next first reads the terms of the authority chosen, for the user to agree to.
    if (shownTerms != chosenTerms()) {
        lookUpTerms();
        return TfrmAcme::tsAuthority;
    }
    if (!window.cbAgreeTerms->isChecked())
        throw PageError(kMustAgreeMessage);
    return TfrmAcme::tsReach;
}

AcmeAuthorityPage::TermsKey AcmeAuthorityPage::chosenTerms() const {
    return {directoryAddress(),
            window.rbOtherAuthority->isChecked() ? window.edtCaFile->text().trimmed() : QString()};
}

void AcmeAuthorityPage::choiceChanged() {
    if (shownTerms == chosenTerms())
        return;
    // Agreeing to one authority's terms is no agreement to another's.
    shownTerms.reset();
    window.cbAgreeTerms->setChecked(false);
    window.cbAgreeTerms->setEnabled(false);
    window.lblTerms->setText(
        (directoryAddress().isEmpty() ? kNoDirectoryYet : kTermsNotRead).toHtmlEscaped());
    stopTermsLookup();
}

void AcmeAuthorityPage::showTermsClicked() {
    if (directoryAddress().isEmpty())
        throw PageError(kNoDirectoryMessage);
    lookUpTerms();
}

void AcmeAuthorityPage::lookUpTerms() {
    if (lookup)
        return;
    const TermsKey key = chosenTerms();
    window.lblTerms->setText(kTermsLookingUp.toHtmlEscaped());
    // While it reads, Cancel (and Escape) stops the reading, and the page stays.
    window.btnNext->setEnabled(false);
    window.btnShowTerms->setEnabled(false);
    window.btnPrevious->setText(TfrmAcme::kCancelCaption);
    // The lookup fills `found` on its own thread; the page reads it once the lookup has ended.
    auto found = std::make_shared<Terms>();
    lookup = std::make_unique<WindowJob>(
        [key, found](RunCancel& cancel) {
            try {
                found->address = Acme::termsOfService(key.directory, key.caFile,
                                                      TfrmAcme::kTermsTimeLimitMs, &cancel);
            } catch (const PageError& error) {
                found->problem =
                    kTermsProblem.arg(withFullStop(error.message()), error.explanation());
            } catch (const std::exception& error) {
                found->problem = kTermsProblem.arg(QString::fromLocal8Bit(error.what()), QString());
            }
        },
        [this, key, found](std::exception_ptr) {
            endLookup();
            showTerms(key, *found);
        });
}

void AcmeAuthorityPage::stopTermsLookup() {
    if (!lookup)
        return;
    endLookup();
    if (!shownTerms)
        window.lblTerms->setText(
            (directoryAddress().isEmpty() ? kNoDirectoryYet : kTermsStopped).toHtmlEscaped());
}

void AcmeAuthorityPage::endLookup() {
    lookup.reset();
    window.btnNext->setEnabled(true);
    window.btnShowTerms->setEnabled(true);
    window.btnPrevious->setText(TfrmAcme::kBackCaption);
}

void AcmeAuthorityPage::showTerms(const TermsKey& key, const Terms& terms) {
    if (chosenTerms() != key)
        return;
    shownTerms = key;
    if (terms.problem.isEmpty())
        window.lblTerms->setText(
            kTermsShown.arg(terms.address.toHtmlEscaped(), terms.address.toHtmlEscaped()));
    else
        window.lblTerms->setText(terms.problem.trimmed().toHtmlEscaped());
    window.cbAgreeTerms->setEnabled(true);
    window.cbAgreeTerms->setFocus();
}

void AcmeAuthorityPage::chooseCaFile() {
    QFileDialog dialog(&window, kCaFileDialogTitle, QFileInfo(window.edtCaFile->text()).path());
    named(&dialog, "dlgCaFile");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(kCaFileFilters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    window.edtCaFile->setText(dialog.selectedFiles().constFirst());
    window.rbOtherAuthority->setChecked(true);
}
