#include "CertificateWizardDriver.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uSelfSignForm.h"
#include "uToolSteps.h"

#include <QLocale>
#include <QSpinBox>
#include <QTextEdit>

namespace {

// Sets the term as a user does: selects the field's text and types over it.
void typeTerm(TfrmSelfSign& wizard, const QString& term) {
    wizard.edtDays->selectAll();
    QTest::keyClick(wizard.edtDays, Qt::Key_Delete);
    QTest::keyClicks(wizard.edtDays, term);
}

} // namespace

// The self-signed certificate wizard, driven through its widgets with the real tool.
class TestSelfSign : public QObject {
    Q_OBJECT
  private slots:
    // The term starts at a year, in the field and behind the arrows.
    void freshWizardShowsItsDefaults() {
        TfrmSelfSign wizard(nullptr);
        wizard.show();
        QCOMPARE(wizard.edtDays->text(), QString("365"));
        QCOMPARE(wizard.udDays->value(), 365);
    }

    // The arrows write plain digits, which the tool accepts, step from a typed number and stay
    // within the terms that the wizard accepts.
    void upDownWritesPlainNumbers() {
        TfrmSelfSign wizard(nullptr);
        wizard.show();
        clickNext(wizard);
        typeTerm(wizard, "999");
        QTest::keyClick(wizard.udDays, Qt::Key_Up);
        QCOMPARE(wizard.edtDays->text(), QString("1000"));
        QTest::keyClick(wizard.udDays, Qt::Key_Up);
        QCOMPARE(wizard.edtDays->text(), QString("1001"));
        QTest::keyClick(wizard.udDays, Qt::Key_Down);
        QTest::keyClick(wizard.udDays, Qt::Key_Down);
        QCOMPARE(wizard.edtDays->text(), QString("999"));
        typeTerm(wizard, "36500");
        QTest::keyClick(wizard.udDays, Qt::Key_Up);
        QCOMPARE(wizard.edtDays->text(), QString("36500"));
        typeTerm(wizard, "1");
        QTest::keyClick(wizard.udDays, Qt::Key_Down);
        QCOMPARE(wizard.edtDays->text(), QString("1"));
        // Text that is no term stays as typed; the arrows step from the last term.
        for (const char* typed : {"a week", "0", "-3"}) {
            typeTerm(wizard, typed);
            QCOMPARE(wizard.edtDays->text(), QString(typed));
        }
        QTest::keyClick(wizard.udDays, Qt::Key_Up);
        QCOMPARE(wizard.edtDays->text(), QString("2"));
        QTest::keyClicks(wizard.udDays, "45");
        QCOMPARE(wizard.edtDays->text(), QString("2"));
        QCOMPARE(wizard.udDays->value(), 2);
    }

    // The Up and Down keys step the term while its field has the focus, as the arrows do.
    void arrowKeysStepTheTermFromItsField() {
        TfrmSelfSign wizard(nullptr);
        wizard.show();
        clickNext(wizard);
        typeTerm(wizard, "999");
        QTest::keyClick(wizard.edtDays, Qt::Key_Up);
        QCOMPARE(wizard.edtDays->text(), QString("1000"));
        QCOMPARE(wizard.udDays->value(), 1000);
        QTest::keyClick(wizard.edtDays, Qt::Key_Down);
        QTest::keyClick(wizard.edtDays, Qt::Key_Down);
        QCOMPARE(wizard.edtDays->text(), QString("998"));
        typeTerm(wizard, "1");
        QTest::keyClick(wizard.edtDays, Qt::Key_Down);
        QCOMPARE(wizard.edtDays->text(), QString("1"));
        // Other keys still edit the field.
        QTest::keyClick(wizard.edtDays, Qt::Key_Backspace);
        QTest::keyClicks(wizard.edtDays, "42");
        QCOMPARE(wizard.edtDays->text(), QString("42"));
        QTest::keyClick(wizard.edtDays, Qt::Key_Up);
        QCOMPARE(wizard.edtDays->text(), QString("43"));
    }

    void selfSignedEndToEnd_data() {
        QTest::addColumn<QString>("keySize");
        QTest::addColumn<QString>("term");
        QTest::addColumn<int>("arrowSteps");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("legalName");
        QTest::addColumn<QString>("baseName");
        addRow("512, stepped over 999, wildcard", "512", "999", 1, "*.shop.test", "Smith & Sons #2",
               "wildcard.shop.test");
        addRow("1024, longest term, quoting characters", "1024", "36500", 0, "www.shop.test",
               "a$b\\c \"q\" `x`", "www.shop.test");
        addRow("2048, default term, Latin-1", "2048", "", 0, "shop.test",
               QString::fromUtf8("Zürcher Bäckerei"), "shop.test");
        addRow("ECDSA P-256, default term", "P256", "", 0, "www.shop.test", "Acme",
               "www.shop.test");
        addRow("ECDSA P-384, a week, wildcard", "P384", "7", 0, "*.shop.test", "Smith & Sons #2",
               "wildcard.shop.test");
    }

