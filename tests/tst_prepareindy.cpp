#include "KeyAndCertificateFixtures.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uPasswordForm.h"
#include "uPrepareIndyIntrawebForm.h"
#include "uToolSteps.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

namespace {

using Wizard = TfrmPrepareIndyIntraweb;

const QString kShownPFXPageMessage = QStringLiteral(
    "Please make sure that both a PFX file and an output path are selected before continuing.");
const QString kKeyQuestion =
    QStringLiteral("Do you want to overwrite the key.pem file?\n\nA certificate issued for the "
                   "existing key will not work with the new one.");
const QString kCertificateQuestion = QStringLiteral("Do you want to overwrite the cert.pem file?");
const QString kRootQuestion = QStringLiteral("Do you want to overwrite the root.pem file?");

// Through "With IIS" and "Yes" to the page that asks for the .pfx file, filled in.
void toPFXPage(Wizard& wizard, const QString& pfxFile, const QString& exportPath) {
    wizard.show();
    wizard.btnNext->click();
    wizard.rbGenIIS->click();
    wizard.btnNext->click();
    wizard.rbPFXyes->click();
    wizard.btnNext->click();
    QTest::keyClicks(wizard.edtPFXFile, pfxFile);
    QTest::keyClicks(wizard.edtPFXExport, exportPath);
}

// Through "With Certwright" and the key page to the paste page.
void toPastePage(Wizard& wizard, const QString& keyFile, const QString& exportPath,
                 const QString& commonName) {
    wizard.show();
    wizard.btnNext->click();
    wizard.btnNext->click();
    fillKeyPage(wizard, keyFile, exportPath, commonName);
}

// The key.pem and cert.pem of a folder: the key opens only with the pass phrase, belongs to
// the certificate, and cert.pem holds that one certificate without any key.
void verifyPemPair(const QString& folder, const QString& passPhrase, const QString& certificate) {
    const QString keyPem = folder + "key.pem";
    const QString certPem = folder + "cert.pem";
    QVERIFY(keyModulus(keyPem, "not the pass phrase").isEmpty());
    const QString modulus = keyModulus(keyPem, passPhrase);
    QVERIFY(modulus.startsWith("Modulus="));
    QCOMPARE(certificateModulus(certPem), modulus);
    QCOMPARE(certificateModulus(certPem), certificateModulus(certificate));
    const QByteArray certBytes = fileContent(certPem);
    QCOMPARE(certBytes.count("-----BEGIN CERTIFICATE-----"), 1);
    QVERIFY(!certBytes.contains("PRIVATE KEY"));
}

} // namespace

