#include "uAcmeForm.h"

#include "AcmeAuthorityPage.h"
#include "AcmeDnsPage.h"
#include "AcmeFinishedPage.h"
#include "AcmeNamesPage.h"
#include "AcmeOutputsPage.h"
#include "AcmeReachPage.h"
#include "IssuanceJob.h"
#include "uPassPhraseFiles.h"
#include "uWindowsCommon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString kProgressText = QStringLiteral(
    "Getting your certificate from the authority. This usually takes less than a minute.");
const QString kStartingStep = QStringLiteral("Starting...");
const QString kCancellingStep = QStringLiteral("Cancelling...");

} // namespace

TfrmAcme::TfrmAcme(QWidget* owner) : TWizardFrame(owner, WizardLook{.caption = kCaption}) {
    namesPage = std::make_unique<AcmeNamesPage>(*this);
    namesPage->add();
    authorityPage = std::make_unique<AcmeAuthorityPage>(*this);
    authorityPage->add();
    reachPage = std::make_unique<AcmeReachPage>(*this);
    reachPage->add();
    outputsPage = std::make_unique<AcmeOutputsPage>(*this);
    outputsPage->add();
    addProgressPage();
    finishedPage = std::make_unique<AcmeFinishedPage>(*this);
    finishedPage->add();
    dnsPage = std::make_unique<AcmeDnsPage>(*this);
    dnsPage->add();
    showPage(tsNames);
}

TfrmAcme::~TfrmAcme() = default;

QHBoxLayout* TfrmAcme::indented(QWidget* widget) {
    auto* row = new QHBoxLayout;
    row->addSpacing(kIndent);
    row->addWidget(widget);
    return row;
}

void TfrmAcme::addProgressPage() {
    lblProgress = makeLabel("lblProgress", kProgressText, true);
    pbProgress = named(new QProgressBar, "pbProgress");
    pbProgress->setRange(0, kProgressSteps);
    pbProgress->setTextVisible(false);
    lblStep = makeLabel("lblStep", QString(), true);
    lblStep->setTextFormat(Qt::PlainText);
    pbProgress->setAccessibleName(kProgressText);
    // The next page follows when the issuance ends; Next stays greyed out until then.
    QVBoxLayout* page = addPage(tsProgress, "tsProgress",
                                {.next = [] { return int(tsProgress); }, .previous = tsOutputs});
    page->addWidget(lblProgress);
    page->addWidget(pbProgress);
    page->addWidget(lblStep);
    page->addStretch();
}

QString TfrmAcme::directoryAddress() const {
    return authorityPage->directoryAddress();
}

QString TfrmAcme::defaultExportFolder() {
    return AcmeOutputsPage::defaultExportFolder();
}

bool TfrmAcme::isReadingTerms() const {
    return authorityPage->isReadingTerms();
}

Acme::AcmeValues TfrmAcme::values() const {
    Acme::AcmeValues chosen;
    namesPage->fillValues(chosen);
    authorityPage->fillValues(chosen);
    reachPage->fillValues(chosen);
    if (reachPage->byDns())
        dnsPage->fillValues(chosen);
    outputsPage->fillValues(chosen);
    return chosen;
}

void TfrmAcme::leaveOutputsPage() {
    Acme::AcmeValues chosen = values();
    outputsPage->check(chosen);
    if (chosen.outputs.contains(ServerFiles::kForIis) ||
        chosen.outputs.contains(ServerFiles::kForIndy))
        chosen.passPhrase = askServerFilesPassPhrase();
    startIssuance(Acme::checkValues(chosen, desktopToolContext()));
}

QString TfrmAcme::askServerFilesPassPhrase() {
    // The issuance takes the pass phrase from the values and writes what the tool needs.
    return askPassPhrases(PassPhraseUse::ServerFiles).fresh;
}

void TfrmAcme::startIssuance(const Acme::CheckedAcmeValues& chosen) {
    pbProgress->setValue(0);
    lblStep->setText(kStartingStep);
    issuance = std::make_unique<IssuanceJob>(chosen, desktopToolContext(), *this);
    connect(issuance.get(), &IssuanceJob::progress, this, &TfrmAcme::showProgress);
    connect(issuance.get(), &IssuanceJob::finished, this, &TfrmAcme::issuanceEnded);
    // While it runs, the only way on is Cancel.
    btnNext->setEnabled(false);
    btnPrevious->setText(kCancelCaption);
}

void TfrmAcme::showProgress(const QString& step, double fraction) {
    lblStep->setText(step);
    pbProgress->setValue(qRound(qBound(0.0, fraction, 1.0) * kProgressSteps));
}

void TfrmAcme::issuanceEnded(std::exception_ptr thrown) {
    const std::unique_ptr<IssuanceJob> ended = std::move(issuance);
    btnNext->setEnabled(true);
    btnPrevious->setText(kBackCaption);
    if (std::exchange(closeWhenEnded, false)) {
        QDialog::reject();
        return;
    }
    if (thrown) {
        arriveAt(tsOutputs);
        runGuarded(this, [&thrown] { std::rethrow_exception(thrown); });
        return;
    }
    finishedPage->show(ended->result(), ended->checkText());
    arriveAt(tsFinished);
}

void TfrmAcme::btnPreviousClick() {
    if (authorityPage->isReadingTerms()) {
        authorityPage->stopTermsLookup();
        return;
    }
    // The outputs page follows the DNS page when a DNS record is chosen.
    if (!issuance && currentPage() == tsOutputs && reachPage->byDns()) {
        showPage(tsDns);
        return;
    }
    if (!issuance) {
        TWizardFrame::btnPreviousClick();
        return;
    }
    lblStep->setText(kCancellingStep);
    issuance->cancel();
}

void TfrmAcme::reject() {
    if (!issuance) {
        authorityPage->stopTermsLookup();
        QDialog::reject();
        return;
    }
    closeWhenEnded = true;
    btnPreviousClick();
}

void TfrmAcme::btnCaFileClick() {
    runGuarded(this, [this] { authorityPage->chooseCaFile(); });
}

void TfrmAcme::btnShowTermsClick() {
    runGuarded(this, [this] { authorityPage->showTermsClicked(); });
}

void TfrmAcme::btnWebRootClick() {
    runGuarded(this, [this] { reachPage->chooseWebRoot(); });
}

void TfrmAcme::btnDnsScriptClick() {
    runGuarded(this, [this] { dnsPage->chooseScript(); });
}

void TfrmAcme::btnExportPathClick() {
    runGuarded(this, [this] { chooseFolder(edtExportPath, QDir::homePath()); });
}
