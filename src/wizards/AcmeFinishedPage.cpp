#include "AcmeFinishedPage.h"

#include "uAcmeForm.h"
#include "uCertwrightCommon.h"
#include "uRenewal.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const QString kFinishedText = QStringLiteral(
    "Your certificate is ready. It is valid until %1; the authority's certificates last a few "
    "months, so let this program renew it.");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd hh:mm 'UTC'");
// The scrolled check, as a screen reader names it.
const QString kCheckAreaName = QStringLiteral("Check of the new certificate");
const QString kPassPhraseKeptText =
    QStringLiteral("The pass phrase of the .pfx and key.pem files is kept in \"%1\", which only "
                   "you can read, so that the renewal can make them again without you.");
const QString kReloadProblemText =
    QStringLiteral("The files are made, but the command after the certificate failed: %1");
const QString kRenewCaption = QStringLiteral("Renew automatically");
const QString kTimerHint =
    QStringLiteral("To see the timer: systemctl --user list-timers certwright-renew.timer\n"
                   "To see the certificates that it renews: certwright renew --list");

} // namespace

AcmeFinishedPage::AcmeFinishedPage(TfrmAcme& window) : window(window) {}

void AcmeFinishedPage::add() {
    window.lblFinished = TfrmAcme::makeLabel("lblFinished", QString(), true);
    window.lblFinished->setTextFormat(Qt::PlainText);
    window.lblPassPhraseKept = TfrmAcme::makeLabel("lblPassPhraseKept", QString(), true);
    window.lblPassPhraseKept->setTextFormat(Qt::PlainText);
    window.lblPassPhraseKept->hide();
    window.lblReloadProblem = TfrmAcme::makeLabel("lblReloadProblem", QString(), true);
    window.lblReloadProblem->setTextFormat(Qt::PlainText);
    window.lblReloadProblem->hide();
    window.lblCheck = TfrmAcme::makeLabel("lblCheck", QString(), true);
    window.lblCheck->setTextFormat(Qt::PlainText);
    window.lblCheck->setTextInteractionFlags(Qt::TextSelectableByMouse);
    window.cbRenewAutomatically = named(new QCheckBox(kRenewCaption), "cbRenewAutomatically");
    window.cbRenewAutomatically->setChecked(true);
    QVBoxLayout* page = window.addPage(TfrmAcme::tsFinished, "tsFinished",
                                       {.next =
                                            [this] {
                                                leave();
                                                return TfrmAcme::kCloseWizard;
                                            },
                                        .previous = TfrmAcme::tsOutputs,
                                        .focus = window.btnNext,
                                        .finished = true});
    page->addWidget(window.lblFinished);
    window.addMadeFilesPanel(page);
    page->addWidget(window.lblPassPhraseKept);
    page->addWidget(window.lblReloadProblem);
    // The check's warnings, each with what to do, may be longer than the page has room for.
    auto* checkArea = named(new QScrollArea, "scrCheck");
    checkArea->setAccessibleName(kCheckAreaName);
    checkArea->setWidgetResizable(true);
    checkArea->setFrameShape(QFrame::NoFrame);
    checkArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    checkArea->setWidget(window.lblCheck);
    page->addWidget(checkArea, 1);
    page->addWidget(window.cbRenewAutomatically);
    page->addStretch();
}

void AcmeFinishedPage::show(const Acme::AcmeResult& result, const QString& checkText) {
    window.lblFinished->setText(kFinishedText.arg(result.expiry.toUTC().toString(kDateFormat)));
    window.madeFiles->showMadeFiles(result.made);
    window.lblPassPhraseKept->setText(kPassPhraseKeptText.arg(result.passPhrasePath));
    window.lblPassPhraseKept->setVisible(!result.passPhrasePath.isEmpty());
    window.lblReloadProblem->setText(kReloadProblemText.arg(result.reloadProblem));
    window.lblReloadProblem->setVisible(!result.reloadProblem.isEmpty());
    window.lblCheck->setText(checkText.trimmed());
}

void AcmeFinishedPage::leave() {
    if (!window.cbRenewAutomatically->isChecked())
        return;
    const Renewal::TimerInstallation installed =
        Renewal::installTimer(QCoreApplication::applicationFilePath(), false);
    window.tell(installed.message + QStringLiteral("\n\n") + kTimerHint);
}
