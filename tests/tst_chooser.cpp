#include "FailedRenewalsButton.h"
#include "ServerFiles.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uMainForm.h"
#include "uPassPhraseFolder.h"
#include "uRenewal.h"

#include <QButtonGroup>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <algorithm>

namespace {
const QStringList kRadioNames = {"rbGenerateCSR", "rbSelfSign",    "rbAcme",        "rbExtractRoot",
                                 "rbPrepareIIS",  "rbPrepareIndy", "rbViewInstall", "rbCheck",
                                 "rbInstall",     "rbExpiry"};

// Where a widget sits inside the chooser, from the top.
int topOf(const TfrmCertwright& chooser, const char* name) {
    const auto* widget = chooser.findChild<QWidget*>(name);
    return widget ? widget->mapTo(&chooser, QPoint(0, 0)).y() : -1;
}

// Records the wizard that Start opens, then closes it with Cancel.
struct OpenedWizard {
    QString className;
    QWidget* parent = nullptr;
    QPointer<QWidget> window;
    ModalScript::Action recordAndReject(const char* marker = nullptr) {
        return [this, marker](QWidget* modal) {
            className = QString::fromLatin1(modal->metaObject()->className());
            parent = modal->parentWidget();
            window = modal;
            if (marker)
                modal->setProperty(marker, true);
            rejectDialog()(modal);
        };
    }
};
} // namespace

// The task chooser: its layout and keyboard, the wizard each task opens, and the emptying of
// the pass-phrase files when it closes.
class TestChooser : public QObject {
    Q_OBJECT
  private slots:
    void layoutInScreenOrder() {
        TfrmCertwright chooser;
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QCOMPARE(chooser.windowTitle(), QStringLiteral("Certwright"));

        const char* screenOrder[] = {
            "Label1",  "rbGenerateCSR", "rbSelfSign",   "rbAcme",        "Bevel1",
            "Label2",  "rbExtractRoot", "rbPrepareIIS", "rbPrepareIndy", "rbViewInstall",
            "rbCheck", "rbInstall",     "rbExpiry",     "btnStart"};
        for (std::size_t i = 1; i < std::size(screenOrder); ++i)
            QVERIFY2(topOf(chooser, screenOrder[i - 1]) < topOf(chooser, screenOrder[i]),
                     screenOrder[i]);
        QCOMPARE(topOf(chooser, "btnStart"), topOf(chooser, "btnClose"));
        QVERIFY(chooser.btnStart->x() < chooser.btnClose->x());
        QVERIFY(chooser.btnClose->geometry().right() > chooser.width() * 3 / 4);
        QCOMPARE(chooser.Bevel1->frameShape(), QFrame::HLine);

        QCOMPARE(chooser.btnStart->text(), QStringLiteral("Start"));
        QCOMPARE(chooser.btnClose->text(), QStringLiteral("Close"));
        QCOMPARE(chooser.rbCheck->text(), QStringLiteral("Check a certificate or a server"));
        QCOMPARE(chooser.rbInstall->text(),
                 QStringLiteral("Install the certificate from your authority"));
        QCOMPARE(chooser.rbExpiry->text(), QStringLiteral("See when your certificates expire"));
        QCOMPARE(chooser.rbAcme->text(),
                 QStringLiteral("Get a free certificate automatically (ACME)"));
    }

    void exactlyOneTaskSelected() {
        TfrmCertwright chooser;
        QVERIFY(chooser.rbGenerateCSR->isChecked());
        for (const QString& name : kRadioNames) {
            auto* radio = chooser.findChild<QRadioButton*>(name);
            QVERIFY(radio);
            QCOMPARE(radio->group(), chooser.tasks);
            radio->click();
            for (const QString& other : kRadioNames)
                QCOMPARE(chooser.findChild<QRadioButton*>(other)->isChecked(), other == name);
        }
        QVERIFY(chooser.tasks->exclusive());
    }

    void tabOrderDiffersFromScreenOrder() {
        TfrmCertwright chooser;
        const QStringList expected = {"rbGenerateCSR", "rbSelfSign",    "rbAcme",
                                      "rbExtractRoot", "rbPrepareIndy", "rbViewInstall",
                                      "rbPrepareIIS",  "rbCheck",       "rbInstall",
                                      "rbExpiry",      "btnStart",      "btnClose"};
        QCOMPARE(tabOrder(chooser.rbGenerateCSR, expected), expected);
    }

