#include "KeyAndCertificateFixtures.h"
#include "TestSupport.h"
#include "uAcmeForm.h"
#include "uExportFolder.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

namespace {

// An authority that cannot be reached: its terms cannot be read, and nothing leaves loopback.
const QString kNowhere = QStringLiteral("https://127.0.0.1:1/directory");

// Types what the pages need into the wizard, so that each page's Next goes on; an authority
// page shown on the way has its terms agreed to.
void fillPages(TfrmAcme& wizard, const QString& exportFolder, const QString& directory) {
    wizard.memNames->setPlainText("www.example.com\nexample.com");
    wizard.edtEmail->setText("admin@example.com");
    wizard.rbOtherAuthority->setChecked(true);
    wizard.edtDirectory->setText(directory);
    wizard.edtExportPath->setText(exportFolder);
}

// Presses Next until the page is shown, agreeing to the terms on the way unless told not to.
void nextUntil(TfrmAcme& wizard, int page, bool agree = true) {
    while (wizard.currentPage() < page) {
        const int before = wizard.currentPage();
        wizard.btnNext->click();
        if (wizard.currentPage() == TfrmAcme::tsAuthority)
            wizard.cbAgreeTerms->setChecked(agree);
        if (wizard.currentPage() == before)
            return;
    }
}

} // namespace

class TestAcmeWizard : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        // The program's data, the timer's files and the default export folder stay in here.
        for (const char* variable : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
            qputenv(variable, QFile::encodeName(home.file(variable)));
        for (const char* folder : {"HOME", "XDG_RUNTIME_DIR"})
            QVERIFY(QDir(home.path()).mkdir(folder));
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
        addRow("no e-mail address", int(TfrmAcme::tsNames), "edtEmail", "admin",
               "\"admin\" is not an e-mail address");
        addRow("no directory address", int(TfrmAcme::tsAuthority), "edtDirectory", "",
               "Please enter the address of the authority's ACME directory");
        addRow("terms not agreed", int(TfrmAcme::tsAuthority), "cbAgreeTerms", "",
               "tick \"I agree to the authority's terms of service\"");
        addRow("web root missing", int(TfrmAcme::tsReach), "edtWebRoot", "WORKnone",
               "The web root \"WORKnone\" cannot be used");
        addRow("no output", int(TfrmAcme::tsOutputs), "cbForNginx", "",
               "Please choose at least one kind of server");
        addRow("folder that others change", int(TfrmAcme::tsOutputs), "edtExportPath", "/tmp",
               "The folder \"/tmp\" can be changed by other users");
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
        fillPages(wizard, work.path(), kNowhere);
        QWidget* spoiled = wizard.findChild<QWidget*>(field);
        if (auto* names = qobject_cast<QPlainTextEdit*>(spoiled))
            names->setPlainText(value);
        else if (auto* edit = qobject_cast<QLineEdit*>(spoiled)) {
            edit->clear();
            QTest::keyClicks(edit, value);
        } else
            qobject_cast<QCheckBox*>(spoiled)->setChecked(false);
        ModalScript script({pressButton(QMessageBox::Ok)});
        nextUntil(wizard, page + 1, field != "cbAgreeTerms");
        QCOMPARE(wizard.currentPage(), page);
        QCOMPARE(script.seen.size(), 1);
        QVERIFY2(script.seen.first().contains(message), qPrintable(script.seen.first()));
        QVERIFY(filesIn(work.path()).isEmpty());
    }

  private:
    TempFolder home;
};

QTEST_MAIN(TestAcmeWizard)
#include "tst_acmewizard.moc"
