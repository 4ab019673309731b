#include "KeyAndCertificateFixtures.h"
#include "PebbleFixture.h"
#include "TestSupport.h"
#include "uAcmeForm.h"

#include <QSslCertificate>
#include <QTcpServer>
#include <QtTest>
#include <QtWidgets>

#include <memory>

namespace {

// Types what the pages need into the wizard, so that each page's Next goes on. The test's
// authority stands where the user would find Let's Encrypt ready, and its HTTP-01 port where
// port 80 would be; without it, the authority named cannot be reached from loopback.
void fillPages(TfrmAcme& wizard, const QString& exportFolder, const PebbleFixture* pebble,
               const QString& domain = "example.com") {
    wizard.memNames->setPlainText("www." + domain + "\n" + domain);
    wizard.edtEmail->setText("admin@example.com");
    wizard.edtExportPath->setText(exportFolder);
    wizard.rbOtherAuthority->setChecked(true);
    wizard.edtDirectory->setText(pebble ? pebble->directoryUrl() : "https://127.0.0.1:1/dir");
    wizard.edtCaFile->setText(pebble ? pebble->caBundle() : QString());
    wizard.spnHttpPort->setValue(pebble ? pebble->httpPort() : 80);
    // Filled, not chosen: the HTTP choice stays until a test chooses the DNS record.
    wizard.edtDnsServer->setText("127.0.0.1:53");
    wizard.edtTsigKey->setText("update-key");
    wizard.edtTsigSecret->setText("c2VjcmV0");
    wizard.rbStandalone->setChecked(true);
}

// Presses Next until the page is shown, agreeing to the terms on the way unless told not to.
// Next on the authority page first reads its terms and stays.
void nextUntil(TfrmAcme& wizard, int page, bool agree = true) {
    while (wizard.currentPage() < page) {
        const int before = wizard.currentPage();
        wizard.btnNext->click();
        if (wizard.isReadingTerms()) {
            QTRY_VERIFY_WITH_TIMEOUT(!wizard.isReadingTerms(), 20000);
            wizard.cbAgreeTerms->setChecked(agree);
            wizard.btnNext->click();
        }
        if (wizard.currentPage() == before)
            return;
    }
}

constexpr int kIssuanceMs = 90000;
} // namespace

