#include "FailedRenewalsButton.h"

#include "CertificateText.h"
#include "FailedRenewals.h"
#include "uCertwrightCommon.h"

#include <QApplication>
#include <QMessageBox>
#include <QStyle>

namespace {

const QString kOneFailedLine = QStringLiteral("1 certificate could not be renewed: %1");
const QString kSomeFailedLine = QStringLiteral("%1 certificates could not be renewed: %2");
const QString kDetailsTitle = QStringLiteral("Renewals that failed");
const QString kDetailsIntro = QStringLiteral(
    "The automatic renewal could not renew these certificates. They stay valid until they "
    "expire; once the cause is fixed, \"certwright renew\" tries again.");
const QString kRecordDetails = QStringLiteral(
    "%1\n  names: %2\n  files in: %3\n  expires: %4\n  last renewal: %5, failed: %6");
const QString kDaysLeft = QStringLiteral("%1 (%2 days left)");
const QString kExpired = QStringLiteral("%1 (expired)");
const QString kUnknownExpiry = QStringLiteral("unknown");
const QString kListSeparator = QStringLiteral(", ");
// The line stays one line: a longer reason is cut, and the details hold all of it.
constexpr int kLongestReason = 120;

QString expiryText(const QDateTime& expiry, const QDateTime& now) {
    if (!expiry.isValid())
        return kUnknownExpiry;
    if (expiry <= now)
        return kExpired.arg(CertificateText::shortDateText(expiry));
    return kDaysLeft.arg(CertificateText::shortDateText(expiry))
        .arg(CertificateText::wholeDaysLeft(expiry, now));
}

// The reason's first line, cut to fit the line.
QString shortReason(const QString& reason) {
    const QString first = reason.section(QLatin1Char('\n'), 0, 0).simplified();
    if (first.size() <= kLongestReason)
        return first;
    const int lastBlank = first.lastIndexOf(QLatin1Char(' '), kLongestReason - 1);
    return first.left(lastBlank > 0 ? lastBlank : kLongestReason - 1) + QChar(0x2026);
}

} // namespace

FailedRenewalsButton::FailedRenewalsButton(QWidget* parent) : QPushButton(parent) {
    named(this, "btnRenewalFailures");
    setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    setFlat(true);
    setAutoDefault(true);
    connect(this, &QPushButton::clicked, this, &FailedRenewalsButton::showDetails);
    refresh();
}

void FailedRenewalsButton::refresh() {
    failed = Renewal::failedRenewals();
    setVisible(!failed.isEmpty());
    if (failed.isEmpty())
        return;
    const QString reason = shortReason(failed.constFirst().lastReason);
    setText(failed.size() == 1 ? kOneFailedLine.arg(reason)
                               : kSomeFailedLine.arg(failed.size()).arg(reason));
    setToolTip(failed.constFirst().lastReason);
    setAccessibleDescription(kDetailsIntro);
}

void FailedRenewalsButton::showDetails() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList details;
    for (const Renewal::Record& record : failed)
        details << kRecordDetails.arg(record.name, record.values.names.join(kListSeparator),
                                      record.values.outFolder, expiryText(record.expiry, now),
                                      CertificateText::shortDateText(record.lastAttempt),
                                      record.lastReason);
    // Reasons come from lego and the authority: shown as plain text.
    QMessageBox box(QMessageBox::Warning, kDetailsTitle, QString(), QMessageBox::Ok, this);
    named(&box, "dlgRenewalFailures");
    box.setTextFormat(Qt::PlainText);
    box.setText(kDetailsIntro + QStringLiteral("\n\n") + details.join(QStringLiteral("\n\n")));
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}