    void selfSignedEndToEnd() {
        QFETCH(QString, keySize);
        QFETCH(QString, term);
        QFETCH(int, arrowSteps);
        QFETCH(QString, domain);
        QFETCH(QString, legalName);
        QFETCH(QString, baseName);
        TempProgramFolder program;
        TempFolder out;
        TypedSubject subject;
        subject.keySize = keySize;
        subject.domain = domain;
        subject.legalName = legalName;
        subject.countryIndex = 205; // SWITZERLAND
        subject.state = "Zurich #8";
        subject.city = QString::fromUtf8("Zürich");
        TfrmSelfSign wizard(nullptr);
        wizard.show();
        fillPages(wizard, subject, out.path());
        clickPrevious(wizard);
        clickPrevious(wizard);
        if (!term.isEmpty())
            typeTerm(wizard, term);
        for (int step = 0; step < arrowSteps; ++step)
            QTest::keyClick(wizard.udDays, Qt::Key_Up);
        const int days = wizard.edtDays->text().toInt();
        clickNext(wizard);
        clickNext(wizard);
        {
            ModalScript script({pressButton(QMessageBox::Ok)});
            clickNext(wizard);
            QCOMPARE(script.seen, QStringList());
        }
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsFinished));
        QCOMPARE(wizard.btnNext->text(), QString("Finish"));

        const QString key = out.file(baseName + ".key");
        const QString certificate = out.file(baseName + ".cer");
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({baseName + ".cer", baseName + ".key"}));
        QCOMPARE(keySizeOf(key, QString()), keySize);
        QVERIFY(!fileContent(key).contains("ENCRYPTED"));

        QCOMPARE(subjectOf("x509", certificate), subject.expectedSubject());
        const QString issuer = runOpenSSL(
            {"x509", "-in", certificate, "-noout", "-issuer", "-nameopt", "utf8,sep_multiline"});
        QCOMPARE(multilineName(issuer), subject.expectedSubject());
        QCOMPARE(validityDays(certificate), qint64(days));
        const QString text = runOpenSSL({"x509", "-in", certificate, "-noout", "-text"});
        QVERIFY(text.contains("Version: 3 (0x2)"));
        // An elliptic-curve key signs only; an RSA key also enciphers.
        const bool ellipticCurve = keySize.startsWith('P');
        QVERIFY(text.contains(ellipticCurve ? "Signature Algorithm: ecdsa-with-SHA256"
                                            : "Signature Algorithm: sha256WithRSAEncryption"));
        QVERIFY2(text.contains("X509v3 Key Usage: \n                Digital Signature" +
                               QString(ellipticCurve ? "\n" : ", Key Encipherment\n")),
                 qPrintable(text));
        QVERIFY(text.contains("X509v3 Subject Alternative Name: \n                DNS:" + domain));
        QVERIFY(carriesPublicKeyOf("x509", certificate, key, QString()));

        clickNext(wizard);
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
        QVERIFY(wizard.memRootInstructions->toPlainText().endsWith(
            "The key has been saved to the file \"" + domain + ".key\""));
    }

    // A term that is not a whole number of days from 1 to 36500 is refused before any question
    // and before the key is made.
    void termOutsideTheRangeIsRefused_data() {
        QTest::addColumn<QString>("term");
        addRow("empty", "");
        addRow("not a number", "abc");
        addRow("zero", "0");
        addRow("negative", "-5");
        addRow("plus sign", "+5");
        addRow("one day more than a century", "36501");
        addRow("too large for a number", "99999999999999999999");
        addRow("fraction", "1.5");
        addRow("thousands separator", "1,000");
        addRow("hexadecimal", "0x10");
        addRow("inner blank", "36 5");
        addRow("trailing blank", "365 ");
        addRow("double quote", "3\"65");
        addRow("blanks only", "   ");
        addRow("other digits", QString::fromUtf8("٣٦٥"));
    }

    void termOutsideTheRangeIsRefused() {
        QFETCH(QString, term);
        TempProgramFolder program;
        TempFolder out;
        writeFileContent(out.file("www.shop.test.key"), "old key");
        const auto before = folderContent(out.path());
        TfrmSelfSign wizard(nullptr);
        wizard.show();
        fillPages(wizard, TypedSubject(), out.path());
        wizard.edtDays->setText(term);
        ModalScript script({pressButton(QMessageBox::Ok)});
        clickNext(wizard);
        QCOMPARE(script.seen, QStringList({ToolSteps::termMessage(term)}));
        QCOMPARE(folderContent(out.path()), before);
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsOrganizationInfo));
    }

    // An e-mail address outside ASCII is the tool's to refuse in the certificate run, which
    // removes the configuration file and keeps the key.
    void failedCertificateRunKeepsTheKey() {
        TempProgramFolder program;
        TempFolder out;
        TypedSubject subject;
        subject.keySize = "512";
        subject.email = QString::fromUtf8("jörg@shop.test");
        TfrmSelfSign wizard(nullptr);
        wizard.show();
        fillPages(wizard, subject, out.path());
        ModalScript script({pressButton(QMessageBox::Ok)});
        clickNext(wizard);
        QCOMPARE(script.seen, QStringList({ToolSteps::kGenerationFailedMessage}));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"www.shop.test.key"}));
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsOrganizationInfo));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
    }
};

QTEST_MAIN(TestSelfSign)
#include "tst_selfsign.moc"
