#include "AcmeNamesPage.h"

#include "uAcmeForm.h"
#include "uCertwrightCommon.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kNamesCaption =
    QStringLiteral("The names of this server, one per line (the first is the main name):");
const QString kEmailCaption = QStringLiteral("Your e-mail address, for the authority's notices:");
const QString kKeyTypeCaption = QStringLiteral("Key type:");
// In the order of Acme::kKeyTypes.
const QStringList kKeyTypeCaptions = {QStringLiteral("ECDSA P-256"), QStringLiteral("ECDSA P-384"),
                                      QStringLiteral("RSA 2048"), QStringLiteral("RSA 4096")};
const QString kNoNamesMessage =
    QStringLiteral("Please enter the names of this server, such as www.example.com, one per line.");

const QString kWildcardExplanation = QStringLiteral(
    "Validation by a DNS record is chosen on the page after the authority's: \"A DNS record "
    "(needed for *.names)\". Enter one name of the server here, choose it there, then come "
    "back with Back to add these names.");

} // namespace

AcmeNamesPage::AcmeNamesPage(TfrmAcme& window) : window(window) {
    window.memNames = named(new QPlainTextEdit, "memNames");
    window.memNames->setTabChangesFocus(true);
    window.lblNames = TfrmAcme::makeLabel("lblNames", kNamesCaption, {window.memNames});
    window.edtEmail = named(new QLineEdit, "edtEmail");
    window.lblEmail = TfrmAcme::makeLabel("lblEmail", kEmailCaption, {window.edtEmail});
    window.cbKeyType = named(new QComboBox, "cbKeyType");
    window.cbKeyType->addItems(kKeyTypeCaptions);
    window.lblKeyType = TfrmAcme::makeLabel("lblKeyType", kKeyTypeCaption, {window.cbKeyType});
}

void AcmeNamesPage::add() {
    QVBoxLayout* page = window.addPage(TfrmAcme::tsNames, "tsNames",
                                       {.next =
                                            [this] {
                                                check(window.rbDns->isChecked());
                                                return int(TfrmAcme::tsAuthority);
                                            },
                                        .previous = TfrmAcme::kCloseWizard,
                                        .focus = window.memNames});
    page->addWidget(window.lblNames);
    page->addWidget(window.memNames);
    page->addWidget(window.lblEmail);
    page->addWidget(window.edtEmail);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(window.lblKeyType);
    keyRow->addWidget(window.cbKeyType);
    keyRow->addStretch();
    page->addLayout(keyRow);
    window.memNames->setFocus();
}

QStringList AcmeNamesPage::names() const {
    QStringList names;
    for (const QString& line : window.memNames->toPlainText().split(QLatin1Char('\n'))) {
        const QString name = line.trimmed();
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names << name;
    }
    return names;
}

void AcmeNamesPage::check(bool byDns) const {
    const QStringList typed = names();
    if (typed.isEmpty())
        throw PageError(kNoNamesMessage);
    const QString email = window.edtEmail->text().trimmed();
    try {
        Acme::checkNamesAndEmail(typed, email, byDns);
    } catch (const PageError& error) {
        // Names such as *.example.com are the only fault: say where the DNS record is chosen.
        if (byDns)
            throw;
        Acme::checkNamesAndEmail(typed, email, true);
        throw PageError(error.message(), kWildcardExplanation);
    }
}

void AcmeNamesPage::fillValues(Acme::AcmeValues& values) const {
    values.names = names();
    values.email = window.edtEmail->text().trimmed();
    values.keyType = Acme::kKeyTypes.value(window.cbKeyType->currentIndex(), Acme::kKeyEc256);
}
