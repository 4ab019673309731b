#include "uMainForm.h"

#include "ExpiryForm.h"
#include "FailedRenewalsButton.h"
#include "InstallCertificateForm.h"
#include "uAccessibility.h"
#include "uAcmeForm.h"
#include "uCheckCertificateForm.h"
#include "uExtractRootForm.h"
#include "uGenerateCSRForm.h"
#include "uPassPhraseFiles.h"
#include "uPassPhraseFolder.h"
#include "uPrepareIISForm.h"
#include "uPrepareIndyIntrawebForm.h"
#include "uSelfSignForm.h"
#include "uViewInstructionsForm.h"
#include "uWindowsCommon.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include <memory>

namespace {
const QString kLabel1Caption =
    QStringLiteral("I do not already have a certificate and would like to:");
const QString kGenerateCSRCaption = QStringLiteral(
    "Generate a Certificate Request to send to a certificate authority such as Verisign.");
const QString kSelfSignCaption = QStringLiteral("Generate and self-sign a certificate.");
const QString kAcmeCaption = QStringLiteral("Get a free certificate automatically (ACME)");
const QString kLabel2Caption = QStringLiteral("I already have a certificate and would like to:");
const QString kExtractRootCaption =
    QStringLiteral("Extract a \"Trusted Root Certificate\" for installation into a web server.");
const QString kPrepareIISCaption =
    QStringLiteral("Prepare an SSL certificate for installation in an IIS server.");
const QString kPrepareIndyCaption =
    QStringLiteral("Prepare an SSL certificate for installation in an Indy/IntraWeb server.");
const QString kViewInstallCaption =
    QStringLiteral("Learn how to install my SSL certificate into a web server.");
const QString kCheckCaption = QStringLiteral("Check a certificate or a server");
const QString kInstallCaption = QStringLiteral("Install the certificate from your authority");
const QString kExpiryCaption = QStringLiteral("See when your certificates expire");
const QString kStartCaption = QStringLiteral("Start");
const QString kCloseCaption = QStringLiteral("Close");

constexpr int kRadioIndent = 16;

using WizardFactory = std::unique_ptr<QDialog> (*)(QWidget* owner);

template <class Form> std::unique_ptr<QDialog> createWizard(QWidget* owner) {
    return std::make_unique<Form>(owner);
}

// The wizard that each task opens, in the order in which Start looks at the radio buttons.
struct Task {
    QRadioButton* TfrmCertwright::*button;
    WizardFactory create;
};

const Task kTasks[] = {
    {&TfrmCertwright::rbGenerateCSR, &createWizard<TfrmGenerateCSR>},
    {&TfrmCertwright::rbSelfSign, &createWizard<TfrmSelfSign>},
    {&TfrmCertwright::rbAcme, &createWizard<TfrmAcme>},
    {&TfrmCertwright::rbExtractRoot, &createWizard<TfrmExtractRoot>},
    {&TfrmCertwright::rbPrepareIndy, &createWizard<TfrmPrepareIndyIntraweb>},
    {&TfrmCertwright::rbPrepareIIS, &createWizard<TfrmPrepareIIS>},
    {&TfrmCertwright::rbViewInstall, &createWizard<TfrmViewInstructions>},
    {&TfrmCertwright::rbCheck, &createWizard<TfrmCheckCertificate>},
    {&TfrmCertwright::rbInstall, &createWizard<TfrmInstallCertificate>},
    {&TfrmCertwright::rbExpiry, &createWizard<TfrmExpiry>},
};
} // namespace