class TestAcmeWizard : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        // The program's data, the timer and the default export folder stay here; no systemd.
        for (const char* variable : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            qputenv(variable, QFile::encodeName(home.file(variable)));
        QVERIFY(QDir(home.path()).mkdir("HOME"));
        pebble = std::make_unique<PebbleFixture>(86400);
        const QString problem = pebble->start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    // A certificate through the whole window: the fewest actions, and every output from the
    // web root with a pass phrase; progress, files, expiry, renewal timer.
    void issuance_data() {
        QTest::addColumn<bool>("everything");
        QTest::addColumn<QString>("domain"); // a name once proven stays proven for a while
        addRow("fewest actions: nginx from a temporary web server", false, QString("example.com"));
        addRow("every output from the web root, RSA 2048, no timer", true, QString("example.org"));
    }
    void issuance() {
        QFETCH(bool, everything);
        QFETCH(QString, domain);
        TempProgramFolder program;
        TempFolder work;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.path()));
        pebble->setServed(everything);
        TfrmAcme wizard(nullptr);
        wizard.show();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        fillPages(wizard, TfrmAcme::defaultExportFolder(), pebble.get());
        // A CA file that holds Pebble's root as well makes the chain end in a trusted root.
        if (everything) {
            writeFileContent(program.file("authority.pem"),
                             fileContent(pebble->caBundle()) + fileContent(pebble->root()));
            wizard.edtCaFile->setText(program.file("authority.pem"));
        }
        wizard.memNames->clear();
        wizard.edtEmail->clear();
        QStringList steps;
        connect(wizard.pbProgress, &QProgressBar::valueChanged, this,
                [&] { steps << wizard.lblStep->text(); });
        // The fewest actions: a double click on the task in the chooser; the names; Tab and the
        // e-mail address; Enter; Enter reads the terms; Space on them; Enter; Enter; Enter makes
        // the certificate.
        QTest::keyClicks(wizard.memNames, "www." + domain + "\r" + domain + "\t");
        QTest::keyClicks(QApplication::focusWidget(), "admin@example.com\r");
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsAuthority));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(wizard.lblTerms->text().contains("href=\"data:text/plain,"));
        QCOMPARE(QApplication::focusWidget(), wizard.cbAgreeTerms);
        QTest::keyClick(wizard.cbAgreeTerms, Qt::Key_Space);
        QTest::keyClick(wizard.cbAgreeTerms, Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsOutputs));
        QString folder = TfrmAcme::defaultExportFolder();
        const QString base = "www." + domain;
        QStringList made = {base + ".key", base + ".fullchain.pem"};
        if (everything) {
            folder = work.path();
            made += QStringList{base + ".pfx", "key.pem", "cert.pem", "root.pem"};
            wizard.btnPrevious->click();
            wizard.edtWebRoot->setText(pebble->webRoot());
            wizard.rbWebRoot->setChecked(true);
            wizard.btnNext->click();
            wizard.cbKeyType->setCurrentIndex(2);
            for (QCheckBox* box : {wizard.cbForIis, wizard.cbLegacyPfx, wizard.cbForIndy})
                box->setChecked(true);
            wizard.edtExportPath->setText(folder);
            wizard.edtReload->setText("sh -c \"touch '" + program.file("reloaded") + "'; exit 3\"");
        }
        ModalScript script({everything ? enterPassPhrases(QString(), "kept secret")
                                       : pressButton(QMessageBox::Ok)});
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(wizard.currentPage(), int(TfrmAcme::tsFinished), kIssuanceMs);
        QVERIFY(steps.contains("The authority is checking http://" + base +
                               "/.well-known/acme-challenge/…"));
        QCOMPARE(filesIn(folder), QSet<QString>(made.begin(), made.end()));
        for (const QString& name : made)
            QVERIFY(wizard.madeFiles->lblMadeFiles->text().contains(folder + name));
        const QString chain = folder + base + ".fullchain.pem";
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(chain);
        QVERIFY(certificates.size() >= 2);
        QCOMPARE(certificates.first().subjectAlternativeNames().values(QSsl::DnsEntry).size(), 2);
        QCOMPARE(runOpenSSL({"pkey", "-in", folder + base + ".key", "-pubout"}),
                 runOpenSSL({"x509", "-in", chain, "-noout", "-pubkey"}));
        QVERIFY(wizard.lblFinished->text().contains(
            certificates.first().expiryDate().toUTC().toString("yyyy-MM-dd hh:mm")));
        QCOMPARE(wizard.lblPassPhraseKept->isVisible(), everything);
        QCOMPARE(wizard.lblReloadProblem->isVisible(), everything);
        // Pebble's certificates last a day, with more than a third of it left; its root, in the
        // CA file, ends the chain.
        QCOMPARE(wizard.lblCheck->text(),
                 QString("The check of the new certificate:\nNo problem found."));
        QCOMPARE(QFileInfo::exists(program.file("reloaded")), everything);
        if (everything) {
            QVERIFY(runOpenSSL({"pkey", "-in", folder + "key.pem", "-passin", "pass:kept secret",
                                "-noout", "-text"})
                        .contains("2048 bit"));
            const QString bundle = bundleContent(folder + base + ".pfx", "kept secret");
            QVERIFY(bundle.count("BEGIN CERTIFICATE") >= 2);
            wizard.cbRenewAutomatically->setChecked(false);
        }
        wizard.btnNext->click();
        QVERIFY(!wizard.isVisible());
        QCOMPARE(QFileInfo::exists(work.file("systemd/user/certwright-renew.timer")), !everything);
        QCOMPARE(script.seen.size(), 1);
        QVERIFY(script.seen.first().contains(everything ? "Password..." : "list-timers"));
    }

    // A failed or cancelled run makes nothing and keeps the earlier file; a failure says
    // the authority's reason, with lego's output as details; Cancel ends a waiting run at once.
    void failedAndCancelledRuns_data() {
        QTest::addColumn<QString>("how");
        addRow("web root not served", "refused");
        addRow("Cancel", "Cancel");
        addRow("Escape", "Escape");
        addRow("close box", "close");
    }
    void failedAndCancelledRuns() {
        QFETCH(QString, how);
        const QString domain = how.toLower() + ".example";
        const QString earlier = "www." + domain + ".key";
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file(earlier), "earlier key");
        pebble->setServed(false);
        QTcpServer silent; // takes the authority's connections and never answers
        if (how != "refused")
            QVERIFY(silent.listen(QHostAddress::LocalHost, quint16(pebble->httpPort())));
        TfrmAcme wizard(nullptr);
        wizard.show();
        fillPages(wizard, work.path(), pebble.get(), domain);
        wizard.edtWebRoot->setText(pebble->webRoot());
        wizard.rbWebRoot->setChecked(true);
        nextUntil(wizard, TfrmAcme::tsOutputs);
        MessageBoxTexts texts;
        ModalScript script({pressButton(QMessageBox::Yes), noteTextsAndPressOk(&texts)});
        wizard.btnNext->click();
        if (how == "refused") {
            QTRY_COMPARE_WITH_TIMEOUT(script.remaining(), 0, kIssuanceMs);
            QVERIFY2(texts.informative.contains("could not reach http://"),
                     qPrintable(texts.informative));
            QVERIFY(texts.detailed.contains("acme-challenge"));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(wizard.lblStep->text().startsWith("The authority is checking"),
                                     kIssuanceMs);
            const QDeadlineTimer promptly(5000);
            if (how == "Cancel")
                wizard.btnPrevious->click();
            else if (how == "Escape")
                QTest::keyClick(&wizard, Qt::Key_Escape);
            else
                wizard.close();
            QTRY_VERIFY(!wizard.isRunning());
            QVERIFY(!promptly.hasExpired());
            QCOMPARE(script.remaining(), 1);
            QCOMPARE(wizard.isVisible(), how != "close");
        }
        if (how != "close")
            QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsOutputs));
        QVERIFY(wizard.btnNext->isEnabled());
        QCOMPARE(filesIn(work.path()), QSet<QString>{earlier});
        QCOMPARE(fileContent(work.file(earlier)), QByteArray("earlier key"));
    }

    // No authority is asked anything until the user asks for its terms (the button or Next);
    // Cancel, Escape, the close box or another choice then stop the reading at once.
    void termsAreReadOnlyWhenAsked_data() {
        QTest::addColumn<QString>("stop");
        addRow("button, Cancel", "Cancel");
        addRow("Next, Escape", "Escape");
        addRow("Next, close box", "close");
        addRow("button, another authority", "choice");
    }
    void termsAreReadOnlyWhenAsked() {
        QFETCH(QString, stop);
        TempProgramFolder program;
        QTcpServer silent; // never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        TfrmAcme wizard(nullptr);
        wizard.show();
        fillPages(wizard, QString(), nullptr);
        wizard.edtDirectory->setText(QString("http://127.0.0.1:%1/").arg(silent.serverPort()));
        wizard.btnNext->click();
        wizard.rbLetsEncrypt->setChecked(true);
        wizard.rbOtherAuthority->setChecked(true);
        QVERIFY(!silent.waitForNewConnection(500) && !wizard.cbAgreeTerms->isEnabled());
        (QTest::currentDataTag()[0] == 'b' ? wizard.btnShowTerms : wizard.btnNext)->click();
        QVERIFY(silent.waitForNewConnection(5000) && wizard.isReadingTerms());
        QCOMPARE(wizard.btnPrevious->text(), QString("Cancel"));
        if (stop == "Cancel")
            wizard.btnPrevious->click();
        else if (stop == "Escape")
            QTest::keyClick(&wizard, Qt::Key_Escape);
        else if (stop == "close")
            wizard.close();
        else
            wizard.rbLetsEncryptStaging->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!wizard.isReadingTerms(), 3000);
        QCOMPARE(wizard.isVisible(), stop != "close");
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsAuthority));
        QCOMPARE(wizard.btnPrevious->text(), QString("< Back"));
        QVERIFY(wizard.btnNext->isEnabled() && !wizard.cbAgreeTerms->isEnabled());
    }

    // Each page refuses what cannot make a certificate, says why and stays.
    void pageChecks_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        addRow("no name", int(TfrmAcme::tsNames), "memNames", " \n\n",
               "Please enter the names of this server");
        addRow("a name with a slash", int(TfrmAcme::tsNames), "memNames", "www.example.com\na/b",
               "The domain name \"a/b\" cannot name the output files");
        addRow("a wildcard", int(TfrmAcme::tsNames), "memNames", "*.example.com",
               "only through DNS records");
        addRow("no e-mail address", int(TfrmAcme::tsNames), "edtEmail", "admin",
               "\"admin\" is not an e-mail address");
        addRow("no directory address", int(TfrmAcme::tsAuthority), "edtDirectory", "",
               "Please enter the address of the authority's ACME directory");
        addRow("terms not agreed", int(TfrmAcme::tsAuthority), "cbAgreeTerms", "",
               "tick \"I agree to the authority's terms of service\"");
        addRow("web root missing", int(TfrmAcme::tsReach), "edtWebRoot", "WORKnone",
               "The web root \"WORKnone\" cannot be used");
        addRow("DNS script missing", int(TfrmAcme::tsDns), "edtDnsScript", "",
               "Please choose the script that sets and removes the DNS record");
        addRow("DNS server missing", int(TfrmAcme::tsDns), "edtDnsServer", "",
               "Please enter the address of the DNS server that takes the updates");
        addRow("TSIG key name missing", int(TfrmAcme::tsDns), "edtTsigKey", "",
               "Please enter the name of the TSIG key");
        addRow("TSIG secret missing", int(TfrmAcme::tsDns), "edtTsigSecret", " ",
               "Please enter the secret of the TSIG key \"update-key\"");
        addRow("no output", int(TfrmAcme::tsOutputs), "cbForNginx", "",
               "Please choose at least one kind of server");
        addRow("folder that others change", int(TfrmAcme::tsOutputs), "edtExportPath", "/tmp",
               "The folder \"/tmp\" can be changed by other users");
        addRow("reload program not found", int(TfrmAcme::tsOutputs), "edtReload", "./reload.sh",
               "The program \"./reload.sh\" of the reload command does not exist");
    }
    void pageChecks() {
        QFETCH(int, page);
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QString, message);
        TempProgramFolder program;
        TempFolder work;
        value.replace("WORK", work.path());
        message.replace("WORK", work.path());
        TfrmAcme wizard(nullptr);
        wizard.show();
        fillPages(wizard, work.path(), nullptr);
        // A DNS field's row chooses the DNS record, of the kind that has the field.
        if (field.startsWith("edtDns") || field.startsWith("edtTsig")) {
            wizard.rbDns->setChecked(true);
            wizard.cbDnsProvider->setCurrentIndex(field == "edtDnsScript" ? 0 : 1);
        }
        QWidget* spoiled = wizard.findChild<QWidget*>(field);
        if (auto* edit = qobject_cast<QLineEdit*>(spoiled)) {
            edit->clear();
            QTest::keyClicks(edit, value);
        } else
            spoiled->setProperty(field == "memNames" ? "plainText" : "checked", value);
        ModalScript script({pressButton(QMessageBox::Ok)});
        nextUntil(wizard, page + 1, field != "cbAgreeTerms");
        QCOMPARE(wizard.currentPage(), page);
        QCOMPARE(script.seen.size(), 1);
        QVERIFY2(script.seen.first().contains(message), qPrintable(script.seen.first()));
    }

    // The third choice, a DNS record, leads to its page, whose kind enables its fields; with it
    // alone the names page takes names such as *.example.com, and leaving it for HTTP refuses
    // them again.
    void dnsRecordChoice() {
        TempProgramFolder program;
        TempFolder work;
        TfrmAcme wizard(nullptr);
        wizard.show();
        fillPages(wizard, work.path(), nullptr);
        wizard.memNames->setPlainText("*.example.com\nexample.com");
        ModalScript refused({pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsNames));
        QVERIFY(refused.seen.value(0).contains("only through DNS records"));
        wizard.memNames->setPlainText("example.com");
        nextUntil(wizard, TfrmAcme::tsReach);
        wizard.rbDns->setFocus();
        QTest::keyClick(wizard.rbDns, Qt::Key_Space);
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsDns));
        const QList<QWidget*> script = {wizard.edtDnsScript, wizard.btnDnsScript};
        const QList<QWidget*> update = {wizard.edtDnsServer, wizard.edtTsigKey,
                                        wizard.edtTsigSecret, wizard.cbTsigAlgorithm};
        const auto enabled = [](const QList<QWidget*>& controls, bool expected) {
            return std::all_of(controls.begin(), controls.end(), [expected](QWidget* control) {
                return control->isEnabled() == expected;
            });
        };
        QVERIFY(enabled(script, true) && enabled(update, false) && wizard.spnDnsWait->isEnabled());
        QTest::keyClicks(wizard.edtDnsResolver, "127.0.0.1:5353");
        QVERIFY(!wizard.spnDnsWait->isEnabled());
        wizard.cbDnsProvider->setFocus();
        QTest::keyClick(wizard.cbDnsProvider, Qt::Key_Down);
        QVERIFY(enabled(script, false) && enabled(update, true) && !wizard.spnDnsWait->isEnabled());
        while (wizard.currentPage() != TfrmAcme::tsNames)
            wizard.btnPrevious->click();
        wizard.memNames->setPlainText("*.example.com\nexample.com");
        nextUntil(wizard, TfrmAcme::tsOutputs);
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsOutputs));
        wizard.btnPrevious->click();
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsDns));
        wizard.btnPrevious->click();
        wizard.rbStandalone->setChecked(true);
        ModalScript again({pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsReach));
        QVERIFY(again.seen.value(0).contains("only through DNS records"));
    }

    // A wildcard and its bare name through the window by a DNS record that a script sets at
    // challtestsrv, which Pebble and lego then ask.
    void issuanceThroughDns() {
        TempProgramFolder program;
        TempFolder work;
        const QString script = work.file("set-record.sh");
        const QByteArray api = pebble->challengeManagement().toUtf8();
        writeFileContent(
            script,
            "#!/bin/sh\necho \"$1 $2\" >> \"$0.log\"\ncase $1 in\n"
            "present) curl -sSf -d \"{\\\"host\\\":\\\"$2\\\",\\\"value\\\":\\\"$3\\\"}\" " +
                api + "/set-txt;;\ncleanup) curl -sSf -d \"{\\\"host\\\":\\\"$2\\\"}\" " + api +
                "/clear-txt;;\nesac\n");
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
        TfrmAcme wizard(nullptr);
        wizard.show();
        fillPages(wizard, work.path(), pebble.get());
        wizard.memNames->setPlainText("*.wild.test\nwild.test");
        wizard.rbDns->setChecked(true);
        nextUntil(wizard, TfrmAcme::tsOutputs);
        QCOMPARE(wizard.currentPage(), int(TfrmAcme::tsDns));
        wizard.edtDnsScript->setText(script);
        wizard.edtDnsResolver->setText(pebble->dnsAddress());
        wizard.btnNext->click();
        MessageBoxTexts texts;
        ModalScript failure({noteTextsAndPressOk(&texts)});
        wizard.btnNext->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            wizard.currentPage() == TfrmAcme::tsFinished || failure.remaining() == 0, kIssuanceMs);
        QVERIFY2(failure.remaining() == 1, qPrintable(texts.informative + texts.detailed));
        const QList<QSslCertificate> issued =
            QSslCertificate::fromPath(work.file("wildcard.wild.test.fullchain.pem"));
        QVERIFY(!issued.isEmpty());
        QCOMPARE(issued.first().subjectAlternativeNames().values(QSsl::DnsEntry).size(), 2);
        const QByteArray calls = fileContent(script + ".log");
        QCOMPARE(calls.count("present _acme-challenge.wild.test."), 2);
        QCOMPARE(calls.count("cleanup _acme-challenge.wild.test."), 2);
        wizard.cbRenewAutomatically->setChecked(false);
        wizard.btnNext->click();
        QVERIFY(!wizard.isVisible());
    }

  private:
    TempFolder home;
    std::unique_ptr<PebbleFixture> pebble;
};

QTEST_MAIN(TestAcmeWizard)
#include "tst_acmewizard.moc"
