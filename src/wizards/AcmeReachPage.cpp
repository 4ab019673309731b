#include "AcmeReachPage.h"

#include "AcmeNamesPage.h"
#include "uAcmeForm.h"
#include "uCertwrightCommon.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const QString kReachText = QStringLiteral(
    "The authority checks that the names are yours by fetching a file from "
    "http://<name>/.well-known/acme-challenge/ for each name. So every name must point at this "
    "server, and port 80 must be open from the internet to this server.");
const QString kWebRootCaption =
    QStringLiteral("Put the file into the web root that this server already serves");
const QString kWebRootFieldCaption = QStringLiteral("Web root:");
const QString kChooseWebRoot = QStringLiteral("Choose the web root");
const QString kStandaloneCaption =
    QStringLiteral("Serve the file from a temporary web server of this program");
const QString kPortCaption = QStringLiteral("Port:");
const QString kPortNote =
    QStringLiteral("Choose a port other than 80 only when port 80 is forwarded to it.");
const QString kNoWebRootMessage =
    QStringLiteral("Please choose the folder that your web server serves for these names.");
const QString kWebRootMessage = QStringLiteral("The web root \"%1\" cannot be used: %2");

const QString kDnsCaption = QStringLiteral("A DNS record (needed for *.names)");

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;

} // namespace

AcmeReachPage::AcmeReachPage(TfrmAcme& window) : window(window) {}

void AcmeReachPage::add() {
    window.lblReach = TfrmAcme::makeLabel("lblReach", kReachText, true);
    window.rbStandalone = named(new QRadioButton(kStandaloneCaption), "rbStandalone");
    window.spnHttpPort = named(new QSpinBox, "spnHttpPort");
    window.spnHttpPort->setRange(kLowestPort, kHighestPort);
    window.spnHttpPort->setValue(Acme::kDefaultHttpPort);
    auto* portLabel = TfrmAcme::makeLabel("lblHttpPort", kPortCaption, {window.spnHttpPort});
    window.lblPortNote = TfrmAcme::makeLabel("lblPortNote", kPortNote, true);
    window.rbStandalone->setChecked(true);
    window.rbWebRoot = named(new QRadioButton(kWebRootCaption), "rbWebRoot");
    auto* webRootLabel = TfrmAcme::makeLabel("lblWebRoot", kWebRootFieldCaption);
    const TfrmAcme::BrowseField webRoot =
        TfrmAcme::makeBrowseField(webRootLabel, "edtWebRoot", "btnWebRoot", kChooseWebRoot);
    window.edtWebRoot = webRoot.edit;
    window.btnWebRoot = webRoot.button;

    QVBoxLayout* page =
        window.addPage(TfrmAcme::tsReach, "tsReach",
                       {.next =
                            [this] {
                                check();
                                return int(byDns() ? TfrmAcme::tsDns : TfrmAcme::tsOutputs);
                            },
                        .previous = TfrmAcme::tsAuthority,
                        .focus = window.rbStandalone});
    page->addWidget(window.lblReach);
    page->addWidget(window.rbStandalone);
    auto* portRow = TfrmAcme::indented(portLabel);
    portRow->addWidget(window.spnHttpPort);
    portRow->addStretch();
    page->addLayout(portRow);
    page->addLayout(TfrmAcme::indented(window.lblPortNote));
    page->addWidget(window.rbWebRoot);
    webRoot.row->insertWidget(0, webRootLabel);
    webRoot.row->insertSpacing(0, TfrmAcme::kIndent);
    page->addLayout(webRoot.row);
    window.rbDns = named(new QRadioButton(kDnsCaption), "rbDns");
    page->addWidget(window.rbDns);
    page->addStretch();

    QObject::connect(window.edtWebRoot, &QLineEdit::textEdited, window.rbWebRoot,
                     [this] { window.rbWebRoot->setChecked(true); });
    QObject::connect(window.spnHttpPort, &QSpinBox::valueChanged, window.rbStandalone,
                     [this] { window.rbStandalone->setChecked(true); });
    QObject::connect(window.btnWebRoot, &QPushButton::clicked, &window, &TfrmAcme::btnWebRootClick);
}

bool AcmeReachPage::byDns() const {
    return window.rbDns->isChecked();
}

void AcmeReachPage::fillValues(Acme::AcmeValues& values) const {
    if (byDns())
        return;
    if (window.rbWebRoot->isChecked())
        values.webRoot = window.edtWebRoot->text();
    else
        values.httpPort = window.spnHttpPort->value();
}

void AcmeReachPage::check() const {
    if (byDns())
        return;
    // Names such as *.example.com, taken while a DNS record was chosen, need it still.
    window.namesPage->check(false);
    if (!window.rbWebRoot->isChecked())
        return;
    const QString webRoot = window.edtWebRoot->text();
    if (webRoot.trimmed().isEmpty())
        throw PageError(kNoWebRootMessage);
    const QString problem = Acme::webRootProblem(webRoot);
    if (!problem.isEmpty())
        throw PageError(kWebRootMessage.arg(webRoot, problem));
}

void AcmeReachPage::chooseWebRoot() {
    window.chooseFolder(window.edtWebRoot, QDir::rootPath());
    if (!window.edtWebRoot->text().isEmpty())
        window.rbWebRoot->setChecked(true);
}
