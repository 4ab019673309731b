#include "uAcmeForm.h"

#include "uAccessibility.h"
#include "uExportFolder.h"
#include "uKeyAndCertificateWizard.h"
#include "uPassPhraseFiles.h"
#include "uReloadCommand.h"
#include "uRenewal.h"
#include "uWindowsCommon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

#include <utility>

#include <sys/stat.h>

namespace {

// The names page.
const QString kNamesCaption =
    QStringLiteral("The names of this server, one per line (the first is the main name):");
const QString kEmailCaption = QStringLiteral("Your e-mail address, for the authority's notices:");
const QString kKeyTypeCaption = QStringLiteral("Key type:");
// In the order of Acme::kKeyTypes.
const QStringList kKeyTypeCaptions = {QStringLiteral("ECDSA P-256"), QStringLiteral("ECDSA P-384"),
                                      QStringLiteral("RSA 2048"), QStringLiteral("RSA 4096")};
const QString kNoNamesMessage =
    QStringLiteral("Please enter the names of this server, such as www.example.com, one per line.");

// The authority page.
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

// The page of how the authority reaches this server.
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

// The outputs page.
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

// The progress page.
const QString kProgressText = QStringLiteral(
    "Getting your certificate from the authority. This usually takes less than a minute.");
const QString kStartingStep = QStringLiteral("Starting...");
const QString kCancellingStep = QStringLiteral("Cancelling...");

// The finished page.
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
const QString kCheckText = QStringLiteral("The check of the new certificate:\n%1");
const QString kCheckFailedText = QStringLiteral("The new certificate could not be checked: %1");
const QString kRenewCaption = QStringLiteral("Renew automatically");
const QString kTimerHint =
    QStringLiteral("To see the timer: systemctl --user list-timers certwright-renew.timer\n"
                   "To see the certificates that it renews: certwright renew --list");

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;
constexpr int kIndent = 20;

// The names as typed: one a line, without blanks around them, empty lines and repeats left
// out.
QStringList namesIn(const QString& text) {
    QStringList names;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString name = line.trimmed();
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names << name;
    }
    return names;
}

QHBoxLayout* indented(QWidget* widget) {
    auto* row = new QHBoxLayout;
    row->addSpacing(kIndent);
    row->addWidget(widget);
    return row;
}

// The wizard as the user of an issuance that runs on another thread: each question is asked
// on the thread of the window, and the issuance waits for the answer.
class WindowThreadUser : public ToolSteps::StepUser {
    TWizardFrame& window;

    // Runs the question on the window's thread and hands back its answer or its exception.
    template <class Ask> auto onWindowThread(Ask ask) {
        decltype(ask()) answer{};
        std::exception_ptr thrown;
        QMetaObject::invokeMethod(
            &window,
            [&] {
                try {
                    answer = ask();
                } catch (...) {
                    thrown = std::current_exception();
                }
            },
            Qt::BlockingQueuedConnection);
        if (thrown)
            std::rethrow_exception(thrown);
        return answer;
    }

  public:
    explicit WindowThreadUser(TWizardFrame& window) : window(window) {}

    PassPhrases askPassPhrases(PassPhraseUse use) override {
        return onWindowThread([&] { return window.askPassPhrases(use); });
    }
    bool mayReplace(const QString& question, bool keepIsDefault) override {
        return onWindowThread([&] { return window.mayReplace(question, keepIsDefault); });
    }
    void tell(const QString& notice) override {
        onWindowThread([&] {
            window.tell(notice);
            return true;
        });
    }
};

} // namespace

TfrmAcme::TfrmAcme(QWidget* owner) : TWizardFrame(owner, WizardLook{.caption = kCaption}) {
    addNamesPage();
    addAuthorityPage();
    addReachPage();
    addOutputsPage();
    addProgressPage();
    addFinishedPage();
}

TfrmAcme::~TfrmAcme() {
    if (worker) {
        cancel->cancel();
        worker->wait();
    }
    if (termsLookup) {
        termsStop->cancel();
        termsLookup->wait();
        delete termsLookup;
    }
}

