#include "uKeyAndCertificateWizard.h"

#include "uCertwrightCommon.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

const QString kExportPathCaption = QStringLiteral("Select a path for the exported files:");
const QString kCommonNameCaption = QStringLiteral("Enter a common name for your domain:");
const QString kPasteCertCaption = QStringLiteral("Paste your server certificate here:");
const QString kChooseKeyFile = QStringLiteral("Choose the key file");
const QString kCertificateExtensions[] = {QStringLiteral(".cer"), QStringLiteral(".crt")};
const QString kCertificatePrefix = QStringLiteral("--");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kReadFailure = QStringLiteral("Cannot read the certificate file \"%1\". %2");
const QString kWriteFailure = QStringLiteral("Cannot write the certificate file \"%1\". %2");
const QString kDeleteFailure = QStringLiteral("Cannot delete the file \"%1\". %2");

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

} // namespace

TKeyAndCertificateWizard::TKeyAndCertificateWizard(QWidget* owner, const WizardLook& look)
    : TWizardFrame(owner, look) {}

QString TKeyAndCertificateWizard::withExtension(const QString& path, const QString& extension) {
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return (dot >= nameStart ? path.left(dot) : path) + extension;
}

QString TKeyAndCertificateWizard::siblingCertificate(const QString& keyFile) {
    for (const QString& extension : kCertificateExtensions) {
        const QString candidate = withExtension(keyFile, extension);
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

QString TKeyAndCertificateWizard::temporaryCertificatePath(const QString& exportText) {
    return withTrailingSeparator(exportText) + kTemporaryCertificateName;
}

QString TKeyAndCertificateWizard::folderOfFile(const QString& fileText) {
    if (fileText.isEmpty())
        return QString();
    return withTrailingSeparator(QFileInfo(fileText).absolutePath());
}

QString TKeyAndCertificateWizard::pathForTool(const QString& typed) {
    return QDir::current().absoluteFilePath(typed);
}

void TKeyAndCertificateWizard::addKeyPage() {
    QVBoxLayout* page = addPage("tsSelectKey");
    lblSelectKeyFile = makeLabel("lblSelectKeyFile", kOpenSSLKeyCaption);
    const BrowseField keyFile =
        addBrowseField(page, lblSelectKeyFile, "edtKeyFile", "btnKeyFile", kChooseKeyFile);
    edtKeyFile = keyFile.edit;
    btnKeyFile = keyFile.button;
    Label8 = makeLabel("Label8", kExportPathCaption);
    const BrowseField exportPath =
        addBrowseField(page, Label8, "edtExportPath", "btnCertExport", kChooseExportFolder);
    edtExportPath = exportPath.edit;
    btnCertExport = exportPath.button;
    edtCommonName = new QLineEdit;
    edtCommonName->setObjectName(QStringLiteral("edtCommonName"));
    Label9 = makeLabel("Label9", kCommonNameCaption, {edtCommonName});
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

void TKeyAndCertificateWizard::addPastePage() {
    QVBoxLayout* page = addPage("tsPasteCert");
    pastePage = pcWizard->count() - 1;
    memPasteCert = new QTextEdit;
    memPasteCert->setObjectName(QStringLiteral("memPasteCert"));
    Label7 = makeLabel("Label7", kPasteCertCaption, {memPasteCert});
    page->addWidget(Label7);
    memPasteCert->setAcceptRichText(false);
    memPasteCert->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab moves on to the buttons: a certificate never holds a tab.
    memPasteCert->setTabChangesFocus(true);
    page->addWidget(memPasteCert);
}

void TKeyAndCertificateWizard::btnKeyFileClick() {
    runGuarded(this, [this] { chooseFileInto(kSelectKeySetup, edtKeyFile, edtExportPath); });
}

void TKeyAndCertificateWizard::btnCertExportClick() {
    runGuarded(this, [this] { chooseFolder(edtExportPath, folderOfFile(edtKeyFile->text())); });
}

void TKeyAndCertificateWizard::chooseFileInto(const OpenFileSetup& setup, QLineEdit* fileField,
                                              QLineEdit* folderField) {
    OpenFileDialog dialog(this, setup.title, folderOfFile(fileField->text()));
    dialog.setObjectName(QLatin1String(setup.name));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(setup.filters);
    dialog.setDefaultSuffix(setup.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString chosen = dialog.selectedFiles().constFirst();
    fileField->setText(chosen);
    if (folderField->text().isEmpty())
        folderField->setText(folderOfFile(chosen));
}

void TKeyAndCertificateWizard::leaveKeyPage() {
    const QString keyFile = edtKeyFile->text();
    const QString exportPath = edtExportPath->text();
    const bool complete = !keyFile.isEmpty() && FileIsPresent(keyFile) &&
                          !edtCommonName->text().isEmpty() && !exportPath.isEmpty() &&
                          QFileInfo(exportPath).isDir();
    if (!complete)
        throw PageError(kKeyPageMessage);

    // The paste page shows before the sibling certificate is read, so that a file that cannot
    // be read still leaves the user free to paste the certificate there.
    showPage(pastePage);
    const QString sibling = siblingCertificate(keyFile);
    if (sibling.isEmpty())
        return;
    QFile file(sibling);
    if (!file.open(QIODevice::ReadOnly))
        throw PageError(kReadFailure.arg(sibling, file.errorString()));
    memPasteCert->setPlainText(
        QString::fromUtf8(file.readAll()).replace(kLineEnd, QStringLiteral("\n")));
}

void TKeyAndCertificateWizard::leavePastePage() {
    const QString text = certificateText(memPasteCert->toPlainText());
    if (!passesCertificateCheck(text))
        throw PageError(kCertificateMessage);
    const KeyAndCertificate values{edtCommonName->text(), edtKeyFile->text(),
                                   temporaryCertificatePath(edtExportPath->text()),
                                   edtExportPath->text()};
    // Refuses a value that would break a command line while nothing has been written yet.
    commandLinesFor(values);
    refuseInputAmong(values.key, {values.certificateFile});
    writeTemporaryCertificate(values.certificateFile, text);
    convert(values);
    QFile::remove(values.certificateFile);
}

void TKeyAndCertificateWizard::writeTemporaryCertificate(const QString& path, const QString& text) {
    QFile file(path);
    const QByteArray content = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size() || !file.flush())
        throw PageError(kWriteFailure.arg(path, file.errorString()));
}

void TKeyAndCertificateWizard::refuseInputAmong(const QString& input, const QStringList& written) {
    const QString inputFile = QFileInfo(input).canonicalFilePath();
    for (const QString& path : written)
        if (FileIsPresent(path) && QFileInfo(path).canonicalFilePath() == inputFile)
            throw PageError(kInputIsOutputMessage.arg(input));
}

void TKeyAndCertificateWizard::removeExistingFile(const QString& path) {
    QFile file(path);
    if (FileIsPresent(path) && !file.remove())
        throw PageError(kDeleteFailure.arg(path, file.errorString()));
}

void TKeyAndCertificateWizard::showEvent(QShowEvent* event) {
    // Every showing starts on the first page.
    if (!event->spontaneous())
        showPage(0);
    TWizardFrame::showEvent(event);
}
