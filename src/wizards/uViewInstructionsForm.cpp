#include "uViewInstructionsForm.h"

#include "uWindowsCommon.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kDocumentationBase = QStringLiteral("https://www.example.org/docs/webinstall/");

const QString kCaption = QStringLiteral("View Installation Instructions");
const QString kSelectLabel = QStringLiteral("Select a Web Server:");
const QString kNote = QStringLiteral("Note: \nYou must be connected to the internet before "
                                     "continuing.");
const QString kBuiltInNote =
    QStringLiteral("These steps are part of Certwright: they open in this window, need no "
                   "internet connection and can be printed.");
const QString kMissingPage =
    QStringLiteral("The installation steps for %1 are missing from this copy of Certwright.");
// A built-in page opens the window at least this large, since it is read and scrolled in it.
const QSize kGuideSize(640, 480);
// The web entry that each opening starts with.
const QString kDefaultServer = QStringLiteral("Microsoft IIS 5.0 & 6.0");

// The servers whose steps the program carries, at the top of the list: the name shown, and
// the page among the program's resources.
struct BuiltInPage {
    QString server;
    QString resource;
};
const QList<BuiltInPage> kBuiltInPages = {
    {QStringLiteral("nginx"), QStringLiteral(":/installation/nginx.html")},
    {QStringLiteral("Apache 2.4"), QStringLiteral(":/installation/apache.html")},
    {QStringLiteral("Microsoft IIS 10 (Windows Server 2016 to 2025)"),
     QStringLiteral(":/installation/iis.html")},
    {QStringLiteral("Apache Tomcat"), QStringLiteral(":/installation/tomcat.html")},
    {QStringLiteral("HAProxy"), QStringLiteral(":/installation/haproxy.html")},
    {QStringLiteral("Indy or IntraWeb server"), QStringLiteral(":/installation/indy.html")},
};

// Each entry is the server's name, "=", and the name of its page under the documentation base.
const QStringList kWebServers = {
    QStringLiteral("Apache + ApacheSSL=Apache1a.asp"),
    QStringLiteral("Apache + MODSSL=Apache1b.asp"),
    QStringLiteral("Apache + Open=Apache1c.asp"),
    QStringLiteral("Apache + Raven=Apache1d.asp"),
    QStringLiteral("Apache +SSLeay=Apache1e.asp"),
    QStringLiteral("Apache 2.x=Apache2.asp"),
    QStringLiteral("C2Net Stronghold=C2Net.asp"),
    QStringLiteral("Cobalt Series=Cobalt.asp"),
    QStringLiteral("CPANEL=CPANEL.asp"),
    QStringLiteral("Ensim=Ensim.asp"),
    QStringLiteral("HSPHERE=HSPHERE.asp"),
    QStringLiteral("IBM HTTP=IBMHTTP.asp"),
    QStringLiteral("IBM Domino Go 4.6.2.6+=DominoGo.asp"),
    QStringLiteral("iPlanet Enterprise Server 4.1=iPlanet.asp"),
    QStringLiteral("Jakart-Tomcat=Tomcat.asp"),
    QStringLiteral("Lotus Domino 5.x=Domino5x.asp"),
    QStringLiteral("Microsoft IIS 4.0=IIS4.asp"),
    QStringLiteral("Microsoft IIS 5.0 & 6.0=IIS5.asp"),
    QStringLiteral("Netscape Enterprise 3.51=Netscape.asp"),
    QStringLiteral("O'Reilly WebSite Professional 2.x=OReilly.asp"),
    QStringLiteral("Deerfield (O'Reilly) Website Professional 3.x=Deerfield.asp"),
    QStringLiteral("Plesk 5=Plesk5.asp"),
    QStringLiteral("Plesk 7=Plesk7.asp"),
    QStringLiteral("Weblogic 5.x=WebLogic5.asp"),
    QStringLiteral("Weblogic 6.x=WebLogic6.asp"),
    QStringLiteral("WebSTAR 4=WebSTAR4.asp"),
    QStringLiteral("Zeus Web Server v3=Zeus.asp"),
};

QString serverName(const QString& entry) {
    return entry.section(QLatin1Char('='), 0, 0);
}
QString pageName(const QString& entry) {
    return entry.section(QLatin1Char('='), 1);
}

QString readBuiltInPage(const BuiltInPage& page) {
    QFile file(page.resource);
    if (!file.open(QIODevice::ReadOnly))
        throw PageError(kMissingPage.arg(page.server));
    return QString::fromUtf8(file.readAll());
}

} // namespace

// The pages are compiled into the static wizards library, whose resource object the linker
// would otherwise leave out, since nothing refers to it by name.
void registerInstallationPages() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(installation);
        return true;
    }();
    Q_UNUSED(registered);
}

TfrmViewInstructions::TfrmViewInstructions(QWidget* owner)
    : TWizardFrame(
          owner,
          WizardLook{.caption = kCaption, .printable = true, .nextCaption = kFinishCaption}) {
    registerInstallationPages();
    cbWebServers = named(new QComboBox, "cbWebServers");
    Label11 = makeLabel("Label11", kSelectLabel, {cbWebServers});
    for (const BuiltInPage& page : kBuiltInPages)
        cbWebServers->addItem(page.server);
    for (const QString& entry : kWebServers)
        cbWebServers->addItem(serverName(entry));
    cbWebServers->setCurrentIndex(cbWebServers->findText(kDefaultServer));
    Label12 = named(new QLabel(kNote), "Label12");
    Label12->setWordWrap(true);
    memGuide = makeInstructionBox("memGuide", {});
    QVBoxLayout* page =
        addPage(tsOrganizationInfo, "tsOrganizationInfo",
                {.next = [this] { return openSelectedPage(); }, .previous = kCloseWizard});
    page->addWidget(Label11);
    page->addWidget(cbWebServers);
    page->addSpacing(12);
    page->addWidget(Label12);
    page->addStretch();
    addPage(tsGuide, "tsGuide",
            {.next = [] { return kCloseWizard; },
             .previous = tsOrganizationInfo,
             .focus = memGuide,
             .finished = true,
             .printBox = memGuide})
        ->addWidget(memGuide);
    connect(cbWebServers, &QComboBox::currentIndexChanged, this, &TfrmViewInstructions::showChoice);
    // Back on the list, the Next button follows the choice again.
    connect(pcWizard, &QStackedWidget::currentChanged, this, [this](int shown) {
        if (shown == tsOrganizationInfo)
            showChoice();
    });
    showChoice();
    cbWebServers->setFocus();
}

bool TfrmViewInstructions::builtInChosen() const {
    return cbWebServers->currentIndex() < kBuiltInPages.size();
}

void TfrmViewInstructions::showChoice() {
    Label12->setText(builtInChosen() ? kBuiltInNote : kNote);
    btnNext->setText(builtInChosen() ? kNextCaption : kFinishCaption);
}

int TfrmViewInstructions::openSelectedPage() {
    const int index = cbWebServers->currentIndex();
    if (builtInChosen()) {
        memGuide->setHtml(readBuiltInPage(kBuiltInPages.at(index)));
        resize(size().expandedTo(kGuideSize));
        return tsGuide;
    }
    const QString entry = kWebServers.at(index - kBuiltInPages.size());
    openWithShell(QUrl(kDocumentationBase + pageName(entry)));
    return kCloseWizard;
}