TfrmCertwright::TfrmCertwright(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    named(this, "frmCertwright");
    setWindowTitle(kApplicationTitle);

    tasks = new QButtonGroup(this);
    const auto makeRadio = [this](const char* name, const QString& caption) {
        auto* radio = named(new QRadioButton(caption, this), name);
        tasks->addButton(radio);
        radio->installEventFilter(this);
        return radio;
    };
    btnRenewalFailures = new FailedRenewalsButton(this);
    Label1 = named(new QLabel(kLabel1Caption, this), "Label1");
    rbGenerateCSR = makeRadio("rbGenerateCSR", kGenerateCSRCaption);
    rbSelfSign = makeRadio("rbSelfSign", kSelfSignCaption);
    rbAcme = makeRadio("rbAcme", kAcmeCaption);
    Bevel1 = named(new QFrame(this), "Bevel1");
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Label2 = named(new QLabel(kLabel2Caption, this), "Label2");
    rbExtractRoot = makeRadio("rbExtractRoot", kExtractRootCaption);
    rbPrepareIIS = makeRadio("rbPrepareIIS", kPrepareIISCaption);
    rbPrepareIndy = makeRadio("rbPrepareIndy", kPrepareIndyCaption);
    rbViewInstall = makeRadio("rbViewInstall", kViewInstallCaption);
    rbCheck = makeRadio("rbCheck", kCheckCaption);
    rbInstall = makeRadio("rbInstall", kInstallCaption);
    rbExpiry = makeRadio("rbExpiry", kExpiryCaption);
    rbGenerateCSR->setChecked(true);

    btnStart = named(new QPushButton(kStartCaption, this), "btnStart");
    btnStart->setDefault(true);
    btnClose = named(new QPushButton(kCloseCaption, this), "btnClose");
    // A focused button takes Enter itself, as in a dialog.
    btnClose->setAutoDefault(true);
    btnStart->setAutoDefault(true);
    connect(btnStart, &QPushButton::clicked, this, &TfrmCertwright::btnStartClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmCertwright::btnCloseClick);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    const auto addIndented = [layout](QWidget* widget) {
        auto* row = new QHBoxLayout;
        row->addSpacing(kRadioIndent);
        row->addWidget(widget);
        layout->addLayout(row);
    };
    layout->addWidget(btnRenewalFailures, 0, Qt::AlignLeft);
    layout->addWidget(Label1);
    addIndented(rbGenerateCSR);
    addIndented(rbSelfSign);
    addIndented(rbAcme);
    layout->addSpacing(4);
    layout->addWidget(Bevel1);
    layout->addSpacing(4);
    layout->addWidget(Label2);
    addIndented(rbExtractRoot);
    addIndented(rbPrepareIIS);
    addIndented(rbPrepareIndy);
    addIndented(rbViewInstall);
    addIndented(rbCheck);
    addIndented(rbInstall);
    addIndented(rbExpiry);
    layout->addSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnStart);
    buttons->addWidget(btnClose);
    layout->addLayout(buttons);

    // The keyboard visits the tasks in an order of its own, not the order on screen.
    setKeyboardOrder({rbGenerateCSR, rbSelfSign, rbAcme, rbExtractRoot, rbPrepareIndy,
                      rbViewInstall, rbPrepareIIS, rbCheck, rbInstall, rbExpiry});
    setTabOrder(rbExpiry, btnStart);
    setTabOrder(btnStart, btnClose);
    rbGenerateCSR->setFocus();

    adjustSize();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmCertwright::btnStartClick() {
    runGuarded(this, [this] {
        for (const Task& task : kTasks) {
            if (!(this->*task.button)->isChecked())
                continue;
            const std::unique_ptr<QDialog> wizard = task.create(this);
            wizard->exec();
            return;
        }
    });
}

void TfrmCertwright::btnCloseClick() {
    runGuarded(this, [this] { close(); });
}

void TfrmCertwright::closeEvent(QCloseEvent* event) {
    runGuarded(this, [] { emptyPassPhraseFiles(); });
    event->accept();
}

bool TfrmCertwright::eventFilter(QObject* watched, QEvent* event) {
    auto* task = qobject_cast<QRadioButton*>(watched);
    if (event->type() != QEvent::MouseButtonDblClick || !task || !task->isEnabled())
        return QWidget::eventFilter(watched, event);
    task->setChecked(true);
    btnStart->click();
    return true;
}

void TfrmCertwright::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        btnStart->click();
        break;
    case Qt::Key_Escape:
        btnClose->click();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}