class TestPrepareIndyIntraweb : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(authority.isReady());
        QVERIFY(makeKey(inputs.file("site.key"), "old secret"));
        QVERIFY(authority.sign(inputs.file("site.key"), "old secret", "www.example.org",
                               inputs.file("site.pem")));
        QVERIFY(makeKey(inputs.file("other.key"), QString()));
        QVERIFY(authority.sign(inputs.file("other.key"), QString(), "other.example.org",
                               inputs.file("other.pem")));
        writeFileContent(inputs.file("garbage.pem"), "--garbage\nnot a certificate\n");
        runOpenSSL({"pkcs12", "-export", "-inkey", inputs.file("site.key"), "-passin",
                    "pass:old secret", "-in", inputs.file("site.pem"), "-name", "From IIS",
                    "-passout", "pass:pfx secret", "-out", inputs.file("site.pfx")});
        QVERIFY(!bundleContent(inputs.file("site.pfx"), "pfx secret").isEmpty());
        writeFileContent(inputs.file("text.pfx"), "this is no PKCS#12 file\n");
        // The certificate with its authority, as pasted text and as a bundle.
        writeFileContent(inputs.file("chain.pem"), fileContent(inputs.file("site.pem")) +
                                                       fileContent(authority.certificate()));
        runOpenSSL({"pkcs12", "-export", "-inkey", inputs.file("site.key"), "-passin",
                    "pass:old secret", "-in", inputs.file("chain.pem"), "-passout",
                    "pass:pfx secret", "-out", inputs.file("chain.pfx")});
        // As older Windows exports them: the certificates under RC2-40.
        runOpenSSL({"pkcs12", "-export", "-legacy", "-inkey", inputs.file("site.key"), "-passin",
                    "pass:old secret", "-in", inputs.file("site.pem"), "-name", "From IIS",
                    "-passout", "pass:pfx secret", "-out", inputs.file("legacy.pfx")});
        int exitCode = 0;
        QVERIFY(runOpenSSL({"pkcs12", "-in", inputs.file("legacy.pfx"), "-nokeys", "-passin",
                            "pass:pfx secret"},
                           &exitCode, true)
                    .contains("unsupported"));
        QCOMPARE(exitCode, 1);
    }

    void pagesAndKeySource() {
        TempProgramFolder program;
        Wizard wizard(nullptr);
        wizard.show();
        QCOMPARE(wizard.windowTitle(), QString("Certwright [Prepare Cert for Indy / Intraweb]"));
        QCOMPARE(wizard.currentPage(), int(Wizard::tsStart));
        QCOMPARE(wizard.btnPrevious->text(), QString("Cancel"));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        QVERIFY(!wizard.sbPrint->isVisible());
        QVERIFY(wizard.rbGenCertwright->isChecked());
        QVERIFY(wizard.rbPFXno->isChecked());

        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPrivateKeyType));
        QCOMPARE(wizard.focusWidget(), wizard.rbGenCertwright);
        QCOMPARE(wizard.btnPrevious->text(), QString("< Back"));

        // With Certwright: the key page names this program.
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectKey));
        QCOMPARE(wizard.focusWidget(), wizard.edtKeyFile);
        QCOMPARE(wizard.keySource(), Wizard::KeySource::Certwright);
        QCOMPARE(wizard.lblSelectKeyFile->text(),
                 QString("Please select your Certwright Key file:"));
        // The choice of an older Windows bundle belongs to the IIS wizard's key page alone.
        QVERIFY(!wizard.findChild<QCheckBox*>());

        // With OpenSSL: going back and switching switches the label.
        wizard.btnPrevious->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPrivateKeyType));
        wizard.rbGenOpenSSL->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectKey));
        QCOMPARE(wizard.keySource(), Wizard::KeySource::OpenSSL);
        QCOMPARE(wizard.lblSelectKeyFile->text(), QString("Please select your OpenSSL Key file:"));

        // With IIS and No: the export instructions with the print button, then the .pfx page;
        // the label keeps its last caption.
        wizard.btnPrevious->click();
        wizard.rbGenIIS->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsNeedPSX));
        QCOMPARE(wizard.focusWidget(), wizard.rbPFXyes);
        QCOMPARE(wizard.keySource(), Wizard::KeySource::IIS);
        QCOMPARE(wizard.lblSelectKeyFile->text(), QString("Please select your OpenSSL Key file:"));
        wizard.rbPFXno->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPFXInstructions));
        QVERIFY(wizard.sbPrint->isVisible());
        QVERIFY(wizard.memPFXInstructions->isReadOnly());
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectPFX));
        QCOMPARE(wizard.focusWidget(), wizard.edtPFXFile);
        QVERIFY(!wizard.sbPrint->isVisible());

        // Back from the .pfx page skips the instructions; Yes goes straight to it.
        wizard.btnPrevious->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsNeedPSX));
        wizard.rbPFXyes->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectPFX));

        // Escape walks back to the start and then closes.
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QCOMPARE(wizard.currentPage(), int(Wizard::tsStart));
        QCOMPARE(wizard.btnPrevious->text(), QString("Cancel"));
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QVERIFY(!wizard.isVisible());
    }

    void pfxPageCheck_data() {
        QTest::addColumn<QString>("pfxFile");
        QTest::addColumn<QString>("exportPath");
        addRow("both empty", "", "");
        addRow("no pfx file", "", "WORK");
        addRow("pfx file missing", "WORKnone.pfx", "WORK");
        addRow("pfx names a folder", "WORK", "WORK");
        addRow("no export path", "INPUTSsite.pfx", "");
        addRow("export folder missing", "INPUTSsite.pfx", "WORKnone/");
        addRow("export path names a file", "INPUTSsite.pfx", "INPUTSsite.pem");
    }
    void pfxPageCheck() {
        QFETCH(QString, pfxFile);
        QFETCH(QString, exportPath);
        TempProgramFolder program;
        TempFolder work;
        Wizard wizard(nullptr);
        toPFXPage(wizard, pfxFile.replace("WORK", work.path()).replace("INPUTS", inputs.path()),
                  exportPath.replace("WORK", work.path()).replace("INPUTS", inputs.path()));
        MessageBoxTexts texts;
        ModalScript script({noteTextsAndPressOk(&texts)});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kShownPFXPageMessage});
        // The folder's own reason below the page's message.
        QCOMPARE(texts.informative,
                 exportPath.endsWith("none/")  ? kMissingExportFolderMessage.arg(exportPath)
                 : exportPath.endsWith(".pem") ? kNotAFolderMessage.arg(exportPath)
                                               : QString());
        QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectPFX));
        QCOMPARE(wizard.edtPFXExport->text(), exportPath);
        QVERIFY(filesIn(work.path()).isEmpty());
    }

    void pfxRoute() {
        TempProgramFolder program;
        TempFolder work;
        Wizard wizard(nullptr);
        toRunPage(wizard, true, "site.pfx", work.path());
        ModalScript script({enterPassPhrases("pfx secret", "pem secret")});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
        QCOMPARE(wizard.btnNext->text(), QString("Finish"));
        QCOMPARE(wizard.btnPrevious->text(), QString("< Back"));
        QVERIFY(wizard.sbPrint->isVisible());
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"key.pem", "cert.pem"}));
        verifyPemPair(work.path(), "pem secret", inputs.file("site.pem"));
        // A bundle without authority certificates makes no root.pem: the guide is still needed.
        QCOMPARE(wizard.memRootInstructions->toPlainText(), Wizard::kRootInstructions.join('\n'));

        // Back from the finished page leads to the key source page without the print button.
        wizard.btnPrevious->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPrivateKeyType));
        QVERIFY(!wizard.sbPrint->isVisible());
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
    }

    // A .pfx file that needs the tool's legacy algorithms is read with them; a wrong pass
    // phrase is still called one.
    void pfxRouteReadsBundlesOfOlderWindows() {
        TempProgramFolder program;
        TempFolder work;
        {
            Wizard wizard(nullptr);
            toRunPage(wizard, true, "legacy.pfx", work.path());
            MessageBoxTexts texts;
            ModalScript script(
                {enterPassPhrases("not the secret", "pem secret"), noteTextsAndPressOk(&texts)});
            wizard.btnNext->click();
            QCOMPARE(script.seen, (QStringList{kPassPhraseTitle, kShownRunFailure}));
            QCOMPARE(texts.informative, ToolSteps::kWrongPassPhraseExplanation);
            QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectPFX));
            QVERIFY(filesIn(work.path()).isEmpty());
        }
        Wizard wizard(nullptr);
        toRunPage(wizard, true, "legacy.pfx", work.path());
        ModalScript script({enterPassPhrases("pfx secret", "pem secret")});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"key.pem", "cert.pem"}));
        verifyPemPair(work.path(), "pem secret", inputs.file("site.pem"));
    }

    // A failed run keeps the page and the current pass phrase; only the key route's certificate
    // file, written before the runs, stays.
    void runFailuresKeepThePage_data() {
        QTest::addColumn<bool>("pfxRoute");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("passPhrase");
        QTest::addColumn<bool>("withTool");
        addRow("pfx route, wrong pass phrase", true, "site.pfx", "not the secret", true);
        addRow("pfx route, no PKCS#12 file", true, "text.pfx", "pfx secret", true);
        addRow("pfx route, missing tool", true, "site.pfx", "pfx secret", false);
        addRow("key route, wrong pass phrase", false, "site.pem", "not the secret", true);
        addRow("key route, certificate of another key", false, "other.pem", "old secret", true);
        addRow("key route, text that is no certificate", false, "garbage.pem", "old secret", true);
        addRow("key route, missing tool", false, "site.pem", "old secret", false);
    }
    void runFailuresKeepThePage() {
        QFETCH(bool, pfxRoute);
        QFETCH(QString, input);
        QFETCH(QString, passPhrase);
        QFETCH(bool, withTool);
        TempProgramFolder program(withTool);
        TempFolder work;
        Wizard wizard(nullptr);
        toRunPage(wizard, pfxRoute, input, work.path());
        ModalScript script(
            {enterPassPhrases(passPhrase, "pem secret"), pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(script.seen, (QStringList{kPassPhraseTitle, kShownRunFailure}));
        QCOMPARE(wizard.currentPage(), int(pfxRoute ? Wizard::tsSelectPFX : Wizard::tsPasteCert));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        // Neither the certificate file nor a pass phrase stays.
        QVERIFY(filesIn(work.path()).isEmpty());
        QVERIFY(passPhraseFilesEmpty(program.path()));
    }

    // On the .pfx route No keeps both files and the page; nothing is deleted before both
    // answers are in.
    void pfxRouteOverwriteQuestions() {
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("key.pem"), "older key");
        writeFileContent(work.file("cert.pem"), "older certificate");
        Wizard wizard(nullptr);
        toRunPage(wizard, true, "site.pfx", work.path());
        ModalScript keep({enterPassPhrases("pfx secret", "pem secret"),
                          pressButton(QMessageBox::Yes), pressButton(QMessageBox::No)});
        wizard.btnNext->click();
        QCOMPARE(keep.seen, (QStringList{kPassPhraseTitle, kKeyQuestion, kCertificateQuestion}));
        QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectPFX));
        QCOMPARE(fileContent(work.file("key.pem")), QByteArray("older key"));
        QCOMPARE(fileContent(work.file("cert.pem")), QByteArray("older certificate"));
        QVERIFY(passPhraseFilesEmpty(program.path()));

        // Enter on the page and Enter on the question keep the key.
        ModalScript first({enterPassPhrases("pfx secret", "pem secret"),
                           onWindow<QMessageBox>([](QMessageBox* box) {
                               QTest::keyClick(box->focusWidget(), Qt::Key_Return);
                           })});
        QTest::keyClick(&wizard, Qt::Key_Return);
        QCOMPARE(first.seen, (QStringList{kPassPhraseTitle, kKeyQuestion}));
        QCOMPARE(fileContent(work.file("key.pem")), QByteArray("older key"));

        ModalScript replace({enterPassPhrases("pfx secret", "pem secret"),
                             pressButton(QMessageBox::Yes), pressButton(QMessageBox::Yes)});
        wizard.btnNext->click();
        QCOMPARE(replace.remaining(), 0);
        QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
        verifyPemPair(work.path(), "pem secret", inputs.file("site.pem"));
    }

    void pfxRouteCancelledPassPhrase() {
        TempProgramFolder program;
        TempFolder work;
        Wizard wizard(nullptr);
        toRunPage(wizard, true, "site.pfx", work.path());
        ModalScript cancel({rejectDialog()});
        wizard.btnNext->click();
        QCOMPARE(cancel.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(Wizard::tsSelectPFX));
        QVERIFY(filesIn(work.path()).isEmpty());
        QVERIFY(passPhraseFilesEmpty(program.path()));
    }

    // Both routes ask for a current pass phrase that may not be empty, with their own labels.
    void passPhraseDialogPerRoute_data() {
        QTest::addColumn<bool>("pfxRoute");
        QTest::addColumn<QString>("currentLabel");
        addRow("pfx route", true, "Current PFX File Password:");
        addRow("key route", false, "Current Key File Password:");
    }
    void passPhraseDialogPerRoute() {
        QFETCH(bool, pfxRoute);
        QFETCH(QString, currentLabel);
        TempProgramFolder program;
        TempFolder work;
        Wizard wizard(nullptr);
        toRunPage(wizard, pfxRoute, pfxRoute ? "site.pfx" : "site.pem", work.path());
        const int page = wizard.currentPage();
        QStringList labels;
        ModalScript script({[&](QWidget* modal) {
                                if (auto* dialog = qobject_cast<TfrmPasswordDlg*>(modal))
                                    labels << dialog->lblPass1->text() << dialog->lblPass2->text();
                                enterPassPhrases(QString(), "pem secret")(modal);
                            },
                            pressButton(QMessageBox::Ok), rejectDialog()});
        wizard.btnNext->click();
        QCOMPARE(script.seen, (QStringList{kPassPhraseTitle, "All fields must be completed.",
                                           kPassPhraseTitle}));
        QCOMPARE(labels, (QStringList{currentLabel, "New Password for PEM file:"}));
        QCOMPARE(wizard.currentPage(), page);
        QCOMPARE(filesIn(work.path()), QSet<QString>());
    }

    void keyRoute() {
        TempProgramFolder program;
        TempFolder work;
        Wizard wizard(nullptr);
        toRunPage(wizard, false, "site.pem", work.path());
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPasteCert));
        ModalScript script({enterPassPhrases("old secret", "pem secret")});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
        QCOMPARE(wizard.btnNext->text(), QString("Finish"));
        QVERIFY(wizard.sbPrint->isVisible());
        // The bundle made on the way, which holds the key, is gone.
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"key.pem", "cert.pem"}));
        verifyPemPair(work.path(), "pem secret", inputs.file("site.pem"));
        QVERIFY(fileContent(work.file("key.pem")).contains("friendlyName: Indy Server"));
        // Both pass-phrase files are emptied, still for the owner only.
        QVERIFY(passPhraseFilesEmpty(program.path()));
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(program.file("passcurrent.txt")) & others,
                 QFile::Permissions());

        wizard.btnNext->click();
        QVERIFY(!wizard.isVisible());
    }

    // The tool runs in the program folder; relative paths still mean the files and the folder
    // below the current directory, on both routes.
    void relativePathsLieInTheCurrentDirectory_data() {
        addBoolRows("pfxRoute", "key route", "pfx route");
    }
    void relativePathsLieInTheCurrentDirectory() {
        QFETCH(bool, pfxRoute);
        TempProgramFolder program;
        TempFolder work;
        QVERIFY(QDir(work.path()).mkdir("out"));
        const QString input = pfxRoute ? "site.pfx" : "site.key";
        QVERIFY(QFile::copy(inputs.file(input), work.file(input)));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(work.path());
        Wizard wizard(nullptr);
        if (pfxRoute) {
            toPFXPage(wizard, input, "out");
        } else {
            toPastePage(wizard, input, "out", "Indy Server");
            wizard.memPasteCert->setPlainText(pemText(inputs.file("site.pem")));
        }
        ModalScript script(
            {enterPassPhrases(pfxRoute ? "pfx secret" : "old secret", "pem secret")});
        wizard.btnNext->click();
        QDir::setCurrent(previous);
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
        verifyPemPair(work.file("out/"), "pem secret", inputs.file("site.pem"));
        QCOMPARE(filesIn(program.path()),
                 (QSet<QString>{"openssl", "passcurrent.txt", "passnew.txt"}));
    }

    // Under the debug switch every run's output reaches the program's standard error, on both
    // routes; without it none does.
    void debugSwitchShowsEveryRun_data() {
        QTest::addColumn<bool>("pfxRoute");
        QTest::addColumn<QStringList>("runs");
        // The pfx route also looks for authority certificates for root.pem.
        addRow("pfx route", true, QStringList{"tool run: -in", "tool run: -in", "tool run: -in"});
        addRow("key route", false,
               QStringList{"tool run: -export", "tool run: -nocerts", "tool run: -clcerts"});
    }
    void debugSwitchShowsEveryRun() {
        QFETCH(bool, pfxRoute);
        QFETCH(QStringList, runs);
        TempProgramFolder program(false);
        installAnnouncingPkcs12Tool(program);
        for (const bool debug : {true, false}) {
            TempFolder work;
            DebugMode = debug;
            Wizard wizard(nullptr);
            toRunPage(wizard, pfxRoute, pfxRoute ? "site.pfx" : "site.pem", work.path());
            StandardErrorCapture capture;
            ModalScript script(
                {enterPassPhrases(pfxRoute ? "pfx secret" : "old secret", "pem secret")});
            wizard.btnNext->click();
            const QStringList shown = capture.text().split('\n').filter("tool run: ");
            DebugMode = false;
            QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
            QCOMPARE(shown, debug ? runs : QStringList());
            verifyPemPair(work.path(), "pem secret", inputs.file("site.pem"));
        }
    }

    // An input that lies in the export folder under the name of an output is refused before
    // the pass phrases are asked for, instead of being deleted before the tool reads it.
    void inputNamedLikeAnOutputIsKept_data() {
        QTest::addColumn<bool>("pfxRoute");
        QTest::addColumn<QString>("inputName");
        addRow("pfx route, cert.pem", true, "cert.pem");
        addRow("key route, key.pem", false, "key.pem");
        addRow("key route, __tmp.p12", false, "__tmp.p12");
    }
    void inputNamedLikeAnOutputIsKept() {
        QFETCH(bool, pfxRoute);
        QFETCH(QString, inputName);
        TempProgramFolder program;
        TempFolder work;
        const QString input = work.file(inputName);
        QVERIFY(QFile::copy(inputs.file(pfxRoute ? "site.pfx" : "site.key"), input));
        const QByteArray before = fileContent(input);
        Wizard wizard(nullptr);
        if (pfxRoute) {
            toPFXPage(wizard, input, work.path());
        } else {
            toPastePage(wizard, input, work.path(), "Indy Server");
            wizard.memPasteCert->setPlainText(pemText(inputs.file("site.pem")));
        }
        ModalScript script({pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{ToolSteps::kInputIsOutputMessage.arg(input)});
        QCOMPARE(wizard.currentPage(), int(pfxRoute ? Wizard::tsSelectPFX : Wizard::tsPasteCert));
        QCOMPARE(fileContent(input), before);
        QVERIFY(!QFile::exists(program.file("passnew.txt")));
    }

    // A later run that fails leaves the outputs of the earlier runs; a folder in the place of
    // an output makes its run fail.
    void laterRunFailureKeepsEarlierOutputs_data() {
        QTest::addColumn<bool>("pfxRoute");
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QSet<QString>>("remaining");
        addRow("pfx route, certificate run", true, "cert.pem", QSet<QString>{"key.pem"});
        addRow("key route, key run", false, "key.pem", QSet<QString>{});
        addRow("key route, certificate run", false, "cert.pem", QSet<QString>{"key.pem"});
    }
    void laterRunFailureKeepsEarlierOutputs() {
        QFETCH(bool, pfxRoute);
        QFETCH(QString, blocked);
        QFETCH(QSet<QString>, remaining);
        TempProgramFolder program;
        TempFolder work;
        QVERIFY(QDir().mkdir(work.file(blocked)));
        Wizard wizard(nullptr);
        toRunPage(wizard, pfxRoute, pfxRoute ? "site.pfx" : "site.pem", work.path());
        const int page = wizard.currentPage();
        ModalScript script({enterPassPhrases(pfxRoute ? "pfx secret" : "old secret", "pem secret"),
                            pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(script.seen, (QStringList{kPassPhraseTitle, kShownRunFailure}));
        QCOMPARE(wizard.currentPage(), page);
        QCOMPARE(filesIn(work.path()), remaining);
        if (remaining.contains("key.pem"))
            QVERIFY(!keyModulus(work.file("key.pem"), "pem secret").isEmpty());
    }

    // A bundle left by an earlier conversion must not stand in for a bundle run that fails; the
    // files of the earlier conversion come back as they were.
    void staleBundleIsNoOutput() {
        TempProgramFolder program;
        TempFolder work;
        Wizard wizard(nullptr);
        toRunPage(wizard, false, "site.pem", work.path());
        ModalScript first({enterPassPhrases("old secret", "pem secret")});
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
        runOpenSSL({"pkcs12", "-export", "-inkey", work.file("key.pem"), "-passin",
                    "pass:pem secret", "-in", work.file("cert.pem"), "-passout", "pass:pem secret",
                    "-out", work.file("__tmp.p12")});
        const QStringList earlierFiles{"key.pem", "cert.pem", "__tmp.p12"};
        QCOMPARE(filesIn(work.path()), QSet<QString>(earlierFiles.begin(), earlierFiles.end()));
        QMap<QString, QByteArray> earlier;
        for (const QString& name : earlierFiles)
            earlier[name] = fileContent(work.file(name));

        wizard.btnPrevious->click();
        wizard.btnNext->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPasteCert));
        ModalScript second({enterPassPhrases("not the secret", "pem secret"),
                            pressButton(QMessageBox::Yes), pressButton(QMessageBox::Yes),
                            pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(second.seen, (QStringList{kPassPhraseTitle, kKeyQuestion, kCertificateQuestion,
                                           kShownRunFailure}));
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPasteCert));
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"key.pem", "cert.pem", "__tmp.p12"}));
        for (const QString& name : earlierFiles)
            QCOMPARE(fileContent(work.file(name)), earlier.value(name));
    }

    // root.pem is asked about only when the bundle or the pasted chain holds an authority's
    // certificate; No keeps it and still makes key.pem and cert.pem. Files of the user's named
    // like the program's scratch files stay as they are.
    void rootPemOnlyFromAuthorities_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("answer"); // to the root.pem question; empty: not asked
        addRow("pfx without authorities", "site.pfx", "");
        addRow("pfx with authorities, No", "chain.pfx", "No");
        addRow("pfx with authorities, Yes", "chain.pfx", "Yes");
        addRow("pasted certificate alone", "site.pem", "");
        addRow("pasted chain, No", "chain.pem", "No");
        addRow("pasted chain, Yes", "chain.pem", "Yes");
    }
    void rootPemOnlyFromAuthorities() {
        QFETCH(QString, input);
        QFETCH(QString, answer);
        TempProgramFolder program;
        TempFolder work;
        const QStringList kept{"__chain.txt", "__chain.tmp", "root.pem"};
        for (const QString& name : kept)
            writeFileContent(work.file(name), name.toUtf8());
        Wizard wizard(nullptr);
        const bool pfxRoute = input.endsWith(".pfx");
        toRunPage(wizard, pfxRoute, input, work.path());
        ModalScript script({enterPassPhrases(pfxRoute ? "pfx secret" : "old secret", "pem secret"),
                            pressButton(answer == "Yes" ? QMessageBox::Yes : QMessageBox::No)});
        wizard.btnNext->click();
        QCOMPARE(script.seen.mid(1), answer.isEmpty() ? QStringList() : QStringList{kRootQuestion});
        verifyPemPair(work.path(), "pem secret", inputs.file("site.pem"));
        const bool replaced = answer == "Yes";
        for (const QString& name : kept.mid(0, replaced ? 2 : 3))
            QCOMPARE(fileContent(work.file(name)), name.toUtf8());
        QCOMPARE(subjectsIn(pemText(work.file("root.pem"))).size(), replaced ? 1 : 0);
        QCOMPARE(filesIn(work.path()).size(), 5);
        QCOMPARE(
            wizard.memRootInstructions->toPlainText(),
            (replaced ? Wizard::kRootWrittenInstructions : Wizard::kRootInstructions).join('\n'));
    }

    // On the key route No keeps the files and the page, without any run, and removes the
    // certificate file written for the runs.
    void keyRouteOverwriteQuestions() {
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("key.pem"), "older key");
        writeFileContent(work.file("cert.pem"), "older certificate");
        Wizard wizard(nullptr);
        toRunPage(wizard, false, "site.pem", work.path());
        ModalScript keep({enterPassPhrases("old secret", "pem secret"),
                          pressButton(QMessageBox::Yes), pressButton(QMessageBox::No)});
        wizard.btnNext->click();
        QCOMPARE(keep.seen, (QStringList{kPassPhraseTitle, kKeyQuestion, kCertificateQuestion}));
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPasteCert));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"key.pem", "cert.pem"}));
        QCOMPARE(fileContent(work.file("key.pem")), QByteArray("older key"));
        QCOMPARE(fileContent(work.file("cert.pem")), QByteArray("older certificate"));
        QVERIFY(passPhraseFilesEmpty(program.path()));
    }

    void pfxFileDialogAndFolderChooser() {
        TempProgramFolder program;
        TempFolder work;
        Wizard wizard(nullptr);
        toPFXPage(wizard, QString(), QString());
        // The dialog is read and answered first; the checks follow once it has closed.
        QString name;
        QStringList filters;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        bool nonNative = false;
        ModalScript choose({onWindow<QFileDialog>([&](QFileDialog* dialog) {
            name = dialog->objectName();
            filters = dialog->nameFilters();
            mode = dialog->fileMode();
            nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
            typeIntoFileDialog(dialog, inputs.file("site.pfx"));
        })});
        wizard.btnSelectPFX->click();
        QCOMPARE(choose.seen, QStringList{"Select a Pfx File"});
        QCOMPARE(name, QString("dlgPFX"));
        QCOMPARE(filters, (QStringList{"PFX Files (*.pfx)", "All Files (*)"}));
        QCOMPARE(mode, QFileDialog::ExistingFile);
        QVERIFY(nonNative);
        QCOMPARE(wizard.edtPFXFile->text(), inputs.file("site.pfx"));
        QCOMPARE(wizard.edtPFXExport->text(), inputs.path());

        // The folder chooser starts in the field's folder, or in the .pfx file's when empty.
        wizard.edtPFXExport->clear();
        QString start;
        ModalScript chooser({chooseFolder(work.path(), &start)});
        wizard.btnPFXExport->click();
        QCOMPARE(start, inputs.path());
        QCOMPARE(wizard.edtPFXExport->text(), work.path());
    }

    // tsPFXInstructions prints the export instructions, tsFinished the root certificate
    // instructions.
    void printingBothInstructionBoxes() {
        TempProgramFolder program;
        TempFolder work;
        TempFolder pdfs;
        Wizard wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        wizard.rbGenIIS->click();
        wizard.btnNext->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsPFXInstructions));
        const QString exportSteps = printShownPage(wizard, pdfs.file("export.pdf"));
        QVERIFY(!exportSteps.isEmpty());
        QCOMPARE(withoutBlanks(pdfText(exportSteps)),
                 withoutBlanks(Wizard::kPFXInstructions.join(QString())));
        QVERIFY(printedInOrder(exportSteps, Wizard::kPFXInstructions));
        QStringList printed = printedLines(exportSteps);
        QCOMPARE(printed.at(printed.indexOf("IIS server.") + 1), QString());

        wizard.btnPrevious->click();
        wizard.btnPrevious->click();
        wizard.rbGenOpenSSL->click();
        wizard.btnNext->click();
        wizard.edtKeyFile->setText(inputs.file("site.key"));
        wizard.edtExportPath->setText(work.path());
        wizard.edtCommonName->setText("Indy Server");
        wizard.btnNext->click();
        wizard.memPasteCert->setPlainText(pemText(inputs.file("site.pem")));
        ModalScript make({enterPassPhrases("old secret", "pem secret")});
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(Wizard::tsFinished));
        const QString rootSteps = printShownPage(wizard, pdfs.file("root.pdf"));
        QCOMPARE(withoutBlanks(pdfText(rootSteps)),
                 withoutBlanks(Wizard::kRootInstructions.join(QString())));
        QVERIFY(printedInOrder(rootSteps, Wizard::kRootInstructions));
        printed = printedLines(rootSteps);
        QCOMPARE(printed.at(printed.indexOf("instructions.") + 1), QString());
    }

  private:
    SigningAuthority authority;
    TempFolder inputs;

    // To the page whose Next runs the tool: the .pfx page with the input bundle, or the paste
    // page of the site key with the input certificate pasted.
    void toRunPage(Wizard& wizard, bool pfxRoute, const QString& input, const QString& exportPath) {
        if (pfxRoute) {
            toPFXPage(wizard, inputs.file(input), exportPath);
        } else {
            toPastePage(wizard, inputs.file("site.key"), exportPath, "Indy Server");
            wizard.memPasteCert->setPlainText(pemText(inputs.file(input)));
        }
    }
};

QTEST_MAIN(TestPrepareIndyIntraweb)
#include "tst_prepareindy.moc"
