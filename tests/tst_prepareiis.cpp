#include "InstallCertificateForm.h"
#include "KeyAndCertificateFixtures.h"
#include "TestAuthority.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"
#include "uPasswordForm.h"
#include "uPrepareIISForm.h"
#include "uToolSteps.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kShownKeyPageMessage =
    QStringLiteral("Please make sure that both files and a path are specified before continuing.");
const QString kShownCertificateMessage =
    QStringLiteral("Your cert must begin with \"-----BEGIN CERTIFICATE-----\" and end with "
                   "\"-----END CERTIFICATE-----\".");

// Shows the wizard and moves it to the paste page with the given key page entries.
void toPastePage(TfrmPrepareIIS& wizard, const QString& keyFile, const QString& exportPath,
                 const QString& commonName) {
    wizard.show();
    wizard.btnNext->click();
    fillKeyPage(wizard, keyFile, exportPath, commonName);
}

} // namespace

class TestPrepareIIS : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QVERIFY(authority.isReady()); }

    void navigationAndCaptions() {
        TempProgramFolder program;
        TempFolder work;
        QVERIFY(makeKey(work.file("site.key"), QString()));
        TfrmPrepareIIS wizard(nullptr);
        wizard.show();
        QVERIFY(wizard.windowTitle().contains("Certwright"));
        QVERIFY(wizard.windowTitle().contains("IIS"));
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsStart));
        QCOMPARE(wizard.btnPrevious->text(), QString("Cancel"));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        QVERIFY(!wizard.sbPrint->isVisible());
        QVERIFY(wizard.edtKeyFile->text().isEmpty());
        QVERIFY(wizard.edtExportPath->text().isEmpty());
        QVERIFY(wizard.edtCommonName->text().isEmpty());
        QVERIFY(wizard.memPasteCert->toPlainText().isEmpty());

        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsSelectKey));
        QCOMPARE(wizard.btnPrevious->text(), QString("< Back"));
        QCOMPARE(wizard.focusWidget(), wizard.edtKeyFile);
        QCOMPARE(wizard.lblSelectKeyFile->text(), QString("Please select your OpenSSL Key file:"));

        // The keyboard walks the key page in its own order.
        QCOMPARE(wizard.cbLegacyPfx->text(), QString("For Windows Server 2016 and older"));
        QVERIFY(wizard.cbLegacyPfx->isVisible() && !wizard.cbLegacyPfx->isChecked());
        const QList<QWidget*> tabOrder{wizard.edtKeyFile,    wizard.btnKeyFile,
                                       wizard.edtExportPath, wizard.btnCertExport,
                                       wizard.edtCommonName, wizard.cbLegacyPfx};
        for (int i = 0; i + 1 < tabOrder.size(); ++i) {
            QWidget* next = tabOrder[i]->nextInFocusChain();
            while (!(next->focusPolicy() & Qt::TabFocus))
                next = next->nextInFocusChain();
            QCOMPARE(next, tabOrder[i + 1]);
        }

        // Escape goes back from the key page and closes on the start page.
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsStart));
        QCOMPARE(wizard.btnPrevious->text(), QString("Cancel"));

        wizard.btnNext->click();
        wizard.edtKeyFile->setText(work.file("site.key"));
        wizard.edtExportPath->setText(work.path());
        wizard.edtCommonName->setText("www.example.org");
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        QVERIFY(!wizard.sbPrint->isVisible());
        wizard.btnPrevious->click();
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsSelectKey));
        QCOMPARE(wizard.edtCommonName->text(), QString("www.example.org"));
        // Every showing starts on the first page.
        wizard.hide();
        wizard.show();
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsStart));
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
    }

    void keyPageCheck_data() {
        QTest::addColumn<QString>("keyFile");
        QTest::addColumn<QString>("exportPath");
        QTest::addColumn<QString>("commonName");
        addRow("all empty", "", "", "");
        addRow("no key file", "", "WORK", "www.example.org");
        addRow("key file missing", "WORKnone.key", "WORK", "www.example.org");
        addRow("key names a folder", "WORK", "WORK", "www.example.org");
        addRow("no common name", "WORKsite.key", "WORK", "");
        addRow("no export path", "WORKsite.key", "", "www.example.org");
        addRow("export folder missing", "WORKsite.key", "WORKnone/", "www.example.org");
        addRow("export path names a file", "WORKsite.key", "WORKsite.key", "www.example.org");
    }
    void keyPageCheck() {
        QFETCH(QString, keyFile);
        QFETCH(QString, exportPath);
        QFETCH(QString, commonName);
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "not read here");
        TfrmPrepareIIS wizard(nullptr);
        MessageBoxTexts texts;
        ModalScript script({noteTextsAndPressOk(&texts)});
        toPastePage(wizard, keyFile.replace("WORK", work.path()),
                    exportPath.replace("WORK", work.path()), commonName);
        QCOMPARE(script.seen, QStringList{kShownKeyPageMessage});
        // The folder's own reason below the page's message.
        QCOMPARE(texts.informative,
                 exportPath.endsWith("none/")  ? kMissingExportFolderMessage.arg(exportPath)
                 : exportPath.endsWith(".key") ? kNotAFolderMessage.arg(exportPath)
                                               : QString());
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsSelectKey));
        QCOMPARE(wizard.btnPrevious->text(), QString("< Back"));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        QCOMPARE(wizard.edtCommonName->text(), commonName);
    }

    void friendlyNameMustFitTheBundle_data() {
        QTest::addColumn<QString>("commonName");
        QTest::addColumn<QString>("refused");
        addRow("emoji", QString::fromUtf8("Shop \U0001F512"), QString::fromUtf8("\U0001F512"));
        addRow("letters beyond Latin-1", QString::fromUtf8("Ω 漢字 Łódź"), QString());
    }
    void friendlyNameMustFitTheBundle() {
        QFETCH(QString, commonName);
        QFETCH(QString, refused);
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "not read here");
        TfrmPrepareIIS wizard(nullptr);
        ModalScript script({pressButton(QMessageBox::Ok)});
        wizard.show();
        wizard.btnNext->click();
        // Typed through an input method or pasted: key clicks carry only Latin-1.
        wizard.edtKeyFile->setText(work.file("site.key"));
        wizard.edtExportPath->setText(work.path());
        wizard.edtCommonName->setText(commonName);
        wizard.btnNext->click();
        if (refused.isEmpty()) {
            QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
            QVERIFY(script.seen.isEmpty());
            return;
        }
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsSelectKey));
        QCOMPARE(script.seen.size(), 1);
        QVERIFY2(script.seen.first().contains("\"" + refused + "\""),
                 qPrintable(script.seen.first()));
        QVERIFY(!QFileInfo::exists(program.file("passnew.txt")));
    }

    void siblingCertificateLookup_data() {
        QTest::addColumn<QStringList>("siblings");
        QTest::addColumn<QString>("shown");
        addRow(".cer and .crt: .cer wins", QStringList{"cer", "crt"}, "cer");
        addRow(".crt alone", QStringList{"crt"}, "crt");
        addRow("neither keeps the box", QStringList{}, "earlier");
    }
    void siblingCertificateLookup() {
        QFETCH(QStringList, siblings);
        QFETCH(QString, shown);
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "key");
        writeFileContent(work.file("site.pem"), "-----not a sibling\n");
        for (const QString& extension : siblings)
            writeFileContent(work.file("site." + extension),
                             "-----" + extension.toLatin1() + " line 1\r\nline 2\r\n");
        TfrmPrepareIIS wizard(nullptr);
        wizard.memPasteCert->setPlainText("earlier");
        toPastePage(wizard, work.file("site.key"), work.path(), "www.example.org");
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        const QString expected =
            shown == "earlier" ? shown : QString("-----%1 line 1\nline 2\n").arg(shown);
        QCOMPARE(wizard.memPasteCert->toPlainText(), expected);

        // Every pass over the key page looks again and replaces what the user changed.
        wizard.memPasteCert->setPlainText("edited");
        wizard.btnPrevious->click();
        wizard.btnNext->click();
        QCOMPARE(wizard.memPasteCert->toPlainText(), shown == "earlier" ? "edited" : expected);
    }

    // A sibling that is no regular file (here a socket) is passed over for the next one: it
    // is nothing that a certificate is read from.
    void siblingThatIsNoFileIsPassedOver() {
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "key");
        writeFileContent(work.file("site.crt"), "-----BEGIN CERTIFICATE-----\r\nabc\r\n");
        const int socketHandle = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray socketPath = QFile::encodeName(work.file("site.cer"));
        QVERIFY(std::size_t(socketPath.size()) < sizeof(address.sun_path));
        std::memcpy(address.sun_path, socketPath.constData(), std::size_t(socketPath.size()));
        QCOMPARE(::bind(socketHandle, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        TfrmPrepareIIS wizard(nullptr);
        wizard.memPasteCert->setPlainText("earlier");
        ModalScript script({pressButton(QMessageBox::Ok)});
        toPastePage(wizard, work.file("site.key"), work.path(), "www.example.org");
        ::close(socketHandle);
        QCOMPARE(script.seen, QStringList());
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        QCOMPARE(wizard.memPasteCert->toPlainText(), QString("-----BEGIN CERTIFICATE-----\nabc\n"));
    }

    // Tab leads from the box to Load..., which the keyboard presses. A file that holds no
    // certificate, or is too large to be one, leaves the box as it was and says why; a
    // cancelled dialog leaves it silently.
    void loadButtonReadsOnlyCertificateFiles_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // %1: the file's path
        addRow("cancelled", "", "");
        addRow("no certificate", "notes.txt",
               "The file \"%1\" holds no certificate: it is not a certificate or a chain in PEM, "
               "DER or PKCS#7 form.");
        addRow("too large", "large.pem", TfrmPrepareIIS::kSiblingTooLargeMessage);
    }
    void loadButtonReadsOnlyCertificateFiles() {
        QFETCH(QString, name);
        QFETCH(QString, message);
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("notes.txt"), "-- some notes\n");
        writeFileContent(work.file("large.pem"),
                         QByteArray(TfrmPrepareIIS::kLargestSiblingCertificate + 1, '-'));
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, work.file("notes.txt"), work.path(), "Shop");
        wizard.memPasteCert->setPlainText("earlier");
        QTest::keyClick(wizard.memPasteCert, Qt::Key_Tab);
        QVector<ModalScript::Action> answers{onWindow<QFileDialog>([&](QFileDialog* dialog) {
            QCOMPARE(dialog->nameFilters().first(),
                     QString("Certificate Files (*.pem *.crt *.cer *.der *.p7b *.p7c)"));
            name.isEmpty() ? rejectDialog()(dialog) : typeIntoFileDialog(dialog, work.file(name));
        })};
        if (!message.isEmpty())
            answers << pressButton(QMessageBox::Ok);
        ModalScript script(answers);
        QCOMPARE(wizard.focusWidget(), wizard.btnLoadCertificate);
        QTest::keyClick(wizard.btnLoadCertificate, Qt::Key_Space);
        QCOMPARE(script.seen.mid(1),
                 message.isEmpty() ? QStringList() : QStringList{message.arg(work.file(name))});
        QCOMPARE(wizard.memPasteCert->toPlainText(), QString("earlier"));
    }

    void pastedCertificateCheck_data() {
        QTest::addColumn<QString>("text");
        addRow("empty box", "");
        addRow("blank first line", "\n-----BEGIN CERTIFICATE-----\nMIIB\n");
        addRow("leading blank", " -----BEGIN CERTIFICATE-----\n");
        addRow("one hyphen", "-");
        addRow("binary certificate", "0\u0082\u0003");
    }
    void pastedCertificateCheck() {
        QFETCH(QString, text);
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "key");
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, work.file("site.key"), work.path(), "www.example.org");
        wizard.memPasteCert->setPlainText(text);
        ModalScript script({pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kShownCertificateMessage});
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        QCOMPARE(filesIn(work.path()), QSet<QString>{"site.key"});
    }

    // Two hyphens pass the check; the certificate file is written before the pass phrases
    // are asked for, and stays when the user cancels them.
    void twoHyphensPassAndCancelKeepsCertificateFile() {
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "key");
        writeFileContent(program.file("passcurrent.txt"), "before");
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, work.file("site.key"), work.path(), "www.example.org");
        wizard.memPasteCert->setPlainText("--\nsecond line");
        QStringList labels;
        bool currentShown = false;
        ModalScript script({[&](QWidget* modal) {
            if (auto* dialog = qobject_cast<TfrmPasswordDlg*>(modal)) {
                labels << dialog->lblPass1->text() << dialog->lblPass2->text();
                currentShown = dialog->edtCurrentPassword->isVisibleTo(dialog);
            }
            rejectDialog()(modal);
        }});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(labels, (QStringList{"Current Key File Password:", "New Password for PFX file:"}));
        QVERIFY(currentShown);
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        // The certificate file and the pass phrases go with the cancelled step.
        QVERIFY(passPhraseFilesEmpty(program.path()));
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"site.key"}));
    }

    // A key from a request, its certificate from an authority: the .pfx holds both under the
    // friendly name, opens only with the new pass phrase and is protected as chosen on the key
    // page. A friendly name with double quotes is carried as it is. An authority pasted after
    // the certificate goes into the bundle. The user's files named like the program's scratch
    // files of old stay as they are.
    void encryptedKeyBecomesPfx_data() {
        QTest::addColumn<bool>("forOlderWindows");
        QTest::addColumn<QStringList>("protection");
        QTest::addColumn<QString>("friendlyName");
        const QStringList current = {"MAC: sha256", "PBES2, PBKDF2, AES-256-CBC"};
        QTest::newRow("current") << false << current << "Shop Server";
        QTest::newRow("for Windows Server 2016 and older")
            << true << QStringList({"MAC: sha1", "pbeWithSHA1And3-KeyTripleDES-CBC"})
            << "Shop Server";
        QTest::newRow("double quotes in the name") << false << current << "Shop \"One\"";
        QTest::newRow("with its authority pasted") << false << current << "Shop Server";
    }
    void encryptedKeyBecomesPfx() {
        QFETCH(bool, forOlderWindows);
        QFETCH(QStringList, protection);
        QFETCH(QString, friendlyName);
        TempProgramFolder program;
        TempFolder work;
        const QString key = work.file("my.site.key");
        const QString certificate = work.file("issued.pem");
        QVERIFY(makeKey(key, "old secret"));
        QVERIFY(authority.sign(key, "old secret", "www.example.org", certificate));
        const QStringList userFiles{"__chain.txt", "__chain.tmp"};
        for (const QString& name : userFiles)
            writeFileContent(work.file(name), name.toUtf8());
        const bool chained = QByteArray(QTest::currentDataTag()).contains("authority");
        TfrmPrepareIIS wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        if (forOlderWindows)
            QTest::keyClick(wizard.cbLegacyPfx, Qt::Key_Space);
        QCOMPARE(wizard.cbLegacyPfx->isChecked(), forOlderWindows);
        fillKeyPage(wizard, key, work.path(), friendlyName);
        wizard.memPasteCert->setPlainText(pemText(certificate) +
                                          (chained ? pemText(authority.certificate()) : QString()));
        ModalScript script({enterPassPhrases("old secret", "new secret")});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));
        QCOMPARE(wizard.btnNext->text(), QString("Finish"));
        QCOMPARE(wizard.btnPrevious->text(), QString("< Back"));
        QVERIFY(wizard.sbPrint->isVisible());

        const QString pfx = work.file("my.site.pfx");
        QVERIFY(bundleContent(pfx, "old secret").isEmpty());
        const QString content = bundleContent(pfx, "new secret");
        const QString info = runOpenSSL(
            {"pkcs12", "-in", pfx, "-info", "-noout", "-passin", "pass:new secret"}, nullptr, true);
        for (const QString& algorithm : protection)
            QVERIFY2(info.contains(algorithm), qPrintable(info));
        QVERIFY(content.contains("friendlyName: " + friendlyName + "\n"));
        writeFileContent(work.file("opened.pem"), content.toUtf8());
        QCOMPARE(keyModulus(work.file("opened.pem"), QString()), keyModulus(key, "old secret"));
        QCOMPARE(certificateModulus(work.file("opened.pem")), certificateModulus(certificate));
        QVERIFY(certificateSubject(work.file("opened.pem")).contains("www.example.org"));
        QCOMPARE(content.count("BEGIN CERTIFICATE"), chained ? 2 : 1);
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"my.site.key", "issued.pem", "my.site.pfx",
                                                      "opened.pem", "__chain.txt", "__chain.tmp"}));
        for (const QString& name : userFiles)
            QCOMPARE(fileContent(work.file(name)), name.toUtf8());

        // Finish closes the wizard.
        wizard.btnNext->click();
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
    }

    // An unencrypted key (as the self-signed wizard makes it) exports with an empty current
    // pass phrase; its .cer sibling fills the box; an export path typed without a separator
    // still keeps every file inside that folder.
    void plainKeyWithEmptyCurrentPassPhrase() {
        TempProgramFolder program;
        TempFolder work;
        const QString key = work.file("mykey");
        QVERIFY(makeKey(key, QString()));
        runOpenSSL({"req", "-new", "-x509", "-key", key, "-subj", "/CN=self.example.org", "-days",
                    "2", "-out", work.file("mykey.cer")});
        QString exportPath = work.path();
        exportPath.chop(1);
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, key, exportPath, "Self Signed");
        QCOMPARE(wizard.memPasteCert->toPlainText(), pemText(work.file("mykey.cer")));
        // A tool that fails notes where the certificate file is while it runs; it goes after.
        QVERIFY(writeProgram(program.file("openssl"), "#!/bin/sh\n[ -f '" +
                                                          work.file("__cert.txt").toUtf8() +
                                                          "' ] && echo inside > seen\nexit 1\n"));
        ModalScript failed({enterPassPhrases("", "new secret"), pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(failed.seen, (QStringList{kPassPhraseTitle, kShownRunFailure}));
        QCOMPARE(fileContent(program.file("seen")), QByteArray("inside\n"));
        QVERIFY(!QFile::exists(work.file("__cert.txt")));
        QVERIFY(!QFile::exists(exportPath + "__cert.txt"));

        QVERIFY(QFile::remove(program.file("openssl")));
        QVERIFY(QFile::link(QStringLiteral(OPENSSL_TOOL), program.file("openssl")));
        ModalScript script({enterPassPhrases("", "new secret")});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));
        const QString content = bundleContent(work.file("mykey.pfx"), "new secret");
        QVERIFY(content.contains("friendlyName: Self Signed"));
        writeFileContent(work.file("opened.pem"), content.toUtf8());
        QCOMPARE(keyModulus(work.file("opened.pem"), QString()), keyModulus(key, QString()));
        QCOMPARE(filesIn(work.path()),
                 (QSet<QString>{"mykey", "mykey.cer", "mykey.pfx", "opened.pem"}));
    }

    // The tool runs in the program folder; a relative key file and export folder still mean
    // the ones below the current directory.
    void relativePathsLieInTheCurrentDirectory() {
        TempProgramFolder program;
        TempFolder work;
        QVERIFY(QDir(work.path()).mkdir("out"));
        QVERIFY(makeKey(work.file("site.key"), "old secret"));
        QVERIFY(authority.sign(work.file("site.key"), "old secret", "www.example.org",
                               work.file("site.cer")));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(work.path());
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, "site.key", "out", "Shop Server");
        QCOMPARE(wizard.memPasteCert->toPlainText(), pemText(work.file("site.cer")));
        ModalScript script({enterPassPhrases("old secret", "new secret")});
        wizard.btnNext->click();
        QDir::setCurrent(previous);
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));
        QVERIFY(bundleContent(work.file("out/site.pfx"), "new secret")
                    .contains("friendlyName: Shop Server"));
        QCOMPARE(filesIn(work.file("out/")), QSet<QString>{"site.pfx"});
        QCOMPARE(filesIn(program.path()),
                 (QSet<QString>{"openssl", "passcurrent.txt", "passnew.txt"}));
    }

    // Under the debug switch the run's output reaches the program's standard error; without it
    // nothing does.
    void debugSwitchShowsTheRun() {
        TempProgramFolder program(false);
        installAnnouncingPkcs12Tool(program);
        TempFolder work;
        QVERIFY(makeKey(work.file("site.key"), QString()));
        QVERIFY(authority.sign(work.file("site.key"), QString(), "www.example.org",
                               work.file("site.cer")));
        for (const bool debug : {true, false}) {
            DebugMode = debug;
            TfrmPrepareIIS wizard(nullptr);
            toPastePage(wizard, work.file("site.key"), work.path(), "Shop Server");
            StandardErrorCapture capture;
            ModalScript script({enterPassPhrases("", "new secret"), pressButton(QMessageBox::Yes)});
            wizard.btnNext->click();
            const QStringList shown = capture.text().split('\n').filter("tool run: ");
            DebugMode = false;
            QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));
            QCOMPARE(shown, debug ? QStringList{"tool run: -export"} : QStringList());
            QVERIFY(!bundleContent(work.file("site.pfx"), "new secret").isEmpty());
        }
    }

    // A key file that lies in the export folder under the name of the .pfx file is refused
    // before the pass phrases are asked for, instead of being deleted before the tool reads it.
    void keyNamedLikeTheOutputIsKept() {
        TempProgramFolder program;
        TempFolder work;
        const QString key = work.file("shop.pfx");
        QVERIFY(makeKey(key, QString()));
        const QByteArray before = fileContent(key);
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, key, work.path(), "Shop Server");
        wizard.memPasteCert->setPlainText("--");
        ModalScript script({pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{ToolSteps::kInputIsOutputMessage.arg(key)});
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        QCOMPARE(fileContent(key), before);
        QVERIFY(!QFile::exists(program.file("passnew.txt")));
    }

    void failedRuns_data() {
        QTest::addColumn<QString>("typedPassPhrase");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("withTool");
        addRow("wrong current pass phrase", "not the secret", "own", true);
        addRow("certificate of another key", "old secret", "other", true);
        addRow("text that is no certificate", "old secret", "garbage", true);
        addRow("missing tool", "old secret", "own", false);
    }
    void failedRuns() {
        QFETCH(QString, typedPassPhrase);
        QFETCH(QString, certificate);
        QFETCH(bool, withTool);
        TempProgramFolder program(withTool);
        TempFolder work;
        const QString key = work.file("site.key");
        QVERIFY(makeKey(key, "old secret"));
        QVERIFY(authority.sign(key, "old secret", "www.example.org", work.file("own.pem")));
        QVERIFY(makeKey(work.file("other.key"), QString()));
        QVERIFY(authority.sign(work.file("other.key"), QString(), "other.example.org",
                               work.file("other.pem")));
        writeFileContent(work.file("garbage.pem"), "-----BEGIN CERTIFICATE-----\nnot base64\n");
        const QByteArray keyBytes = fileContent(key);

        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, key, work.path(), "Shop");
        wizard.memPasteCert->setPlainText(pemText(work.file(certificate + ".pem")));
        ModalScript script(
            {enterPassPhrases(typedPassPhrase, "new secret"), pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(script.seen, (QStringList{kPassPhraseTitle, kShownRunFailure}));
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        QCOMPARE(filesIn(work.path()),
                 (QSet<QString>{"site.key", "own.pem", "other.key", "other.pem", "garbage.pem"}));
        QCOMPARE(fileContent(key), keyBytes);
    }

    // No keeps the existing .pfx and the page, makes nothing and removes the certificate file;
    // Yes on the next try replaces it.
    void overwriteQuestion() {
        TempProgramFolder program;
        TempFolder work;
        const QString key = work.file("site.key");
        QVERIFY(makeKey(key, "old secret"));
        QVERIFY(authority.sign(key, "old secret", "www.example.org", work.file("site.crt")));
        writeFileContent(work.file("site.pfx"), "an older bundle");
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, key, work.path(), "Shop");
        ModalScript keep(
            {enterPassPhrases("old secret", "new secret"), pressButton(QMessageBox::No)});
        wizard.btnNext->click();
        QCOMPARE(keep.seen,
                 (QStringList{kPassPhraseTitle, "Do you want to overwrite the site.pfx file?"}));
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        QCOMPARE(fileContent(work.file("site.pfx")), QByteArray("an older bundle"));
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"site.key", "site.crt", "site.pfx"}));

        ModalScript replace(
            {enterPassPhrases("old secret", "new secret"), pressButton(QMessageBox::Yes)});
        wizard.btnNext->click();
        QCOMPARE(replace.remaining(), 0);
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));
        QCOMPARE(wizard.btnNext->text(), QString("Finish"));
        QVERIFY(bundleContent(work.file("site.pfx"), "new secret").contains("friendlyName: Shop"));
        // The older bundle, kept aside during the run, is gone with the certificate file.
        QCOMPARE(filesIn(work.path()), (QSet<QString>{"site.key", "site.crt", "site.pfx"}));

        // Back from the finished page leads to the key page, and the print button goes.
        wizard.btnPrevious->click();
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsSelectKey));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
        QVERIFY(!wizard.sbPrint->isVisible());
    }

    void keyFileDialog() {
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "key");
        TfrmPrepareIIS wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        // The dialog is read and answered first; the checks follow once it has closed.
        QString name;
        QStringList filters;
        QString selectedFilter;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QString suffix;
        bool nonNative = false;
        ModalScript choose({onWindow<QFileDialog>([&](QFileDialog* dialog) {
            name = dialog->objectName();
            filters = dialog->nameFilters();
            selectedFilter = dialog->selectedNameFilter();
            mode = dialog->fileMode();
            suffix = dialog->defaultSuffix();
            nonNative = dialog->testOption(QFileDialog::DontUseNativeDialog);
            typeIntoFileDialog(dialog, work.file("site.key"));
        })});
        wizard.btnKeyFile->click();
        QCOMPARE(choose.remaining(), 0);
        QCOMPARE(choose.seen, QStringList{"Select a Key File"});
        QCOMPARE(name, QString("dlgSelectKey"));
        QCOMPARE(filters, (QStringList{"KEY Files (*.key)", "All Files (*)"}));
        QCOMPARE(selectedFilter, QString("KEY Files (*.key)"));
        QCOMPARE(mode, QFileDialog::ExistingFile);
        QCOMPARE(suffix, QString("key"));
        QVERIFY(nonNative);
        QCOMPARE(wizard.edtKeyFile->text(), work.file("site.key"));
        QCOMPARE(wizard.edtExportPath->text(), work.path());

        // A chosen export folder stays; cancelling changes nothing.
        wizard.edtExportPath->setText("/elsewhere/");
        ModalScript again({onWindow<QFileDialog>(
            [&](QFileDialog* dialog) { typeIntoFileDialog(dialog, work.file("site.key")); })});
        wizard.btnKeyFile->click();
        QCOMPARE(again.remaining(), 0);
        QCOMPARE(wizard.edtExportPath->text(), QString("/elsewhere/"));
        wizard.edtKeyFile->setText("typed.key");
        ModalScript cancel({rejectDialog()});
        wizard.btnKeyFile->click();
        QCOMPARE(cancel.remaining(), 0);
        QCOMPARE(wizard.edtKeyFile->text(), QString("typed.key"));

        // A typed name without an extension gets the default one, unless it names a file as
        // it is typed.
        writeFileContent(work.file("mykey"), "key");
        for (const QString& typed : {work.file("site"), work.file("mykey")}) {
            // A "File not found" box in the dialog fails the test rather than waiting.
            ModalScript typedName(
                {onWindow<QFileDialog>(
                     [&](QFileDialog* dialog) { typeIntoFileDialog(dialog, typed); }),
                 [](QWidget* modal) { QFAIL(qPrintable("unexpected: " + modal->windowTitle())); }});
            wizard.btnKeyFile->click();
            QCOMPARE(typedName.seen, QStringList{"Select a Key File"});
            QCOMPARE(wizard.edtKeyFile->text(),
                     typed == work.file("site") ? work.file("site.key") : typed);
        }
    }

    // The export folder's chooser starts in the key file's folder while the field is empty.
    void exportFolderChooserStart() {
        TempProgramFolder program;
        TempFolder work;
        TempFolder other;
        TfrmPrepareIIS wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        wizard.edtKeyFile->setText(work.file("site.key"));
        QString startFolder;
        ModalScript cancel({cancelFolderDialog(&startFolder)});
        wizard.btnCertExport->click();
        QCOMPARE(startFolder, work.path());
        QVERIFY(wizard.edtExportPath->text().isEmpty());

        wizard.edtExportPath->setText(other.path());
        ModalScript choose({chooseFolder(work.path(), &startFolder)});
        wizard.btnCertExport->click();
        QCOMPARE(startFolder, other.path());
        QCOMPARE(wizard.edtExportPath->text(), work.path());
    }

    // The finished page prints its instructions: all of them, in order, empty lines kept; on
    // small paper the lines wrap and the text runs over several pages.
    void printingTheInstructions() {
        TempProgramFolder program;
        TempFolder work;
        TempFolder pdfs;
        QVERIFY(makeKey(work.file("site.key"), QString()));
        QVERIFY(authority.sign(work.file("site.key"), QString(), "www.example.org",
                               work.file("site.cer")));
        TfrmPrepareIIS wizard(nullptr);
        toPastePage(wizard, work.file("site.key"), work.path(), "Shop");
        ModalScript make({enterPassPhrases("", "new secret")});
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));

        const QString a4 = printShownPage(wizard, pdfs.file("a4.pdf"));
        QVERIFY(!a4.isEmpty());
        QVERIFY(printedInOrder(a4, TfrmPrepareIIS::kInstallationInstructions));
        QCOMPARE(withoutBlanks(pdfText(a4)),
                 withoutBlanks(TfrmPrepareIIS::kInstallationInstructions.join(QString())));
        const QStringList printed = printedLines(a4);
        const int created = printed.indexOf("Your pfx file has been created.");
        QVERIFY(created >= 0);
        QCOMPARE(printed.at(created + 1), QString());
        QVERIFY(printed.at(created + 2).startsWith("Copy the pfx file"));

        wizard.printer()->setPageSize(QPageSize(QPageSize::A7));
        const QString a7 = printShownPage(wizard, pdfs.file("a7.pdf"));
        QVERIFY(pdfPageCount(a7) > 1);
        QVERIFY(printedInOrder(a7, TfrmPrepareIIS::kInstallationInstructions));
        QCOMPARE(withoutBlanks(pdfText(a7)), withoutBlanks(pdfText(a4)));
        QVERIFY(printedLines(a7).size() > printed.size());
    }

    // The task that installs an authority's answer: the key and a pasted chain in reverse
    // order, without its intermediate, which comes from "CA Issuers" on loopback. The files of
    // nginx and IIS hold the proven chain; a key of another certificate writes nothing.
    void installFromTheAuthoritysAnswer_data() {
        QTest::addColumn<QString>("keyName");
        QTest::addColumn<QString>("shown");
        QTest::newRow("nginx and IIS") << "site" << QString();
        QTest::newRow("key of another certificate")
            << "other" << QStringLiteral("The key %1 is not the key of the certificate %2.");
    }
    void installFromTheAuthoritysAnswer() {
        QFETCH(QString, keyName);
        QFETCH(QString, shown);
        TempProgramFolder program;
        TempFolder work;
        TestAuthority answering;
        QVERIFY(answering.isValid());
        QVERIFY(answering.issue("site") && answering.issue("other"));
        const QString keyFile = answering.file(keyName + ".key");
        TfrmInstallCertificate wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        QTest::keyClick(wizard.cbNginx, Qt::Key_Space);
        wizard.cbIis->click();
        QTest::keyClick(&wizard, Qt::Key_Return);
        QCOMPARE(wizard.currentPage(), int(TfrmInstallCertificate::tsSelectKey));
        fillKeyPage(wizard, keyFile, work.path(), "Check site");
        QCOMPARE(wizard.currentPage(), int(TfrmInstallCertificate::tsPasteCert));
        wizard.memPasteCert->setPlainText(QString::fromUtf8(
            fileContent(answering.file("root.crt")) + fileContent(answering.file("site.crt"))));
        MessageBoxTexts texts;
        ModalScript script(
            {enterPassPhrases(QString(), "Sturdy pass 42"), noteTextsAndPressOk(&texts)});
        wizard.btnNext->click();
        if (!shown.isEmpty()) {
            QCOMPARE(script.seen,
                     (QStringList{kPassPhraseTitle, shown.arg(keyFile, "CN=" + kTestHost)}));
            QCOMPARE(wizard.currentPage(), int(TfrmInstallCertificate::tsPasteCert));
            QCOMPARE(filesIn(work.path()), QSet<QString>());
            return;
        }
        QCOMPARE(wizard.currentPage(), int(TfrmInstallCertificate::tsFinished));
        QCOMPARE(filesIn(work.path()),
                 (QSet<QString>{"www.check.test.key", "www.check.test.fullchain.pem",
                                "www.check.test.pfx"}));
        QVERIFY(wizard.lblResult->text().contains("Check Intermediate"));
        int exitCode = -1;
        const QString fullChain = work.file("www.check.test.fullchain.pem");
        runOpenSSL(
            {"verify", "-CAfile", answering.file("root.crt"), "-untrusted", fullChain, fullChain},
            &exitCode);
        QCOMPARE(exitCode, 0);
        const QString bundle = runOpenSSL({"pkcs12", "-in", work.file("www.check.test.pfx"),
                                           "-passin", "pass:Sturdy pass 42", "-nokeys"},
                                          &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(bundle.count("BEGIN CERTIFICATE"), 3);
        QVERIFY(bundle.contains("Check Intermediate") && bundle.contains("Check Root"));
        wizard.btnInstructions->click();
        QStringList pages;
        for (const QTextBrowser* page : wizard.findChildren<QTextBrowser*>("memInstructions"))
            pages << page->toPlainText().section('\n', 0, 0);
        QCOMPARE(pages.size(), 2);
        QVERIFY(pages.join(' ').contains("nginx") && pages.join(' ').contains("IIS"));
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QCOMPARE(wizard.currentPage(), int(TfrmInstallCertificate::tsServers));
    }

  private:
    SigningAuthority authority;
};

QTEST_MAIN(TestPrepareIIS)
#include "tst_prepareiis.moc"