void TfrmAcme::addNamesPage() {
    memNames = named(new QPlainTextEdit, "memNames");
    memNames->setTabChangesFocus(true);
    lblNames = makeLabel("lblNames", kNamesCaption, {memNames});
    edtEmail = named(new QLineEdit, "edtEmail");
    lblEmail = makeLabel("lblEmail", kEmailCaption, {edtEmail});
    cbKeyType = named(new QComboBox, "cbKeyType");
    cbKeyType->addItems(kKeyTypeCaptions);
    lblKeyType = makeLabel("lblKeyType", kKeyTypeCaption, {cbKeyType});

    QVBoxLayout* page = addPage(tsNames, "tsNames",
                                {.next =
                                     [this] {
                                         leaveNamesPage();
                                         return int(tsAuthority);
                                     },
                                 .previous = kCloseWizard,
                                 .focus = memNames});
    page->addWidget(lblNames);
    page->addWidget(memNames);
    page->addWidget(lblEmail);
    page->addWidget(edtEmail);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(lblKeyType);
    keyRow->addWidget(cbKeyType);
    keyRow->addStretch();
    page->addLayout(keyRow);
    memNames->setFocus();
}

void TfrmAcme::addAuthorityPage() {
    rbLetsEncrypt = named(new QRadioButton(kLetsEncryptCaption), "rbLetsEncrypt");
    rbLetsEncryptStaging = named(new QRadioButton(kStagingCaption), "rbLetsEncryptStaging");
    rbOtherAuthority = named(new QRadioButton(kOtherAuthorityCaption), "rbOtherAuthority");
    rbLetsEncrypt->setChecked(true);
    edtDirectory = named(new QLineEdit, "edtDirectory");
    edtDirectory->setAccessibleName(nameFromLabel(kOtherAuthorityCaption));
    lblCaFile = makeLabel("lblCaFile", kCaFileCaption);
    const BrowseField caFile = makeBrowseField(lblCaFile, "edtCaFile", "btnCaFile", kChooseCaFile);
    edtCaFile = caFile.edit;
    btnCaFile = caFile.button;
    // No authority is asked anything before the user has chosen it: its terms are read on
    // Next or by this button.
    btnShowTerms = named(new QPushButton(kShowTermsCaption), "btnShowTerms");
    describeButton(btnShowTerms, kShowTermsDescription);
    lblTerms = makeLabel("lblTerms", kTermsNotRead.toHtmlEscaped(), true);
    lblTerms->setTextFormat(Qt::RichText);
    lblTerms->setTextInteractionFlags(Qt::TextBrowserInteraction);
    cbAgreeTerms = named(new QCheckBox(kAgreeCaption), "cbAgreeTerms");
    cbAgreeTerms->setEnabled(false);

    QVBoxLayout* page = addPage(tsAuthority, "tsAuthority",
                                {.next = [this] { return leaveAuthorityPage(); },
                                 .previous = tsNames,
                                 .focus = btnShowTerms});
    page->addWidget(rbLetsEncrypt);
    page->addWidget(rbLetsEncryptStaging);
    page->addWidget(rbOtherAuthority);
    page->addLayout(indented(edtDirectory));
    auto* caLabelRow = indented(lblCaFile);
    page->addLayout(caLabelRow);
    caFile.row->insertSpacing(0, kIndent);
    page->addLayout(caFile.row);
    page->addWidget(btnShowTerms, 0, Qt::AlignLeft);
    page->addWidget(lblTerms);
    page->addWidget(cbAgreeTerms);
    page->addStretch();

    for (QRadioButton* choice : {rbLetsEncrypt, rbLetsEncryptStaging, rbOtherAuthority})
        connect(choice, &QRadioButton::toggled, this, &TfrmAcme::authorityChoiceChanged);
    // Typing an address chooses it.
    connect(edtDirectory, &QLineEdit::textEdited, rbOtherAuthority,
            [this] { rbOtherAuthority->setChecked(true); });
    for (QLineEdit* field : {edtDirectory, edtCaFile})
        connect(field, &QLineEdit::textChanged, this, &TfrmAcme::authorityChoiceChanged);
    connect(btnShowTerms, &QPushButton::clicked, this, &TfrmAcme::btnShowTermsClick);
    connect(btnCaFile, &QPushButton::clicked, this, &TfrmAcme::btnCaFileClick);
    connect(lblTerms, &QLabel::linkActivated, this,
            [](const QString& link) { openWithShell(QUrl(link)); });
}

