#include "uAboutForm.h"

#include "uWindowsCommon.h"

#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const QString kPaymentAddress =
    QStringLiteral("https://pay.example.org/checkout?business=support%40example.org"
                   "&item_name=Certwright&amount=20.00&currency_code=USD");
const QString kVersion = QStringLiteral("version 1.5");
const QString kWebsiteCaption = QStringLiteral("www.example.org");
const QString kViewLicenseCaption = QStringLiteral("View License");
const QString kSupportText = QStringLiteral(
    "Certwright is free to use. If you find it useful, please support its development by "
    "sending 20 dollars through either of the two online payment services below.");
const QString kStartCaption = QStringLiteral("Start Certwright");
const QString kMakerLine = QStringLiteral("Made by The Certwright developers.");
const QString kPaymentButtonTip = QStringLiteral("Pay 20.00 USD");

const QString kLicenseFile = QStringLiteral("license.txt");
const QString kLocalPaymentPage = QStringLiteral("googlepay.html");
const QString kLogoPicture = QStringLiteral(":/logo.gif");
const QString kFirstPaymentPicture = QStringLiteral(":/paybutton1.gif");
const QString kSecondPaymentPicture = QStringLiteral(":/paybutton2.gif");

constexpr int kStartDelayMs = 3000;
constexpr int kEdgeWidth = 5;
constexpr int kScreenWidth = 440;
constexpr int kLogoSize = 96;
constexpr int kTitlePointSize = 22;

void setFontStyle(QLabel* label, bool bold, bool underline, int pointSizeChange = 0) {
    QFont font = label->font();
    font.setBold(bold);
    font.setUnderline(underline);
    if (pointSizeChange != 0 && font.pointSize() > 0)
        font.setPointSize(font.pointSize() + pointSizeChange);
    label->setFont(font);
}

template <class Label> Label* makeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = named(new Label(parent), name);
    label->setText(text);
    return label;
}

TClickableLabel* makePicture(QWidget* parent, const char* name, const QString& resource) {
    auto* picture = makeLabel<TClickableLabel>(parent, name, QString());
    picture->setPixmap(QPixmap(resource));
    picture->setCursor(Qt::PointingHandCursor);
    return picture;
}

TClickableLabel* makeLink(QWidget* parent, const char* name, const QString& text) {
    auto* link = makeLabel<TClickableLabel>(parent, name, text);
    link->setCursor(Qt::PointingHandCursor);
    setFontStyle(link, true, true);
    return link;
}
} // namespace

// The pictures are compiled into the static core library, whose resource object the linker
// would otherwise leave out, since nothing refers to it by name.
static void registerPictures() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(certwright);
        return true;
    }();
    Q_UNUSED(registered);
}

TClickableLabel::TClickableLabel(QWidget* parent) : QLabel(parent) {}

void TClickableLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void TClickableLabel::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        emit clicked();
        break;
    default:
        QLabel::keyPressEvent(event);
    }
}

