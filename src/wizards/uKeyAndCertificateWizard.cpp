#include "uKeyAndCertificateWizard.h"

#include "CertificateText.h"
#include "UserFile.h"
#include "uAccessibility.h"
#include "uCertificateCheck.h"
#include "uExportFolder.h"
#include "uFreshFile.h"
#include "uOutputReplacement.h"
#include "uWindowsCommon.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSslCertificate>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The scrolled summary of the pasted certificate, as a screen reader names it.
const QString kCertificateInfoName = QStringLiteral("Certificate summary");
const QString kKeyPageMessage =
    QStringLiteral("Please make sure that both files and a path are specified before "
                   "continuing.");
const QString kCertificateMessage =
    QStringLiteral("Your cert must begin with \"-----BEGIN CERTIFICATE-----\" and end with "
                   "\"-----END CERTIFICATE-----\".");
const QString kFriendlyNameMessage =
    QStringLiteral("The common name \"%1\" holds the character \"%2\", which a certificate "
                   "bundle cannot carry. Please use other characters.");
const QString kTemporaryCertificateName = QStringLiteral("__cert.txt");
// The authority certificates of a pasted chain, in order, for the step; in a private scratch
// folder, never beside the user's files.
const QString kPastedChainName = QStringLiteral("chain.pem");
const QByteArray kPemCertificateMark = QByteArrayLiteral("-----BEGIN CERTIFICATE-----");
const OpenFileSetup kSelectKeySetup{
    "dlgSelectKey",
    QStringLiteral("Select a Key File"),
    {QStringLiteral("KEY Files (*.key)"), TKeyAndCertificateWizard::kAllFilesFilter},
    QStringLiteral("key")};

const OpenFileSetup kLoadCertificateSetup{
    "dlgLoadCertificate",
    QStringLiteral("Load a Certificate File"),
    {QStringLiteral("Certificate Files (*.pem *.crt *.cer *.der *.p7b *.p7c)"),
     TKeyAndCertificateWizard::kAllFilesFilter},
    QString()};
const QString kNoCertificateInFile =
    QStringLiteral("The file \"%1\" holds no certificate: it is not a certificate or a chain in "
                   "PEM, DER or PKCS#7 form.");
const QString kCommonNameCaption = QStringLiteral("Enter a common name for your domain:");
const QString kPasteCertCaption = QStringLiteral("Paste your server certificate here:");
const QString kChooseKeyFile = QStringLiteral("Choose the key file");
const QString kCertificateExtensions[] = {QStringLiteral(".cer"), QStringLiteral(".crt")};
const QString kCertificatePrefix = QStringLiteral("--");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kReadFailure = QStringLiteral("Cannot read the certificate file \"%1\". %2");
const QString kWriteFailure = QStringLiteral("Cannot write the certificate file \"%1\". %2");
const QString kSubjectLine = QStringLiteral("Subject: %1");
const QString kAlternativeNamesLine = QStringLiteral("Alternative names: %1");
const QString kNoAlternativeNames = QStringLiteral("none");
const QString kMoreAlternativeNames = QStringLiteral("%1 and %2 more");
const QString kIssuerLine = QStringLiteral("Issuer: %1");
const QString kValidUntilLine = QStringLiteral("Valid until: %1");
// Below the server certificate: the authorities that issued it, up to where the chain ends.
const QString kChainHeading = QStringLiteral("Chain:");
const QString kChainEntry = QStringLiteral("  %1");
// The paste box never shrinks below this many lines for the summary.
constexpr int kSmallestBoxLines = 5;
// A long list of alternative names would push the paste box out of the page.
constexpr int kShownAlternativeNames = 4;
// The attributes of a name in the order that a reader looks for them; others follow.
const QString kEmailPrefix = QStringLiteral("email:");
const QString kDnsPrefix = QStringLiteral("DNS:");
const QString kIpAddressPrefix = QStringLiteral("IP:");
const QString kNotRegularFile = QStringLiteral("It is not a regular file.");
// What to do about a chain, as this page can do it: the check's own advice names buttons and
// commands that are not here.
const QHash<QString, QString> kPastePageAdvice = {
    {CertificateCheck::kChainIncomplete,
     QStringLiteral("Paste the authority's certificate below the server certificate, or add "
                    "its file with \"Load...\".")},
    {CertificateCheck::kChainOrder,
     QStringLiteral("Nothing needs to be done: the files are made with the certificates in "
                    "that order.")},
};

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The content of a certificate file: the one beside the key, or one that the user loads. It is
// opened without waiting (a FIFO put in its place between the lookup and the opening must not
// block) and read only when it is a regular file of at most the size that a certificate file
// can sensibly have.
QByteArray readCertificateFile(const QString& path) {
    UserFile::Failure failure;
    const std::optional<QByteArray> content = UserFile::read(
        path, {.largestBytes = TKeyAndCertificateWizard::kLargestSiblingCertificate}, &failure);
    if (content)
        return *content;
    switch (failure.refusal) {
    case UserFile::Refusal::NotRegular:
        throw PageError(kReadFailure.arg(path, kNotRegularFile));
    case UserFile::Refusal::TooLarge:
        throw PageError(TKeyAndCertificateWizard::kSiblingTooLargeMessage.arg(path));
    default:
        throw PageError(kReadFailure.arg(path, failure.systemReason()));
    }
}