void TfrmAcme::addReachPage() {
    lblReach = makeLabel("lblReach", kReachText, true);
    rbStandalone = named(new QRadioButton(kStandaloneCaption), "rbStandalone");
    spnHttpPort = named(new QSpinBox, "spnHttpPort");
    spnHttpPort->setRange(kLowestPort, kHighestPort);
    spnHttpPort->setValue(Acme::kDefaultHttpPort);
    auto* portLabel = makeLabel("lblHttpPort", kPortCaption, {spnHttpPort});
    lblPortNote = makeLabel("lblPortNote", kPortNote, true);
    rbStandalone->setChecked(true);
    rbWebRoot = named(new QRadioButton(kWebRootCaption), "rbWebRoot");
    auto* webRootLabel = makeLabel("lblWebRoot", kWebRootFieldCaption);
    const BrowseField webRoot =
        makeBrowseField(webRootLabel, "edtWebRoot", "btnWebRoot", kChooseWebRoot);
    edtWebRoot = webRoot.edit;
    btnWebRoot = webRoot.button;

    QVBoxLayout* page = addPage(tsReach, "tsReach",
                                {.next =
                                     [this] {
                                         leaveReachPage();
                                         return int(tsOutputs);
                                     },
                                 .previous = tsAuthority,
                                 .focus = rbStandalone});
    page->addWidget(lblReach);
    page->addWidget(rbStandalone);
    auto* portRow = indented(portLabel);
    portRow->addWidget(spnHttpPort);
    portRow->addStretch();
    page->addLayout(portRow);
    page->addLayout(indented(lblPortNote));
    page->addWidget(rbWebRoot);
    webRoot.row->insertWidget(0, webRootLabel);
    webRoot.row->insertSpacing(0, kIndent);
    page->addLayout(webRoot.row);
    page->addStretch();

    connect(edtWebRoot, &QLineEdit::textEdited, rbWebRoot, [this] { rbWebRoot->setChecked(true); });
    connect(spnHttpPort, &QSpinBox::valueChanged, rbStandalone,
            [this] { rbStandalone->setChecked(true); });
    connect(btnWebRoot, &QPushButton::clicked, this, &TfrmAcme::btnWebRootClick);
}

