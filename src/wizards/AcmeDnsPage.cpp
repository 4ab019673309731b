#include "AcmeDnsPage.h"

#include "uAcmeForm.h"
#include "uCertwrightCommon.h"
#include "uKeyAndCertificateWizard.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <initializer_list>

namespace {

// Validation by a DNS record.
const QString kDnsNote = QStringLiteral(
    "Instead of a file, the authority reads a TXT record at _acme-challenge.<name>: the names "
    "need not point at this server, and names such as *.example.com can be had.");
const QString kDnsProviderCaption = QStringLiteral("Set by:");
// In the order of kProviders.
const QStringList kDnsProviderCaptions = {
    QStringLiteral("A script of yours (lego's exec: called with present or cleanup)"),
    QStringLiteral("Signed updates to a DNS server (RFC 2136, with a TSIG key)")};
const QString kDnsScriptCaption = QStringLiteral("Script:");
const QString kChooseDnsScript = QStringLiteral("Choose the script that sets the DNS record");
const QString kDnsScriptDialogTitle = QStringLiteral("Select the DNS Script");
const QString kDnsServerCaption = QStringLiteral("DNS server:");
const QString kDnsServerExample = QStringLiteral("192.0.2.53:53");
const QString kTsigKeyCaption = QStringLiteral("TSIG key name:");
const QString kTsigSecretCaption = QStringLiteral("TSIG secret:");
const QString kTsigAlgorithmCaption = QStringLiteral("Algorithm:");
const QString kDnsResolverCaption = QStringLiteral("Ask server:");
const QString kDnsResolverDescription = QStringLiteral(
    "The DNS server asked whether the record is in place; empty: the server that takes the "
    "updates, or for a script the wait that follows");
const QString kDnsResolverHint = QStringLiteral("optional: ADDRESS[:PORT]");
const QString kDnsWaitCaption = QStringLiteral("Else wait:");
const QString kDnsWaitSuffix = QStringLiteral(" s");
const QString kNoDnsScriptMessage =
    QStringLiteral("Please choose the script that sets and removes the DNS record.");
const QString kNoDnsServerMessage =
    QStringLiteral("Please enter the address of the DNS server that takes the updates.");
const QString kNoTsigKeyMessage =
    QStringLiteral("Please enter the name of the TSIG key that may update the zone.");
const QString kNoTsigSecretMessage =
    QStringLiteral("Please enter the secret of the TSIG key \"%1\".");

const QStringList kProviders = {Acme::kDnsExec, Acme::kDnsRfc2136};
constexpr int kLongestDnsWait = 3600;

} // namespace

AcmeDnsPage::AcmeDnsPage(TfrmAcme& window) : window(window) {}

void AcmeDnsPage::add() {
    window.lblDnsNote = TfrmAcme::makeLabel("lblDnsNote", kDnsNote, true);
    window.cbDnsProvider = named(new QComboBox, "cbDnsProvider");
    window.cbDnsProvider->addItems(kDnsProviderCaptions);
    window.lblDnsProvider =
        TfrmAcme::makeLabel("lblDnsProvider", kDnsProviderCaption, {window.cbDnsProvider});
    window.lblDnsScript = TfrmAcme::makeLabel("lblDnsScript", kDnsScriptCaption);
    const TfrmAcme::BrowseField script = TfrmAcme::makeBrowseField(
        window.lblDnsScript, "edtDnsScript", "btnDnsScript", kChooseDnsScript);
    window.edtDnsScript = script.edit;
    window.btnDnsScript = script.button;
    const auto field = [](const char* name, QLabel** label, const char* labelName,
                          const QString& caption) {
        auto* edit = named(new QLineEdit, name);
        *label = TfrmAcme::makeLabel(labelName, caption, {edit});
        return edit;
    };
    window.edtDnsServer =
        field("edtDnsServer", &window.lblDnsServer, "lblDnsServer", kDnsServerCaption);
    window.edtDnsServer->setPlaceholderText(kDnsServerExample);
    window.edtTsigKey = field("edtTsigKey", &window.lblTsigKey, "lblTsigKey", kTsigKeyCaption);
    window.edtTsigSecret =
        field("edtTsigSecret", &window.lblTsigSecret, "lblTsigSecret", kTsigSecretCaption);
    window.edtTsigSecret->setEchoMode(QLineEdit::Password);
    window.cbTsigAlgorithm = named(new QComboBox, "cbTsigAlgorithm");
    window.cbTsigAlgorithm->addItems(Acme::kTsigAlgorithms);
    window.lblTsigAlgorithm =
        TfrmAcme::makeLabel("lblTsigAlgorithm", kTsigAlgorithmCaption, {window.cbTsigAlgorithm});
    window.edtDnsResolver =
        field("edtDnsResolver", &window.lblDnsResolver, "lblDnsResolver", kDnsResolverCaption);
    window.edtDnsResolver->setPlaceholderText(kDnsResolverHint);
    window.edtDnsResolver->setToolTip(kDnsResolverDescription);
    window.edtDnsResolver->setAccessibleDescription(kDnsResolverDescription);
    window.spnDnsWait = named(new QSpinBox, "spnDnsWait");
    window.spnDnsWait->setRange(1, kLongestDnsWait);
    window.spnDnsWait->setValue(Acme::kDefaultDnsWaitSeconds);
    window.spnDnsWait->setSuffix(kDnsWaitSuffix);
    window.lblDnsWait = TfrmAcme::makeLabel("lblDnsWait", kDnsWaitCaption, {window.spnDnsWait});

    QVBoxLayout* page = window.addPage(TfrmAcme::tsDns, "tsDns",
                                       {.next =
                                            [this] {
                                                check();
                                                return int(TfrmAcme::tsOutputs);
                                            },
                                        .previous = TfrmAcme::tsReach,
                                        .focus = window.cbDnsProvider});
    page->addWidget(window.lblDnsNote);
    // Two pairs of label and field a row, below the kind and the script that take a row each.
    auto* grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, TfrmAcme::kIndent);
    grid->addWidget(window.lblDnsProvider, 0, 1);
    grid->addWidget(window.cbDnsProvider, 0, 2, 1, 3);
    grid->addWidget(window.lblDnsScript, 1, 1);
    grid->addLayout(script.row, 1, 2, 1, 3);
    grid->addWidget(window.lblDnsServer, 2, 1);
    grid->addWidget(window.edtDnsServer, 2, 2);
    grid->addWidget(window.lblTsigKey, 2, 3);
    grid->addWidget(window.edtTsigKey, 2, 4);
    grid->addWidget(window.lblTsigSecret, 3, 1);
    grid->addWidget(window.edtTsigSecret, 3, 2);
    grid->addWidget(window.lblTsigAlgorithm, 3, 3);
    grid->addWidget(window.cbTsigAlgorithm, 3, 4);
    grid->addWidget(window.lblDnsResolver, 4, 1);
    grid->addWidget(window.edtDnsResolver, 4, 2);
    grid->addWidget(window.lblDnsWait, 4, 3);
    grid->addWidget(window.spnDnsWait, 4, 4);
    page->addLayout(grid);
    page->addStretch();

    connect(window.cbDnsProvider, &QComboBox::currentIndexChanged, this,
            &AcmeDnsPage::enableChosenFields);
    connect(window.edtDnsResolver, &QLineEdit::textChanged, this, &AcmeDnsPage::enableChosenFields);
    connect(window.btnDnsScript, &QPushButton::clicked, &window, &TfrmAcme::btnDnsScriptClick);
    enableChosenFields();
}