    // A double click on a task starts it at once.
    void startOpensTheSelectedWizard_data() {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("doubleClick");
        addRow("request", "rbGenerateCSR", "TfrmGenerateCSR", false);
        addRow("self-signed", "rbSelfSign", "TfrmSelfSign", false);
        addRow("free certificate", "rbAcme", "TfrmAcme", false);
        addRow("free certificate by double click", "rbAcme", "TfrmAcme", true);
        addRow("root", "rbExtractRoot", "TfrmExtractRoot", false);
        addRow("Indy", "rbPrepareIndy", "TfrmPrepareIndyIntraweb", false);
        addRow("IIS", "rbPrepareIIS", "TfrmPrepareIIS", false);
        addRow("instructions", "rbViewInstall", "TfrmViewInstructions", false);
        addRow("check", "rbCheck", "TfrmCheckCertificate", false);
        addRow("install", "rbInstall", "TfrmInstallCertificate", false);
        addRow("expiry", "rbExpiry", "TfrmExpiry", false);
    }
    void startOpensTheSelectedWizard() {
        QFETCH(QString, radio);
        QFETCH(QString, form);
        QFETCH(bool, doubleClick);
        TempProgramFolder program;
        TfrmCertwright chooser;
        chooser.show();
        auto* task = chooser.findChild<QRadioButton*>(radio);
        OpenedWizard opened;
        ModalScript script({opened.recordAndReject()});
        if (doubleClick)
            QTest::mouseDClick(task, Qt::LeftButton);
        else {
            task->click();
            chooser.btnStart->click();
        }
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(opened.className, form);
        QCOMPARE(opened.parent, &chooser);
        QVERIFY2(opened.window.isNull(), "the wizard is freed when it closes");
        QVERIFY(chooser.findChild<QRadioButton*>(radio)->isChecked());
    }

    void startWithoutChoosingOpensTheRequestWizard() {
        TempProgramFolder program;
        TfrmCertwright chooser;
        chooser.show();
        QVERIFY(QTest::qWaitForWindowActive(&chooser));
        OpenedWizard opened;
        ModalScript script({opened.recordAndReject()});
        // Enter on the focused task presses the default button.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(opened.className, QStringLiteral("TfrmGenerateCSR"));
        QVERIFY(chooser.btnStart->isDefault());
    }

    void everyStartBuildsAFreshWizard() {
        TempProgramFolder program;
        TfrmCertwright chooser;
        chooser.show();
        chooser.rbPrepareIIS->click();
        OpenedWizard first;
        OpenedWizard second;
        ModalScript script({first.recordAndReject("used")});
        chooser.btnStart->click();
        QVERIFY(first.window.isNull());
        QVariant usedBefore;
        ModalScript again({[&](QWidget* modal) {
            usedBefore = modal->property("used");
            second.recordAndReject()(modal);
        }});
        chooser.btnStart->click();
        QCOMPARE(again.remaining(), 0);
        QCOMPARE(second.className, QStringLiteral("TfrmPrepareIIS"));
        QVERIFY2(!usedBefore.isValid(), "the second Start reused the first wizard");
    }

    void closingEmptiesThePassPhraseFiles_data() {
        QTest::addColumn<bool>("earlierContents");
        QTest::addColumn<int>("how");
        for (const bool earlier : {false, true}) {
            const char* state = earlier ? "written" : "missing";
            QTest::addRow("Close, files %s", state) << earlier << 0;
            QTest::addRow("Escape, files %s", state) << earlier << 1;
            QTest::addRow("close box, files %s", state) << earlier << 2;
        }
    }
    void closingEmptiesThePassPhraseFiles() {
        QFETCH(bool, earlierContents);
        QFETCH(int, how);
        TempProgramFolder program;
        if (earlierContents)
            writePassPhraseFiles(program.path(), "current secret", "new secret");
        TfrmCertwright chooser;
        chooser.show();
        QVERIFY(QTest::qWaitForWindowActive(&chooser));
        QVERIFY(!passPhraseFilesEmpty(program.path()));
        if (how == 0)
            chooser.btnClose->click();
        else if (how == 1)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else
            chooser.close();
        QVERIFY(!chooser.isVisible());
        QVERIFY(passPhraseFilesEmpty(program.path()));
    }