TfrmAbout::TfrmAbout(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    registerPictures();
    named(this, "frmAbout");
    setWindowTitle(kApplicationTitle);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    auto* edge = named(new QFrame(this), "edge");
    edge->setFrameStyle(QFrame::Panel | QFrame::Raised);
    edge->setLineWidth(kEdgeWidth);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(edge);

    Image1 = makeLabel<TClickableLabel>(edge, "Image1", QString());
    Image1->setPixmap(
        QPixmap(kLogoPicture)
            .scaled(kLogoSize, kLogoSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    Image1->setCursor(Qt::PointingHandCursor);
    Label1 = makeLabel<QLabel>(edge, "Label1", kApplicationTitle);
    QFont titleFont = Label1->font();
    titleFont.setBold(true);
    titleFont.setPointSize(kTitlePointSize);
    Label1->setFont(titleFont);
    Label2 = makeLabel<QLabel>(edge, "Label2", kVersion);
    lblWebsite = makeLink(edge, "lblWebsite", kWebsiteCaption);
    setFontStyle(lblWebsite, true, true, -1);
    lblViewLicense = makeLink(edge, "lblViewLicense", kViewLicenseCaption);
    Label3 = makeLabel<QLabel>(edge, "Label3", kSupportText);
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setWordWrap(true);
    Image2 = makePicture(edge, "Image2", kFirstPaymentPicture);
    Image2->setToolTip(kPaymentButtonTip);
    Image3 = makePicture(edge, "Image3", kSecondPaymentPicture);
    Image3->setToolTip(kPaymentButtonTip);
    lblStart = makeLink(edge, "lblStart", kStartCaption);
    lblStart->setAlignment(Qt::AlignCenter);
    lblStart->setFocusPolicy(Qt::StrongFocus);
    // Its place is kept while it is hidden, so nothing moves when it appears.
    QSizePolicy keepPlace = lblStart->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    lblStart->setSizePolicy(keepPlace);
    lblStart->hide();
    Label4 = makeLabel<QLabel>(edge, "Label4", kMakerLine);
    Label4->setAlignment(Qt::AlignCenter);
    setFontStyle(Label4, false, false, -2);

    tmrStart = named(new QTimer(this), "tmrStart");
    tmrStart->setInterval(kStartDelayMs);
    tmrStart->setSingleShot(true);
    // A coarse timer may fire up to 5% early; the link must not appear before 3 seconds.
    tmrStart->setTimerType(Qt::PreciseTimer);

    connect(tmrStart, &QTimer::timeout, this, &TfrmAbout::tmrStartTimer);
    connect(lblStart, &TClickableLabel::clicked, this, &TfrmAbout::lblStartClick);
    connect(lblWebsite, &TClickableLabel::clicked, this, &TfrmAbout::lblWebsiteClick);
    connect(Image1, &TClickableLabel::clicked, this, &TfrmAbout::Image1Click);
    connect(lblViewLicense, &TClickableLabel::clicked, this, &TfrmAbout::lblViewLicenseClick);
    connect(Image2, &TClickableLabel::clicked, this, &TfrmAbout::Image2Click);
    connect(Image3, &TClickableLabel::clicked, this, &TfrmAbout::Image3Click);

    auto* layout = new QVBoxLayout(edge);
    layout->setContentsMargins(kEdgeWidth + 12, kEdgeWidth + 12, kEdgeWidth + 12, kEdgeWidth + 6);
    auto* header = new QHBoxLayout;
    header->addWidget(Image1, 0, Qt::AlignTop);
    header->addSpacing(12);
    auto* titles = new QVBoxLayout;
    titles->addWidget(Label1);
    titles->addWidget(Label2);
    titles->addSpacing(6);
    titles->addWidget(lblWebsite);
    titles->addWidget(lblViewLicense);
    titles->addStretch();
    header->addLayout(titles);
    header->addStretch();
    layout->addLayout(header);
    layout->addSpacing(10);
    layout->addWidget(Label3);
    auto* payments = new QHBoxLayout;
    payments->addStretch();
    payments->addWidget(Image2);
    payments->addSpacing(16);
    payments->addWidget(Image3);
    payments->addStretch();
    layout->addLayout(payments);
    layout->addSpacing(8);
    layout->addWidget(lblStart, 0, Qt::AlignHCenter);
    layout->addStretch();
    layout->addWidget(Label4);

    setFixedWidth(kScreenWidth);
    adjustSize();
    setFixedHeight(height());
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    runGuarded(this, [this] { tmrStart->start(); });
}

void TfrmAbout::keyPressEvent(QKeyEvent* event) {
    // Until the link on has appeared, the keyboard cannot close the screen either.
    if (event->key() == Qt::Key_Escape) {
        if (lblStart->isVisible())
            lblStartClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmAbout::tmrStartTimer() {
    runGuarded(this, [this] {
        tmrStart->stop();
        lblStart->show();
        lblStart->setFocus();
    });
}

void TfrmAbout::lblStartClick() {
    runGuarded(this, [this] { accept(); });
}

void TfrmAbout::lblWebsiteClick() {
    runGuarded(this, [] { openWithShell(QUrl(kMakerAddress)); });
}

void TfrmAbout::Image1Click() {
    runGuarded(this, [] { openWithShell(QUrl(kMakerAddress)); });
}

void TfrmAbout::lblViewLicenseClick() {
    runGuarded(this, [] { openWithShell(QUrl::fromLocalFile(ProgramFolder() + kLicenseFile)); });
}

void TfrmAbout::Image2Click() {
    runGuarded(this, [] { openWithShell(QUrl(kPaymentAddress)); });
}

void TfrmAbout::Image3Click() {
    // A file address wants forward slashes whatever the system's separator.
    runGuarded(this, [] {
        openWithShell(
            QUrl::fromLocalFile(QDir::fromNativeSeparators(ProgramFolder()) + kLocalPaymentPage));
    });
}
