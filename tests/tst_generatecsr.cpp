#include "CertificateWizardDriver.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uGenerateCSRForm.h"
#include "uToolSteps.h"

#include <QTextEdit>

namespace {

const QString kPassPhrase = "correct horse";

} // namespace

// The certificate request wizard, driven through its widgets with the real tool.
class TestGenerateCSR : public QObject {
    Q_OBJECT
  private slots:
    void requestEndToEnd_data() {
        QTest::addColumn<QString>("keySize");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("legalName");
        QTest::addColumn<QString>("baseName");
        // Codes that the standard no longer assigns go to the subject as the table gives them.
        QTest::addColumn<int>("countryIndex");
        // The subjectAltName that the request asks for.
        QTest::addColumn<QString>("altName");
        addRow("512, wildcard, GERMANY", "512", "*.shop.test", "Smith & Sons #2",
               "wildcard.shop.test", 81, "DNS:*.shop.test, DNS:shop.test");
        addRow("1024, quoting characters, FRANCE, METROPOLITAN", "1024", "www.shop.test",
               "a$b\\c \"q\" it's", "www.shop.test", 74, "DNS:www.shop.test, DNS:shop.test");
        addRow("4096, outside ASCII, YUGOSLAVIA", "4096", QString::fromUtf8("www.bücher.test"),
               QString::fromUtf8("Müller & Söhne"), QString::fromUtf8("www.bücher.test"), 237,
               "DNS:www.xn--bcher-kva.test, DNS:xn--bcher-kva.test");
        addRow("512, IP address, UNITED STATES", "512", "192.0.2.7", "Acme", "192.0.2.7", 224,
               "IP Address:192.0.2.7");
        addRow("ECDSA P-256, www, UNITED STATES", "P256", "www.shop.test", "Acme", "www.shop.test",
               224, "DNS:www.shop.test, DNS:shop.test");
        addRow("ECDSA P-384, wildcard, GERMANY", "P384", "*.shop.test", "Smith & Sons #2",
               "wildcard.shop.test", 81, "DNS:*.shop.test, DNS:shop.test");
    }

    void requestEndToEnd() {
        QFETCH(QString, keySize);
        QFETCH(QString, domain);
        QFETCH(QString, legalName);
        QFETCH(QString, baseName);
        QFETCH(int, countryIndex);
        QFETCH(QString, altName);
        TempProgramFolder program;
        TempFolder out;
        TypedSubject subject;
        subject.keySize = keySize;
        subject.domain = domain;
        subject.legalName = legalName;
        subject.countryIndex = countryIndex;
        subject.state = QString::fromUtf8("Bayern #1");
        subject.city = QString::fromUtf8("München");
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        fillPages(wizard, subject, out.path());
        {
            ModalScript script({enterPassPhrases("", kPassPhrase)});
            clickNext(wizard);
            QCOMPARE(script.remaining(), 0);
            QCOMPARE(script.seen.size(), 1);
        }
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsFinished));
        QCOMPARE(wizard.btnNext->text(), QString("Finish"));
        QCOMPARE(wizard.btnPrevious->text(), QString("< Previous"));

        const QString key = out.file(baseName + ".key");
        const QString csr = out.file(baseName + ".csr");
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({baseName + ".csr", baseName + ".key"}));
        QVERIFY(passPhraseFilesEmpty(program.path()));

        QCOMPARE(keySizeOf(key, kPassPhrase), keySize);
        QCOMPARE(keySizeOf(key, "wrong phrase"), QString());
        QVERIFY(fileContent(key).contains("ENCRYPTED"));
        const bool ellipticCurve = keySize.startsWith('P');
        QVERIFY(runOpenSSL({"asn1parse", "-in", key})
                    .contains(ellipticCurve ? ":aes-256-cbc" : ":des-ede3-cbc"));

        int exitCode = -1;
        runOpenSSL({"req", "-in", csr, "-noout", "-verify"}, &exitCode);
        QCOMPARE(exitCode, 0);
        QCOMPARE(subjectOf("req", csr), subject.expectedSubject());
        const QString text = runOpenSSL({"req", "-in", csr, "-noout", "-text"});
        QVERIFY2(text.contains("Requested Extensions:\n                X509v3 Subject Alternative "
                               "Name: \n                    " +
                               altName + "\n"),
                 qPrintable(text));
        QVERIFY(carriesPublicKeyOf("req", csr, key, kPassPhrase));

        clickNext(wizard);
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
        QVERIFY(wizard.memRootInstructions->toPlainText().endsWith(
            "You may now submit this request to a Certificate Authority.\n\nThe key has been "
            "saved to the file \"" +
            domain + ".key\""));
        QVERIFY(QFile::exists(key) && QFile::exists(csr));
    }

    void cancelledPassPhraseDialogAsksNothing() {
        TempProgramFolder program;
        TempFolder out;
        writeFileContent(out.file("www.shop.test.key"), "old key");
        writeFileContent(out.file("www.shop.test.csr"), "old request");
        writeFileContent(program.file("passnew.txt"), "earlier");
        const auto before = folderContent(out.path());
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        fillPages(wizard, TypedSubject(), out.path());
        ModalScript script({rejectDialog(), pressButton(QMessageBox::No)});
        clickNext(wizard);
        QCOMPARE(script.seen.size(), 1);
        QCOMPARE(folderContent(out.path()), before);
        QVERIFY(passPhraseFilesEmpty(program.path()));
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsOrganizationInfo));
    }

    // An e-mail address outside ASCII is the tool's to refuse: the key is made, the request
    // is not.
    void failedRequestRunKeepsTheKey() {
        TempProgramFolder program;
        TempFolder out;
        TypedSubject subject;
        subject.keySize = "512";
        subject.email = QString::fromUtf8("jörg@shop.test");
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        fillPages(wizard, subject, out.path());
        ModalScript script({enterPassPhrases("", kPassPhrase), pressButton(QMessageBox::Ok)});
        clickNext(wizard);
        QCOMPARE(script.seen.mid(1), QStringList({ToolSteps::kGenerationFailedMessage}));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"www.shop.test.key"}));
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsOrganizationInfo));
    }

    // The tool runs in the program folder; a relative export folder still means the one
    // below the current directory.
    void relativeExportFolderLiesInTheCurrentDirectory() {
        TempProgramFolder program;
        TempFolder out;
        QDir(out.path()).mkdir("certs");
        const QString previous = QDir::currentPath();
        QDir::setCurrent(out.path());
        TypedSubject subject;
        subject.keySize = "512";
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        fillPages(wizard, subject, "certs");
        ModalScript script({enterPassPhrases("", kPassPhrase)});
        clickNext(wizard);
        QDir::setCurrent(previous);
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsFinished));
        QCOMPARE(QDir(out.file("certs")).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"www.shop.test.csr", "www.shop.test.key"}));
    }
};

QTEST_MAIN(TestGenerateCSR)
#include "tst_generatecsr.moc"