void AcmeDnsPage::enableChosenFields() {
    const bool exec = kProviders.value(window.cbDnsProvider->currentIndex()) == Acme::kDnsExec;
    const bool update = !exec;
    for (QWidget* control : std::initializer_list<QWidget*>{
             window.lblDnsScript, window.edtDnsScript, window.btnDnsScript})
        control->setEnabled(exec);
    for (QWidget* control : std::initializer_list<QWidget*>{
             window.lblDnsServer, window.edtDnsServer, window.lblTsigKey, window.edtTsigKey,
             window.lblTsigSecret, window.edtTsigSecret, window.lblTsigAlgorithm,
             window.cbTsigAlgorithm})
        control->setEnabled(update);
    // A script's record is waited for only when no DNS server is asked whether it is in place.
    const bool waits = exec && window.edtDnsResolver->text().trimmed().isEmpty();
    window.lblDnsWait->setEnabled(waits);
    window.spnDnsWait->setEnabled(waits);
}

void AcmeDnsPage::chooseScript() {
    const QString typed = window.edtDnsScript->text().trimmed();
    QFileDialog dialog(&window, kDnsScriptDialogTitle,
                       typed.isEmpty() ? QDir::homePath() : QFileInfo(typed).path());
    named(&dialog, "dlgDnsScript");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(TKeyAndCertificateWizard::kAllFilesFilter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    window.edtDnsScript->setText(dialog.selectedFiles().constFirst());
}

void AcmeDnsPage::fillValues(Acme::AcmeValues& values) const {
    Acme::DnsValidation& dns = values.dns;
    dns.provider = kProviders.value(window.cbDnsProvider->currentIndex());
    if (dns.provider == Acme::kDnsExec) {
        dns.script = window.edtDnsScript->text().trimmed();
        dns.waitSeconds = window.spnDnsWait->value();
    } else {
        dns.server = window.edtDnsServer->text().trimmed();
        dns.tsigKey = window.edtTsigKey->text().trimmed();
        dns.tsigSecret = window.edtTsigSecret->text().trimmed();
        dns.tsigAlgorithm = window.cbTsigAlgorithm->currentText();
    }
    dns.resolver = window.edtDnsResolver->text().trimmed();
}

void AcmeDnsPage::check() const {
    Acme::AcmeValues typed;
    fillValues(typed);
    const Acme::DnsValidation& dns = typed.dns;
    if (dns.provider == Acme::kDnsExec) {
        if (dns.script.isEmpty())
            throw PageError(kNoDnsScriptMessage);
        return;
    }
    if (dns.server.isEmpty())
        throw PageError(kNoDnsServerMessage);
    if (dns.tsigKey.isEmpty())
        throw PageError(kNoTsigKeyMessage);
    if (dns.tsigSecret.isEmpty())
        throw PageError(kNoTsigSecretMessage.arg(dns.tsigKey));
}
