#include "CheckReport.h"

#include "CertificateText.h"

#include <QJsonArray>

#include <algorithm>

namespace CertificateCheck {

namespace {

const QString kReportLine = QStringLiteral("%1: %2\n");
const QString kSubjectLabel = QStringLiteral("Subject");
const QString kNamesLabel = QStringLiteral("Names");
const QString kIssuerLabel = QStringLiteral("Issuer");
const QString kValidFromLabel = QStringLiteral("Valid from");
const QString kValidUntilLabel = QStringLiteral("Valid until");
const QString kDaysLeftText = QStringLiteral("%1 (%2 days left)");
const QString kKeyLabel = QStringLiteral("Key");
const QString kKeyText = QStringLiteral("%1, %2 bits");
const QString kSignatureLabel = QStringLiteral("Signature");
const QString kChainHeading = QStringLiteral("Chain:\n");
const QString kPfxLabel = QStringLiteral("Protection of the .pfx file");
const QString kChainLine = QStringLiteral("  %1\n");
const QString kNoProblemText = QStringLiteral("No problem found.\n");
const QString kProblemsLabel = QStringLiteral("Problems:\n");
const QString kProblemLines = QStringLiteral("- %1 [%2]\n  %3\n");

} // namespace

bool CheckReport::hasProblem(const QString& id) const {
    return std::any_of(problems.begin(), problems.end(),
                       [&id](const CheckProblem& problem) { return problem.id == id; });
}

QJsonObject CheckReport::toJson() const {
    QJsonArray chainArray;
    for (const ChainEntry& entry : chainEntries)
        chainArray.append(QJsonObject{
            {QStringLiteral("subject"), entry.subject},
            {QStringLiteral("issuer"), entry.issuer},
            {QStringLiteral("notAfter"), entry.notAfter.toUTC().toString(Qt::ISODate)}});
    QJsonArray problemArray;
    for (const CheckProblem& problem : problems) {
        QJsonObject object{{QStringLiteral("id"), problem.id},
                           {QStringLiteral("message"), problem.message},
                           {QStringLiteral("advice"), problem.advice}};
        if (!problem.certificate.isEmpty())
            object.insert(QStringLiteral("certificate"), problem.certificate);
        problemArray.append(object);
    }
    QJsonObject object{{QStringLiteral("subject"), subject},
                       {QStringLiteral("names"), QJsonArray::fromStringList(names)},
                       {QStringLiteral("issuer"), issuer},
                       {QStringLiteral("notBefore"), notBefore.toUTC().toString(Qt::ISODate)},
                       {QStringLiteral("notAfter"), notAfter.toUTC().toString(Qt::ISODate)},
                       {QStringLiteral("daysLeft"), daysLeft},
                       {QStringLiteral("key"), QJsonObject{{QStringLiteral("type"), keyType},
                                                           {QStringLiteral("bits"), keyBits}}},
                       {QStringLiteral("signature"), signature},
                       {QStringLiteral("chain"), chainArray},
                       {QStringLiteral("problems"), problemArray}};
    if (!pfxProfile.isEmpty())
        object.insert(QStringLiteral("pfxProfile"), pfxProfile);
    return object;
}

QString CheckReport::toText() const {
    QString text =
        kReportLine.arg(kSubjectLabel, subject) +
        kReportLine.arg(kNamesLabel,
                        names.isEmpty() ? kNoNames : names.join(QStringLiteral(", "))) +
        kReportLine.arg(kIssuerLabel, issuer) +
        kReportLine.arg(kValidFromLabel, CertificateText::dateText(notBefore)) +
        kReportLine.arg(kValidUntilLabel,
                        kDaysLeftText.arg(CertificateText::dateText(notAfter)).arg(daysLeft)) +
        kReportLine.arg(kKeyLabel, kKeyText.arg(keyType).arg(keyBits)) +
        kReportLine.arg(kSignatureLabel, signature);
    if (!pfxProfile.isEmpty())
        text += kReportLine.arg(kPfxLabel, pfxProfile);
    text += kChainHeading;
    for (const QString& line : chainSummaryLines(chain))
        text += kChainLine.arg(line);
    return text + problemsText(problems);
}

QString problemsText(const QList<CheckProblem>& problems) {
    if (problems.isEmpty())
        return kNoProblemText;
    QString text = kProblemsLabel;
    for (const CheckProblem& problem : problems)
        text += kProblemLines.arg(problem.message, problem.id, problem.advice);
    return text;
}

} // namespace CertificateCheck
