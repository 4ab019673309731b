#include "uCertificateWizard.h"

#include "uAccessibility.h"
#include "uCountryTable.h"
#include "uOpenSSLCommands.h"
#include "uWindowsCommon.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include <initializer_list>

namespace {

const QString kPreviousCaption = QStringLiteral("< Previous");

const QString kKeySizeLabel =
    QStringLiteral("Select the bit size of your key pair:  (2048 recommended)");
const QString k1024Caption = QStringLiteral("1024 bit");
const QString k2048Caption = QStringLiteral("2048 bit");
const QString k512Caption = QStringLiteral("512 bit");
const QString k4096Caption = QStringLiteral("4096 bit");
const QString kP256Caption = QStringLiteral("ECDSA P-256");
const QString kP384Caption = QStringLiteral("ECDSA P-384");
const QString kShortKeyWarning =
    QStringLiteral("Servers and browsers today refuse keys shorter than 2048 bits.");
const QString kEmailLabel = QStringLiteral("Enter the administrative email address:");
const QString kCountryLabel = QStringLiteral("Select your Country from the following list:");
const QString kStateLabel = QStringLiteral("Enter the full state or province:");
const QString kCityLabel = QStringLiteral("Enter the city name:");
const QString kDomainLabel = QStringLiteral("Enter the domain name to be secured:");
const QString kLegalNameLabel = QStringLiteral("Enter the legal business name:");
const QString kExportPathLabel = QStringLiteral("Select a path for the exported key file:");
const QStringList kCompletionLines = {
    TCertificateWizard::kGeneratedLine,
    QString(),
    QStringLiteral("You may now submit this request to a Certificate Authority."),
    QString(),
    QStringLiteral("The key has been saved to the file \"%1.key\""),
};

void requireFilled(std::initializer_list<const QLineEdit*> fields) {
    for (const QLineEdit* field : fields)
        if (field->text().isEmpty())
            throw PageError(TCertificateWizard::kPageIncompleteMessage);
}

} // namespace

TCertificateWizard::TCertificateWizard(QWidget* owner, const CertificateWizardSetup& wizardSetup)
    : TWizardFrame(owner,
                   WizardLook{.caption = wizardSetup.caption, .backCaption = kPreviousCaption}),
      setup(wizardSetup) {
    buildStartPage();
    buildKeySizePage();
    buildLocalePage();
    buildOrganizationPage();
    buildFinishedPage();
    FormCreate();
}

void TCertificateWizard::buildStartPage() {
    Label1 = makeLabel("Label1", setup.startText, true);
    QVBoxLayout* page = addPage(tsStart, "tsStart",
                                {.next = [] { return int(tsBitsize); }, .previous = kCloseWizard});
    page->addWidget(Label1);
    page->addStretch();
}

void TCertificateWizard::buildKeySizePage() {
    Label4 = makeLabel("Label4", kKeySizeLabel);
    rb1024 = named(new QRadioButton(k1024Caption), "rb1024");
    rb2048 = named(new QRadioButton(k2048Caption), "rb2048");
    rb512 = named(new QRadioButton(k512Caption), "rb512");
    rb4096 = named(new QRadioButton(k4096Caption), "rb4096");
    rbP256 = named(new QRadioButton(kP256Caption), "rbP256");
    rbP384 = named(new QRadioButton(kP384Caption), "rbP384");
    rb2048->setChecked(true);
    lblShortKey = makeLabel("lblShortKey", kShortKeyWarning, true);
    // The warning comes and goes without moving the fields below it.
    QSizePolicy keepsItsPlace = lblShortKey->sizePolicy();
    keepsItsPlace.setRetainSizeWhenHidden(true);
    lblShortKey->setSizePolicy(keepsItsPlace);
    lblShortKey->hide();
    for (QRadioButton* shortKey : {rb1024, rb512}) {
        // A screen reader says it with the button, where the eye finds the label below.
        shortKey->setAccessibleDescription(kShortKeyWarning);
        connect(shortKey, &QRadioButton::toggled, lblShortKey,
                [this] { lblShortKey->setVisible(rb1024->isChecked() || rb512->isChecked()); });
    }
    edtEmail = named(new QLineEdit, "edtEmail");
    Label5 = makeLabel("Label5", kEmailLabel, {edtEmail});
    // The focus arrives on the selected key size, by whichever button the page is reached.
    QVBoxLayout* page = addPage(tsBitsize, "tsBitsize",
                                {.next =
                                     [this] {
                                         requireFilled({edtEmail});
                                         return int(tsLocaleInfo);
                                     },
                                 .previous = tsStart});
    connect(pcWizard, &QStackedWidget::currentChanged, this, [this](int shown) {
        if (shown != tsBitsize)
            return;
        for (QAbstractButton* keySize : keySizeButtons())
            if (keySize->isChecked())
                keySize->setFocus();
    });
    keySizeGrid = new QGridLayout;
    keySizeGrid->addWidget(rb1024, 0, 0);
    keySizeGrid->addWidget(rb2048, 1, 0);
    keySizeGrid->addWidget(rb512, 0, 1);
    keySizeGrid->addWidget(rb4096, 2, 0);
    keySizeGrid->addWidget(rbP256, 3, 0);
    keySizeGrid->addWidget(rbP384, 4, 0);
    keySizeGrid->setColumnStretch(5, 1);
    page->addWidget(Label4);
    page->addLayout(keySizeGrid);
    page->addWidget(lblShortKey);
    page->addWidget(Label5);
    page->addWidget(edtEmail);
    page->addStretch();
    setKeyboardOrder(keySizeButtons());
    setTabOrder(rbP384, edtEmail);
}

