#include "uExtractRootForm.h"

#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

const QString kCaption = QStringLiteral("Extract Root Certificate");

// Several lines end in a blank on purpose: the box joins them as they were written.
const QStringList kInstructions = {
    QStringLiteral("Root certificates can be obtained a couple of ways.  The "),
    QStringLiteral("easiest way is to contact your Certificate Authority to "),
    QStringLiteral("obtain the root cert directly from them."),
    QString(),
    QStringLiteral("You may also be able to extract the root certificate from "),
    QStringLiteral("Windows if the Certificate Authority is already known to "),
    QStringLiteral("Windows."),
    QString(),
    QStringLiteral("To do so, follow these steps."),
    QString(),
    QStringLiteral("1. Open Internet Options from Control Panel"),
    QStringLiteral("2. Select the Content tab."),
    QStringLiteral("3. Press Certificates button"),
    QStringLiteral("4. Select Trusted Root Certification Authorities tab."),
    QStringLiteral("5. Select the issuing authority from the list.  If it does not "),
    QStringLiteral("exist, you must install that first."),
    QStringLiteral("6. Press the Export Button."),
    QStringLiteral("7. Using the wizard, select the Base 64 format."),
    QStringLiteral("8. Save the file to root.cer."),
    QStringLiteral("8. If you are going to use with Indy/IntraWeb rename the "),
    QStringLiteral("file from root.cer to root.pem."),
    QString(),
};

} // namespace

TfrmExtractRoot::TfrmExtractRoot(QWidget* owner)
    : TWizardFrame(owner, WizardLook{.caption = kCaption,
                                     .backCaption = kCancelCaption,
                                     .printable = true,
                                     .nextCaption = kFinishCaption}) {
    memInstructions = makeInstructionBox("memInstructions", kInstructions);
    addPage(tsStart, "tsStart",
            {.next = [] { return kCloseWizard; },
             .previous = kCloseWizard,
             .printBox = memInstructions})
        ->addWidget(memInstructions);
    btnPrevious->hide();
}
