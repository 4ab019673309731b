#include "uViewInstructionsForm.h"

#include "uWindowsCommon.h"

#include <QComboBox>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kDocumentationBase = QStringLiteral("https://www.example.org/docs/webinstall/");

const QString kCaption = QStringLiteral("View Installation Instructions");
const QString kSelectLabel = QStringLiteral("Select a Web Server:");
const QString kNote = QStringLiteral("Note: \nYou must be connected to the internet before "
                                     "continuing.");
const int kDefaultServer = 17;

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

} // namespace

TfrmViewInstructions::TfrmViewInstructions(QWidget* owner)
    : TWizardFrame(owner, WizardLook{.caption = kCaption, .nextCaption = kFinishCaption}) {
    cbWebServers = named(new QComboBox, "cbWebServers");
    Label11 = makeLabel("Label11", kSelectLabel, {cbWebServers});
    for (const QString& entry : kWebServers)
        cbWebServers->addItem(serverName(entry));
    cbWebServers->setCurrentIndex(kDefaultServer);
    Label12 = named(new QLabel(kNote), "Label12");
    QVBoxLayout* page = addPage(tsOrganizationInfo, "tsOrganizationInfo",
                                {.next =
                                     [this] {
                                         openSelectedPage();
                                         return kCloseWizard;
                                     },
                                 .previous = kCloseWizard});
    page->addWidget(Label11);
    page->addWidget(cbWebServers);
    page->addSpacing(12);
    page->addWidget(Label12);
    page->addStretch();
    cbWebServers->setFocus();
}

void TfrmViewInstructions::openSelectedPage() {
    const QString entry = kWebServers.at(cbWebServers->currentIndex());
    openWithShell(QUrl(kDocumentationBase + pageName(entry)));
}