    void closingReportsAFileThatCannotBeEmptied() {
        TempProgramFolder program;
        writePassPhraseFiles(program.path(), "current secret", "new secret");
        QVERIFY(QFile::remove(program.file(kCurrentPassPhraseFile)));
        QVERIFY(QDir(program.path()).mkdir(kCurrentPassPhraseFile));
        TfrmCertwright chooser;
        chooser.show();
        ModalScript script({pressButton(QMessageBox::Ok)});
        chooser.btnClose->click();
        QCOMPARE(script.seen.size(), 1);
        QVERIFY2(script.seen.first().contains(program.file(kCurrentPassPhraseFile)),
                 qPrintable(script.seen.first()));
        QVERIFY(QFileInfo::exists(program.file(kNewPassPhraseFile)));
        QCOMPARE(fileContent(program.file(kNewPassPhraseFile)), QByteArray());
        QVERIFY2(!chooser.isVisible(), "the exit goes on after the error");
    }

    // Renewals that the timer's `certwright renew` could not do show as one line above the
    // tasks, which opens their details; records not yet tried, and no records, show nothing.
    void failedRenewalsShowAtStart_data() {
        QTest::addColumn<int>("recorded");
        QTest::addColumn<int>("failed");
        QTest::addColumn<QString>("line");
        addRow("no record folder", 0, 0, QString());
        addRow("a record not yet tried", 1, 0, QString());
        addRow("one failed", 1, 1, QString("1 certificate could not be renewed: "));
        addRow("two failed, one not tried", 3, 2, QString("2 certificates could not be renewed: "));
    }
    void failedRenewalsShowAtStart() {
        QFETCH(int, recorded);
        QFETCH(int, failed);
        QFETCH(QString, line);
        TempProgramFolder program;
        TempFolder data;
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        // Records of an authority that nobody answers at, so that each renewal fails at once.
        for (int i = 0; i < recorded; ++i) {
            Acme::AcmeValues values;
            values.names = {QString("failed%1.example").arg(i)};
            values.email = "admin@example.com";
            values.server = "https://127.0.0.1:1/directory";
            values.outputs = {ServerFiles::kForNginx};
            values.outFolder = data.path();
            Renewal::writeRecord(values, QDateTime::currentDateTimeUtc().addDays(60));
        }
        for (int i = 0; i < failed; ++i) {
            QProcess renew;
            renew.start(testPath("CERTWRIGHT_EXECUTABLE"),
                        {"renew", "--all", "--name", QString("failed%1.example").arg(i)});
            QVERIFY(renew.waitForFinished(60000));
            QCOMPARE(renew.exitCode(), 1);
        }
        TfrmCertwright chooser;
        chooser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chooser));
        QCOMPARE(chooser.btnRenewalFailures->isVisible(), failed > 0);
        if (failed == 0)
            return;
        QVERIFY(topOf(chooser, "btnRenewalFailures") < topOf(chooser, "Label1"));
        const QString reason = chooser.btnRenewalFailures->failures().first().lastReason;
        QVERIFY(!reason.isEmpty());
        QVERIFY2(chooser.btnRenewalFailures->text().startsWith(line + reason.left(20)),
                 qPrintable(chooser.btnRenewalFailures->text()));
        ModalScript script({pressButton(QMessageBox::Ok)});
        chooser.btnRenewalFailures->setFocus();
        QTest::keyClick(chooser.btnRenewalFailures, Qt::Key_Return);
        QCOMPARE(script.seen.size(), 1);
        for (int i = 0; i < recorded; ++i)
            QCOMPARE(script.seen.first().contains(QString("failed%1.example").arg(i)), i < failed);
        QVERIFY(script.seen.first().contains(", failed: " + reason));
    }
};

QTEST_MAIN(TestChooser)
#include "tst_chooser.moc"