// The open-file dialog. Qt gives every typed name without an extension the default one, even
// a name that is an existing file as typed (a key file "mykey"); such a file is taken as it is,
// and the confirm button stays usable for it.
class OpenFileDialog : public QFileDialog {
  public:
    OpenFileDialog(QWidget* parent, const QString& caption, const QString& folder)
        : QFileDialog(parent, caption, folder) {
        setOption(QFileDialog::DontUseNativeDialog);
        keepConfirmButtonUsable(this, [this] { return FileIsPresent(nameAsTyped()); });
    }

    void accept() override {
        if (FileIsPresent(nameAsTyped())) {
            setDefaultSuffix(QString());
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

  private:
    // The chosen file without the default extension that Qt adds to a name without one.
    QString nameAsTyped() {
        const QString defaultExtension = defaultSuffix();
        setDefaultSuffix(QString());
        const QString typed = selectedFiles().value(0);
        setDefaultSuffix(defaultExtension);
        return typed;
    }
};

QString alternativeNamePrefix(QSsl::AlternativeNameEntryType type) {
    switch (type) {
    case QSsl::EmailEntry:
        return kEmailPrefix;
    case QSsl::DnsEntry:
        return kDnsPrefix;
    case QSsl::IpAddressEntry:
        return kIpAddressPrefix;
    }
    return QString();
}

QString alternativeNamesText(const QSslCertificate& certificate) {
    QStringList entries;
    for (const auto& [type, value] : CertificateText::alternativeNameEntries(certificate))
        entries << alternativeNamePrefix(type) + value;
    if (entries.isEmpty())
        return kNoAlternativeNames;
    const QString shown = entries.mid(0, kShownAlternativeNames).join(QStringLiteral(", "));
    if (entries.size() <= kShownAlternativeNames)
        return shown;
    return kMoreAlternativeNames.arg(shown).arg(entries.size() - kShownAlternativeNames);
}

// The certificates that the box holds as PEM blocks; anything else in it is passed over.
QList<QSslCertificate> pastedCertificates(const QString& boxText) {
    QList<QSslCertificate> found = QSslCertificate::fromData(boxText.toUtf8(), QSsl::Pem);
    found.removeIf([](const QSslCertificate& certificate) { return certificate.isNull(); });
    return found;
}

QByteArray pemOf(const QList<QSslCertificate>& certificates) {
    QByteArray pem;
    for (const QSslCertificate& certificate : certificates)
        pem += certificate.toPem();
    return pem;
}

// What the paste page tells about a certificate; the check below the chain warns of what is
// wrong with it.
QString certificateSummary(const QSslCertificate& certificate) {
    using CertificateText::Name;
    return QStringList{
        kSubjectLine.arg(CertificateText::nameText(certificate, Name::Subject)),
        kAlternativeNamesLine.arg(alternativeNamesText(certificate)),
        kIssuerLine.arg(CertificateText::nameText(certificate, Name::Issuer)),
        kValidUntilLine.arg(CertificateText::shortDateText(certificate.expiryDate()))}
        .join(QLatin1Char('\n'));
}

} // namespace

TKeyAndCertificateWizard::TKeyAndCertificateWizard(QWidget* owner, const WizardLook& look)
    : TWizardFrame(owner, look) {}

QString TKeyAndCertificateWizard::siblingCertificate(const QString& keyFile) {
    for (const QString& extension : kCertificateExtensions) {
        const QString candidate = ToolSteps::withExtension(keyFile, extension);
        if (FileIsPresent(candidate))
            return candidate;
    }
    return QString();
}

QString TKeyAndCertificateWizard::certificateText(const QString& boxText) {
    // A final line end closes the last line rather than opening an empty one.
    QStringList lines = boxText.split(QLatin1Char('\n'));
    if (lines.constLast().isEmpty())
        lines.removeLast();
    QString text;
    for (const QString& line : lines)
        text += line + kLineEnd;
    return text;
}

bool TKeyAndCertificateWizard::passesCertificateCheck(const QString& certificateText) {
    return certificateText.left(kCertificatePrefix.size()) == kCertificatePrefix;
}

QString TKeyAndCertificateWizard::temporaryCertificatePath(const QString& exportFolder) {
    return withTrailingSeparator(exportFolder) + kTemporaryCertificateName;
}

QString TKeyAndCertificateWizard::folderOfFile(const QString& fileText) {
    if (fileText.isEmpty())
        return QString();
    return withTrailingSeparator(QFileInfo(fileText).absolutePath());
}

void TKeyAndCertificateWizard::addKeyPage(int index, int previous) {
    lblSelectKeyFile = makeLabel("lblSelectKeyFile", kOpenSSLKeyCaption);
    const BrowseField keyFile =
        makeBrowseField(lblSelectKeyFile, "edtKeyFile", "btnKeyFile", kChooseKeyFile);
    edtKeyFile = keyFile.edit;
    btnKeyFile = keyFile.button;
    Label8 = makeLabel("Label8", kExportPathCaption);
    const BrowseField exportPath =
        makeBrowseField(Label8, "edtExportPath", "btnCertExport", kChooseExportFolder);
    edtExportPath = exportPath.edit;
    btnCertExport = exportPath.button;
    edtCommonName = named(new QLineEdit, "edtCommonName");
    Label9 = makeLabel("Label9", kCommonNameCaption, {edtCommonName});
    QVBoxLayout* page = addPage(index, "tsSelectKey",
                                {.next =
                                     [this] {
                                         leaveKeyPage();
                                         return pastePage;
                                     },
                                 .previous = previous,
                                 .focus = edtKeyFile});
    addBrowseField(page, lblSelectKeyFile, keyFile);
    addBrowseField(page, Label8, exportPath);
    page->addWidget(Label9);
    page->addWidget(edtCommonName);
    page->addStretch();

    setTabOrder(edtKeyFile, btnKeyFile);
    setTabOrder(btnKeyFile, edtExportPath);
    setTabOrder(edtExportPath, btnCertExport);
    setTabOrder(btnCertExport, edtCommonName);
    connect(btnKeyFile, &QPushButton::clicked, this, &TKeyAndCertificateWizard::btnKeyFileClick);
    connect(btnCertExport, &QPushButton::clicked, this,
            &TKeyAndCertificateWizard::btnCertExportClick);
}

void TKeyAndCertificateWizard::addPastePage(int index, int previous, int finished) {
    pastePage = index;
    memPasteCert = named(new QTextEdit, "memPasteCert");
    Label7 = makeLabel("Label7", kPasteCertCaption, {memPasteCert});
    QVBoxLayout* page = addPage(index, "tsPasteCert",
                                {.next =
                                     [this, finished] {
                                         showSummaryNow();
                                         showMade(leavePastePage());
                                         return finished;
                                     },
                                 .previous = previous,
                                 .focus = memPasteCert});
    page->addWidget(Label7);
    memPasteCert->setAcceptRichText(false);
    memPasteCert->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the buttons: a certificate never holds a tab.
    memPasteCert->setTabChangesFocus(true);
    page->addWidget(memPasteCert);
    btnLoadCertificate = named(new QPushButton(kLoadCaption), "btnLoadCertificate");
    describeButton(btnLoadCertificate, kLoadDescription);
    page->addWidget(btnLoadCertificate, 0, Qt::AlignLeft);
    setTabOrder(memPasteCert, btnLoadCertificate);
    connect(btnLoadCertificate, &QPushButton::clicked, this,
            &TKeyAndCertificateWizard::btnLoadCertificateClick);
    // Without a name of its own, so that a screen reader reads the details it shows.
    lblCertificateInfo = makeLabel("lblCertificateInfo", QString(), true);
    lblCertificateInfo->setTextFormat(Qt::PlainText);
    lblCertificateInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The summary with the check's warnings can be longer than the page: it scrolls, and the
    // box keeps room for a few lines of the certificate.
    memPasteCert->setMinimumHeight(kSmallestBoxLines * memPasteCert->fontMetrics().lineSpacing() +
                                   2 * memPasteCert->frameWidth());
    scrCertificateInfo = named(new QScrollArea, "scrCertificateInfo");
    scrCertificateInfo->setAccessibleName(kCertificateInfoName);
    scrCertificateInfo->setWidgetResizable(true);
    scrCertificateInfo->setFrameShape(QFrame::NoFrame);
    scrCertificateInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrCertificateInfo->setWidget(lblCertificateInfo);
    scrCertificateInfo->hide();
    page->addWidget(scrCertificateInfo);
    summaryPause = new QTimer(this);
    summaryPause->setSingleShot(true);
    summaryPause->setInterval(kSummaryPauseMs);
    connect(memPasteCert, &QTextEdit::textChanged, summaryPause, qOverload<>(&QTimer::start));
    connect(summaryPause, &QTimer::timeout, this, &TKeyAndCertificateWizard::memPasteCertChange);
}

void TKeyAndCertificateWizard::showSummaryNow() {
    if (!summaryPause->isActive())
        return;
    summaryPause->stop();
    memPasteCertChange();
}

void TKeyAndCertificateWizard::memPasteCertChange() {
    const QList<QSslCertificate> found = pastedCertificates(memPasteCert->toPlainText());
    QString summary;
    if (!found.isEmpty()) {
        const CertificateChain chain = orderChain(found, publicKeyOfKey());
        QStringList lines{certificateSummary(chain.server), kChainHeading};
        for (const QString& line : chainSummaryLines(chain))
            lines << kChainEntry.arg(line);
        const QString problems = problemsOf(found);
        if (!problems.isEmpty())
            lines << problems;
        summary = lines.join(QLatin1Char('\n'));
    }
    lblCertificateInfo->setText(summary);
    scrCertificateInfo->setVisible(!found.isEmpty());
}

QString TKeyAndCertificateWizard::problemsOf(const QList<QSslCertificate>& certificates) {
    if (checked && checked->certificates == certificates)
        return checked->problems;
    CertificateCheck::CheckInput input;
    input.certificates = certificates;
    input.keyPublicPem = publicKeyOfKey();
    // The check runs at every pause in typing: its runs of the tool stay out of the debug output.
    ToolContext context = desktopToolContext();
    context.debug = false;
    QString problems;
    try {
        const CertificateCheck::CheckReport report =
            CertificateCheck::checkCertificate(input, context);
        QList<CertificateCheck::CheckProblem> found = report.problems;
        for (CertificateCheck::CheckProblem& problem : found)
            problem.advice = kPastePageAdvice.value(problem.id, problem.advice);
        if (!found.isEmpty())
            problems = CertificateCheck::problemsText(found).trimmed();
    } catch (const PageError&) {
        // The warnings are a help, never a condition: the tool judges the certificate on Next.
    }
    checked = CheckedCertificates{certificates, problems};
    return problems;
}

void TKeyAndCertificateWizard::btnLoadCertificateClick() {
    runGuarded(this, [this] {
        const QString chosen = chooseFile(kLoadCertificateSetup, folderOfFile(edtKeyFile->text()));
        if (chosen.isEmpty())
            return;
        const QByteArray content = readCertificateFile(chosen);
        try {
            putIntoBox(content, true);
        } catch (const PageError&) {
            throw PageError(kNoCertificateInFile.arg(chosen));
        }
    });
}

void TKeyAndCertificateWizard::putIntoBox(const QByteArray& content, bool addToCertificates) {
    const QList<QSslCertificate> present = addToCertificates
                                               ? pastedCertificates(memPasteCert->toPlainText())
                                               : QList<QSslCertificate>();
    if (!present.isEmpty()) {
        QList<QSslCertificate> added = readCertificates(content, desktopToolContext());
        added.removeIf([&present](const QSslCertificate& certificate) {
            return present.contains(certificate);
        });
        QString text = memPasteCert->toPlainText();
        if (!text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        memPasteCert->setPlainText(text + QString::fromLatin1(pemOf(added)));
        showSummaryNow();
        return;
    }
    // PEM text goes in as it is, whatever else it holds; the tool reads it as pasted.
    const QString text =
        content.contains(kPemCertificateMark)
            ? QString::fromUtf8(content)
            : QString::fromLatin1(pemOf(readCertificates(content, desktopToolContext())));
    memPasteCert->setPlainText(QString(text).replace(kLineEnd, QStringLiteral("\n")));
    showSummaryNow();
}

void TKeyAndCertificateWizard::btnKeyFileClick() {
    runGuarded(this, [this] { chooseFileInto(kSelectKeySetup, edtKeyFile, edtExportPath); });
}

void TKeyAndCertificateWizard::btnCertExportClick() {
    runGuarded(this, [this] { chooseFolder(edtExportPath, folderOfFile(edtKeyFile->text())); });
}

QString TKeyAndCertificateWizard::chooseFile(const OpenFileSetup& setup,
                                             const QString& startFolder) {
    OpenFileDialog dialog(this, setup.title, startFolder);
    named(&dialog, setup.name);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(setup.filters);
    dialog.setDefaultSuffix(setup.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void TKeyAndCertificateWizard::chooseFileInto(const OpenFileSetup& setup, QLineEdit* fileField,
                                              QLineEdit* folderField) {
    const QString chosen = chooseFile(setup, folderOfFile(fileField->text()));
    if (chosen.isEmpty())
        return;
    fileField->setText(chosen);
    if (folderField->text().isEmpty())
        folderField->setText(folderOfFile(chosen));
}

// The bundle stores its friendly name as a BMPString, which holds no character beyond the
// Basic Multilingual Plane; the tool would refuse such a name only after the pass phrases.
void TKeyAndCertificateWizard::refuseNameTheBundleCannotCarry(const QString& name) {
    for (const char32_t character : name.toUcs4())
        if (QChar::requiresSurrogates(character))
            throw PageError(kFriendlyNameMessage.arg(name, QString::fromUcs4(&character, 1)));
}

CheckedFolder TKeyAndCertificateWizard::requireExportFolder(const QString& typed,
                                                            const QString& pageMessage) {
    try {
        return requirePrivateExportFolder(typed, desktopToolContext().currentFolder);
    } catch (const PageError& refusal) {
        throw PageError(pageMessage, refusal.message(), refusal.details());
    }
}

void TKeyAndCertificateWizard::leaveKeyPage() {
    const QString keyFile = edtKeyFile->text();
    const QString exportPath = edtExportPath->text();
    const bool complete = !keyFile.isEmpty() && FileIsPresent(keyFile) &&
                          !edtCommonName->text().isEmpty() && !exportPath.isEmpty();
    if (!complete)
        throw PageError(kKeyPageMessage);
    requireExportFolder(exportPath, kKeyPageMessage);
    refuseNameTheBundleCannotCarry(edtCommonName->text());
    keyPublicPem.reset();
    checked.reset();

    // The paste page shows before the sibling certificate is read, so that a file that cannot
    // be read still leaves the user free to paste the certificate there.
    showPage(pastePage);
    const QString sibling = siblingCertificate(keyFile);
    if (sibling.isEmpty())
        return;
    const QByteArray content = readCertificateFile(sibling);
    try {
        putIntoBox(content, false);
    } catch (const PageError&) {
        // Not a certificate in any form: the box shows it as it is, and the tool judges it.
        memPasteCert->setPlainText(
            QString::fromUtf8(content).replace(kLineEnd, QStringLiteral("\n")));
        showSummaryNow();
    }
}

ToolSteps::MadeFiles TKeyAndCertificateWizard::leavePastePage() {
    const QString text = certificateText(memPasteCert->toPlainText());
    if (!passesCertificateCheck(text))
        throw PageError(kCertificateMessage);
    // The folder is resolved once: the certificate file, the command lines and the finished
    // page all use the folder as checked.
    const CheckedFolder folder =
        requirePrivateExportFolder(edtExportPath->text(), desktopToolContext().currentFolder);
    ToolSteps::KeyAndCertificateValues values{edtCommonName->text(), edtKeyFile->text(),
                                              temporaryCertificatePath(folder.path()), folder};
    ToolSteps::refuseInputAmong(values.keyFile, {values.certificateFile});
    // A lone certificate, or text that is none, goes to the tool as pasted.
    const QList<QSslCertificate> pasted = pastedCertificates(memPasteCert->toPlainText());
    const bool chained = pasted.size() > 1;
    const ScratchFiles scratch({values.certificateFile});
    std::optional<ScratchFolder> chainFolder;
    if (chained) {
        const CertificateChain chain = orderChain(pasted, publicKeyOfKey());
        writeTemporaryCertificate(values.certificateFile, chain.server.toPem());
        if (!chain.authorities.isEmpty()) {
            chainFolder.emplace();
            chainFolder->write(kPastedChainName, pemOf(chain.authorities));
            values.chainFiles = {chainFolder->file(kPastedChainName)};
        }
    } else {
        writeTemporaryCertificate(values.certificateFile, text.toUtf8());
    }
    return convert(values);
}

const QByteArray& TKeyAndCertificateWizard::publicKeyOfKey() {
    if (!keyPublicPem)
        keyPublicPem = ToolSteps::plainKeyPublicPem(edtKeyFile->text(), desktopToolContext());
    return *keyPublicPem;
}

void TKeyAndCertificateWizard::showMade(const ToolSteps::MadeFiles& made) {
    madeFiles->showMadeFiles(made);
}

void TKeyAndCertificateWizard::writeTemporaryCertificate(const QString& path,
                                                         const QByteArray& content) {
    // The pasted text may hold a private key as well: the file is the user's alone.
    const int error = writeFreshFile(path, content);
    if (error != 0)
        throw PageError(kWriteFailure.arg(path, systemReason(error)));
}

void TKeyAndCertificateWizard::showEvent(QShowEvent* event) {
    // Every showing starts on the first page.
    if (!event->spontaneous())
        showPage(0);
    TWizardFrame::showEvent(event);
}