void TCertificateWizard::buildLocalePage() {
    cbCountry = named(new QComboBox, "cbCountry");
    Label2 = makeLabel("Label2", kCountryLabel, {cbCountry});
    edtState = named(new QLineEdit, "edtState");
    Label6 = makeLabel("Label6", kStateLabel, {edtState});
    edtCity = named(new QLineEdit, "edtCity");
    Label10 = makeLabel("Label10", kCityLabel, {edtCity});
    QVBoxLayout* page = addPage(tsLocaleInfo, "tsLocaleInfo",
                                {.next =
                                     [this] {
                                         requireFilled({edtState, edtCity});
                                         if (cbCountry->currentIndex() < 0)
                                             throw PageError(kPageIncompleteMessage);
                                         return int(tsOrganizationInfo);
                                     },
                                 .previous = tsBitsize,
                                 .focus = cbCountry});
    for (QWidget* widget :
         std::initializer_list<QWidget*>{Label2, cbCountry, Label6, edtState, Label10, edtCity})
        page->addWidget(widget);
    page->addStretch();
    setTabOrder(cbCountry, edtState);
    setTabOrder(edtState, edtCity);
}

void TCertificateWizard::buildOrganizationPage() {
    edtDomainName = named(new QLineEdit, "edtDomainName");
    Label11 = makeLabel("Label11", kDomainLabel, {edtDomainName});
    edtLegalName = named(new QLineEdit, "edtLegalName");
    Label12 = makeLabel("Label12", kLegalNameLabel, {edtLegalName});
    Label3 = makeLabel("Label3", kExportPathLabel);
    const BrowseField exportPath =
        makeBrowseField(Label3, "edtExportPath", "btnExportPath", kChooseExportFolder);
    edtExportPath = exportPath.edit;
    btnExportPath = exportPath.button;
    QVBoxLayout* page =
        addPage(tsOrganizationInfo, "tsOrganizationInfo",
                {.next =
                     [this] {
                         requireFilled({edtDomainName, edtLegalName, edtExportPath});
                         madeFiles->showMadeFiles(ToolSteps::generateCertificate(
                             *setup.step, valuesOfPages(), *this, desktopToolContext()));
                         return int(tsFinished);
                     },
                 .previous = tsLocaleInfo,
                 .focus = edtDomainName});
    for (QWidget* widget :
         std::initializer_list<QWidget*>{Label11, edtDomainName, Label12, edtLegalName})
        page->addWidget(widget);
    addBrowseField(page, Label3, exportPath);
    connect(btnExportPath, &QPushButton::clicked, this, &TCertificateWizard::btnExportPathClick);
    page->addStretch();
    setTabOrder(edtDomainName, edtLegalName);
    setTabOrder(edtLegalName, edtExportPath);
    setTabOrder(edtExportPath, btnExportPath);
}

void TCertificateWizard::buildFinishedPage() {
    memRootInstructions = makeInstructionBox("memRootInstructions", setup.finishedLines);
    QVBoxLayout* page = addPage(tsFinished, "tsFinished",
                                {.next =
                                     [this] {
                                         memRootInstructions->setPlainText(completionText());
                                         return kCloseWizard;
                                     },
                                 .previous = tsOrganizationInfo,
                                 .finished = true});
    page->addWidget(memRootInstructions);
    addMadeFilesPanel(page);
}

void TCertificateWizard::FormCreate() {
    cbCountry->addItems(CountryTable::names());
    cbCountry->setCurrentIndex(CountryTable::kDefaultIndex);
    edtExportPath->setText(withTrailingSeparator(QDir::currentPath()));
}

QString TCertificateWizard::keySize() const {
    if (rb2048->isChecked())
        return QStringLiteral("2048");
    if (rb1024->isChecked())
        return QStringLiteral("1024");
    if (rb4096->isChecked())
        return QStringLiteral("4096");
    if (rbP256->isChecked())
        return OpenSSLCommands::kCurveP256;
    if (rbP384->isChecked())
        return OpenSSLCommands::kCurveP384;
    return QStringLiteral("512");
}

QList<QAbstractButton*> TCertificateWizard::keySizeButtons() const {
    return {rb1024, rb2048, rb512, rb4096, rbP256, rbP384};
}

QString TCertificateWizard::countryCode() const {
    return CountryTable::code(cbCountry->currentIndex());
}

QString TCertificateWizard::completionText() const {
    return kCompletionLines.join(QLatin1Char('\n')).arg(edtDomainName->text());
}

ToolSteps::CertificateValues TCertificateWizard::valuesOfPages() const {
    return {termField ? termField->text() : QString(),
            edtEmail->text(),
            keySize(),
            countryCode(),
            edtCity->text(),
            edtState->text(),
            edtDomainName->text(),
            edtLegalName->text(),
            edtExportPath->text()};
}

void TCertificateWizard::btnExportPathClick() {
    runGuarded(this, [this] { chooseFolder(edtExportPath, QDir::currentPath()); });
}