void TfrmAcme::addOutputsPage() {
    lblOutputs = makeLabel("lblOutputs", kOutputsCaption);
    cbForNginx = named(new QCheckBox(kNginxCaption), "cbForNginx");
    cbForNginx->setChecked(true);
    cbForIis = named(new QCheckBox(kIisCaption), "cbForIis");
    cbLegacyPfx = named(new QCheckBox(kLegacyPfxCaption), "cbLegacyPfx");
    cbLegacyPfx->setEnabled(false);
    cbForIndy = named(new QCheckBox(kIndyCaption), "cbForIndy");
    lblExportPath = makeLabel("lblExportPath", TKeyAndCertificateWizard::kExportPathCaption);
    const BrowseField exportPath =
        makeBrowseField(lblExportPath, "edtExportPath", "btnExportPath", kChooseExportFolder);
    edtExportPath = exportPath.edit;
    btnExportPath = exportPath.button;
    edtExportPath->setText(defaultExportFolder());
    edtReload = named(new QLineEdit, "edtReload");
    edtReload->setPlaceholderText(kReloadExample);
    lblReload = makeLabel("lblReload", kReloadCaption, {edtReload});

    QVBoxLayout* page = addPage(tsOutputs, "tsOutputs",
                                {.next =
                                     [this] {
                                         leaveOutputsPage();
                                         return int(tsProgress);
                                     },
                                 .previous = tsReach,
                                 .focus = cbForNginx});
    page->addWidget(lblOutputs);
    page->addWidget(cbForNginx);
    page->addWidget(cbForIis);
    page->addLayout(indented(cbLegacyPfx));
    page->addWidget(cbForIndy);
    addBrowseField(page, lblExportPath, exportPath);
    page->addWidget(lblReload);
    page->addWidget(edtReload);
    page->addStretch();

    connect(cbForIis, &QCheckBox::toggled, cbLegacyPfx, &QCheckBox::setEnabled);
    connect(btnExportPath, &QPushButton::clicked, this, &TfrmAcme::btnExportPathClick);
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

void TfrmAcme::addFinishedPage() {
    lblFinished = makeLabel("lblFinished", QString(), true);
    lblFinished->setTextFormat(Qt::PlainText);
    lblPassPhraseKept = makeLabel("lblPassPhraseKept", QString(), true);
    lblPassPhraseKept->setTextFormat(Qt::PlainText);
    lblPassPhraseKept->hide();
    lblReloadProblem = makeLabel("lblReloadProblem", QString(), true);
    lblReloadProblem->setTextFormat(Qt::PlainText);
    lblReloadProblem->hide();
    lblCheck = makeLabel("lblCheck", QString(), true);
    lblCheck->setTextFormat(Qt::PlainText);
    lblCheck->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cbRenewAutomatically = named(new QCheckBox(kRenewCaption), "cbRenewAutomatically");
    cbRenewAutomatically->setChecked(true);
    QVBoxLayout* page = addPage(tsFinished, "tsFinished",
                                {.next =
                                     [this] {
                                         leaveFinishedPage();
                                         return kCloseWizard;
                                     },
                                 .previous = tsOutputs,
                                 .focus = btnNext,
                                 .finished = true});
    page->addWidget(lblFinished);
    addMadeFilesPanel(page);
    page->addWidget(lblPassPhraseKept);
    page->addWidget(lblReloadProblem);
    // The check's warnings, each with what to do, may be longer than the page has room for.
    auto* checkArea = named(new QScrollArea, "scrCheck");
    checkArea->setAccessibleName(kCheckAreaName);
    checkArea->setWidgetResizable(true);
    checkArea->setFrameShape(QFrame::NoFrame);
    checkArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    checkArea->setWidget(lblCheck);
    page->addWidget(checkArea, 1);
    page->addWidget(cbRenewAutomatically);
    page->addStretch();
}

QString TfrmAcme::directoryAddress() const {
    if (rbLetsEncrypt->isChecked())
        return Acme::kLetsEncryptDirectory;
    if (rbLetsEncryptStaging->isChecked())
        return Acme::kLetsEncryptStagingDirectory;
    return edtDirectory->text().trimmed();
}

QString TfrmAcme::defaultExportFolder() {
    return withTrailingSeparator(QDir::homePath() + QLatin1Char('/') + kDefaultFolderName);
}

Acme::AcmeValues TfrmAcme::values() const {
    Acme::AcmeValues chosen;
    chosen.names = namesIn(memNames->toPlainText());
    chosen.email = edtEmail->text().trimmed();
    chosen.keyType = Acme::kKeyTypes.value(cbKeyType->currentIndex(), Acme::kKeyEc256);
    chosen.server = directoryAddress();
    if (rbOtherAuthority->isChecked())
        chosen.caBundle = edtCaFile->text().trimmed();
    if (rbWebRoot->isChecked())
        chosen.webRoot = edtWebRoot->text();
    else
        chosen.httpPort = spnHttpPort->value();
    const std::pair<QCheckBox*, QString> outputs[] = {{cbForNginx, ServerFiles::kForNginx},
                                                      {cbForIis, ServerFiles::kForIis},
                                                      {cbForIndy, ServerFiles::kForIndy}};
    for (const auto& [box, kind] : outputs)
        if (box->isChecked())
            chosen.outputs << kind;
    chosen.outFolder = edtExportPath->text();
    chosen.legacyPfx = cbForIis->isChecked() && cbLegacyPfx->isChecked();
    chosen.reloadCommand =
        ReloadCommand::resolve(edtReload->text(), desktopToolContext().currentFolder);
    return chosen;
}

void TfrmAcme::leaveNamesPage() const {
    const QStringList names = namesIn(memNames->toPlainText());
    if (names.isEmpty())
        throw PageError(kNoNamesMessage);
    Acme::checkNamesAndEmail(names, edtEmail->text().trimmed());
}

int TfrmAcme::leaveAuthorityPage() {
    if (directoryAddress().isEmpty())
        throw PageError(kNoDirectoryMessage);
    // Next first reads the terms of the authority chosen, for the user to agree to.
    if (shownTerms != chosenTerms()) {
        lookUpTerms();
        return tsAuthority;
    }
    if (!cbAgreeTerms->isChecked())
        throw PageError(kMustAgreeMessage);
    return tsReach;
}

void TfrmAcme::leaveReachPage() const {
    if (!rbWebRoot->isChecked())
        return;
    const QString webRoot = edtWebRoot->text();
    if (webRoot.trimmed().isEmpty())
        throw PageError(kNoWebRootMessage);
    const QString problem = Acme::webRootProblem(webRoot);
    if (!problem.isEmpty())
        throw PageError(kWebRootMessage.arg(webRoot, problem));
}

void TfrmAcme::leaveOutputsPage() {
    Acme::AcmeValues chosen = values();
    if (chosen.outputs.isEmpty())
        throw PageError(kNoOutputMessage);
    if (chosen.outFolder.trimmed().isEmpty())
        throw PageError(kNoExportFolderMessage);
    // The folder offered first is made the first time it is used, for the user alone.
    if (chosen.outFolder == defaultExportFolder())
        ::mkdir(QFile::encodeName(chosen.outFolder).constData(), S_IRWXU);
    const ToolContext context = desktopToolContext();
    requirePrivateExportFolder(chosen.outFolder, context.currentFolder);
    if (chosen.outputs.contains(ServerFiles::kForIis) ||
        chosen.outputs.contains(ServerFiles::kForIndy)) {
        chosen.passPhrase = askPassPhrases(PassPhraseUse::ServerFiles).fresh;
    }
    Acme::checkValues(chosen, context);
    startIssuance(chosen);
}

void TfrmAcme::leaveFinishedPage() {
    if (!cbRenewAutomatically->isChecked())
        return;
    const Renewal::TimerInstallation installed =
        Renewal::installTimer(QCoreApplication::applicationFilePath(), false);
    tell(installed.message + QStringLiteral("\n\n") + kTimerHint);
}

TfrmAcme::TermsKey TfrmAcme::chosenTerms() const {
    return {directoryAddress(),
            rbOtherAuthority->isChecked() ? edtCaFile->text().trimmed() : QString()};
}

void TfrmAcme::authorityChoiceChanged() {
    if (shownTerms == chosenTerms())
        return;
    // Agreeing to one authority's terms is no agreement to another's.
    shownTerms.reset();
    cbAgreeTerms->setChecked(false);
    cbAgreeTerms->setEnabled(false);
    stopTermsLookup();
    lblTerms->setText(
        (directoryAddress().isEmpty() ? kNoDirectoryYet : kTermsNotRead).toHtmlEscaped());
}

void TfrmAcme::btnShowTermsClick() {
    runGuarded(this, [this] {
        if (directoryAddress().isEmpty())
            throw PageError(kNoDirectoryMessage);
        lookUpTerms();
    });
}

void TfrmAcme::lookUpTerms() {
    if (termsLookup)
        return;
    const TermsKey key = chosenTerms();
    lblTerms->setText(kTermsLookingUp.toHtmlEscaped());
    // While it reads, Cancel (and Escape) stops the reading, and the page stays.
    btnNext->setEnabled(false);
    btnShowTerms->setEnabled(false);
    btnPrevious->setText(kCancelCaption);
    termsStop = std::make_unique<RunCancel>();
    RunCancel* stop = termsStop.get();
    termsLookup = QThread::create([this, key, stop] {
        QString address;
        QString problem;
        try {
            address = Acme::termsOfService(key.directory, key.caFile, kTermsTimeLimitMs, stop);
        } catch (const PageError& error) {
            problem = kTermsProblem.arg(withFullStop(error.message()), error.explanation());
        } catch (const std::exception& error) {
            problem = kTermsProblem.arg(QString::fromLocal8Bit(error.what()), QString());
        }
        QMetaObject::invokeMethod(
            this, [this, key, address, problem] { showTerms(key, address, problem); },
            Qt::QueuedConnection);
    });
    named(termsLookup, "thrTermsLookup");
    connect(termsLookup, &QThread::finished, this, &TfrmAcme::termsLookupEnded);
    termsLookup->start();
}

void TfrmAcme::stopTermsLookup() {
    if (termsStop)
        termsStop->cancel();
}

void TfrmAcme::termsLookupEnded() {
    termsLookup->wait();
    delete termsLookup;
    termsLookup = nullptr;
    const bool stopped = termsStop->cancelled();
    termsStop.reset();
    btnNext->setEnabled(true);
    btnShowTerms->setEnabled(true);
    btnPrevious->setText(kBackCaption);
    if (stopped && !shownTerms)
        lblTerms->setText(
            (directoryAddress().isEmpty() ? kNoDirectoryYet : kTermsStopped).toHtmlEscaped());
}

void TfrmAcme::showTerms(const TermsKey& key, const QString& address, const QString& problem) {
    if (chosenTerms() != key || (termsStop && termsStop->cancelled()))
        return;
    shownTerms = key;
    if (problem.isEmpty())
        lblTerms->setText(kTermsShown.arg(address.toHtmlEscaped(), address.toHtmlEscaped()));
    else
        lblTerms->setText(problem.trimmed().toHtmlEscaped());
    cbAgreeTerms->setEnabled(true);
    cbAgreeTerms->setFocus();
}

void TfrmAcme::startIssuance(const Acme::AcmeValues& chosen) {
    cancel = std::make_unique<Acme::Cancel>();
    result = Acme::AcmeResult();
    failure = nullptr;
    pbProgress->setValue(0);
    lblStep->setText(kStartingStep);
    const ToolContext context = desktopToolContext();
    Acme::Cancel* stopper = cancel.get();
    worker = QThread::create([this, chosen, context, stopper] {
        WindowThreadUser user(*this);
        try {
            result = Renewal::obtainAndRecord(
                chosen, user, context,
                [this](const QString& step, double fraction) {
                    QMetaObject::invokeMethod(
                        this, [this, step, fraction] { showProgress(step, fraction); },
                        Qt::QueuedConnection);
                },
                stopper);
            try {
                checkText = kCheckText.arg(CertificateCheck::problemsText(
                    Acme::checkResult(chosen, result, context).problems));
            } catch (const PageError& error) {
                checkText = kCheckFailedText.arg(error.message());
            }
        } catch (...) {
            failure = std::current_exception();
        }
    });
    named(worker, "thrIssuance");
    connect(worker, &QThread::finished, this, &TfrmAcme::issuanceEnded);
    // While it runs, the only way on is Cancel.
    btnNext->setEnabled(false);
    btnPrevious->setText(kCancelCaption);
    worker->start();
}

void TfrmAcme::showProgress(const QString& step, double fraction) {
    if (!worker || cancel->cancelled())
        return;
    lblStep->setText(step);
    pbProgress->setValue(qRound(qBound(0.0, fraction, 1.0) * kProgressSteps));
}

void TfrmAcme::issuanceEnded() {
    worker->wait();
    delete worker;
    worker = nullptr;
    cancel.reset();
    btnNext->setEnabled(true);
    btnPrevious->setText(kBackCaption);
    if (std::exchange(closeWhenEnded, false)) {
        QDialog::reject();
        return;
    }
    if (failure) {
        const std::exception_ptr thrown = std::exchange(failure, nullptr);
        arriveAt(tsOutputs);
        runGuarded(this, [&thrown] { std::rethrow_exception(thrown); });
        return;
    }
    lblFinished->setText(kFinishedText.arg(result.expiry.toUTC().toString(kDateFormat)));
    madeFiles->showMadeFiles(result.made);
    lblPassPhraseKept->setText(kPassPhraseKeptText.arg(result.passPhrasePath));
    lblPassPhraseKept->setVisible(!result.passPhrasePath.isEmpty());
    lblReloadProblem->setText(kReloadProblemText.arg(result.reloadProblem));
    lblReloadProblem->setVisible(!result.reloadProblem.isEmpty());
    lblCheck->setText(checkText.trimmed());
    arriveAt(tsFinished);
}

void TfrmAcme::btnPreviousClick() {
    if (termsLookup) {
        stopTermsLookup();
        return;
    }
    if (!worker) {
        TWizardFrame::btnPreviousClick();
        return;
    }
    lblStep->setText(kCancellingStep);
    cancel->cancel();
}

void TfrmAcme::reject() {
    if (!worker) {
        stopTermsLookup();
        QDialog::reject();
        return;
    }
    closeWhenEnded = true;
    btnPreviousClick();
}

void TfrmAcme::btnCaFileClick() {
    runGuarded(this, [this] {
        QFileDialog dialog(this, kCaFileDialogTitle, QFileInfo(edtCaFile->text()).path());
        named(&dialog, "dlgCaFile");
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(kCaFileFilters);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return;
        edtCaFile->setText(dialog.selectedFiles().constFirst());
        rbOtherAuthority->setChecked(true);
    });
}

void TfrmAcme::btnWebRootClick() {
    runGuarded(this, [this] {
        chooseFolder(edtWebRoot, QDir::rootPath());
        if (!edtWebRoot->text().isEmpty())
            rbWebRoot->setChecked(true);
    });
}

void TfrmAcme::btnExportPathClick() {
    runGuarded(this, [this] { chooseFolder(edtExportPath, QDir::homePath()); });
}
