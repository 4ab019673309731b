#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uGenerateCSRForm.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

namespace {

// Opens the CSR wizard on its organisation page, where the export folder field is.
struct WizardOnExportPage {
    TfrmGenerateCSR wizard{nullptr};
    WizardOnExportPage() {
        wizard.show();
        wizard.btnNext->click();
        wizard.edtEmail->setText("admin@example.org");
        wizard.btnNext->click();
        wizard.edtState->setText("State");
        wizard.edtCity->setText("City");
        wizard.btnNext->click();
    }
};

// A two-page wizard whose first page runs the tool once to make `output`.
class OneRunWizard : public TWizardFrame {
  public:
    static inline const QString kFailure = QStringLiteral("The key could not be made.");

    explicit OneRunWizard(const QString& output)
        : TWizardFrame(nullptr, WizardLook{QStringLiteral("One run"), QStringLiteral("< Back")}) {
        addPage("tsWork");
        addPage("tsDone");
        setNavigation({WizardPage{[this, output] {
                                      runTool(QStringLiteral("genrsa -out \"%1\" 512").arg(output),
                                              true, output, kFailure);
                                      return 1;
                                  },
                                  kCloseWizard},
                       WizardPage{[] { return kCloseWizard; }, 0, nullptr, true}});
    }
};

} // namespace

// The frame that every wizard shares, driven through the certificate request wizard:
// window, keys, close box and the folder chooser.
class TestWizardFrame : public QObject {
    Q_OBJECT
  private slots:
    void windowIsAFixedDialogWithPagesWithoutTabs() {
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        QCOMPARE(wizard.minimumSize(), wizard.maximumSize());
        QVERIFY(wizard.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(wizard.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(wizard.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(wizard.pcWizard->count(), 5);
    }

    void enterGoesOnEscapeGoesBack() {
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        QTest::keyClick(&wizard, Qt::Key_Return);
        QCOMPARE(wizard.currentPage(), 1);
        QCOMPARE(wizard.btnPrevious->text(), QString("< Previous"));
        wizard.edtEmail->setText("a");
        QTest::keyClick(wizard.edtEmail, Qt::Key_Return);
        QCOMPARE(wizard.currentPage(), 2);
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QCOMPARE(wizard.currentPage(), 1);
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QCOMPARE(wizard.currentPage(), 0);
        QCOMPARE(wizard.btnPrevious->text(), QString("Cancel"));
        QVERIFY(wizard.isVisible());
        QTest::keyClick(&wizard, Qt::Key_Escape);
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Accepted));
    }

    void closeBoxClosesWithCancelOnAnyPage() {
        for (int page = 0; page < 3; ++page) {
            TfrmGenerateCSR wizard(nullptr);
            wizard.show();
            wizard.edtEmail->setText("a");
            for (int i = 0; i < page; ++i)
                wizard.btnNext->click();
            QCOMPARE(wizard.currentPage(), page);
            wizard.close();
            QVERIFY(!wizard.isVisible());
            QCOMPARE(wizard.result(), int(QDialog::Rejected));
        }
    }

    void toolRunIsJudgedByItsOutputFile() {
        TempFolder out;
        const QString key = out.file("site.key");
        {
            TempProgramFolder program;
            OneRunWizard wizard(key);
            wizard.show();
            wizard.btnNext->click();
            QCOMPARE(wizard.currentPage(), 1);
            QCOMPARE(wizard.btnNext->text(), QString("Finish"));
            QVERIFY(runOpenSSL({"rsa", "-in", key, "-noout", "-check"}).contains("RSA key ok"));
        }
        // A tool that leaves an empty output: the run failed, and the empty file goes.
        TempProgramFolder program(false);
        writeFileContent(program.file("openssl"), "#!/bin/sh\n: > \"$2\"\n");
        QFile::setPermissions(program.file("openssl"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        OneRunWizard wizard(key);
        wizard.show();
        ModalScript script({pressButton(QMessageBox::Ok)});
        wizard.btnNext->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(script.seen, QStringList{OneRunWizard::kFailure});
        QVERIFY(!QFileInfo::exists(key));
        QCOMPARE(wizard.currentPage(), 0);
        QCOMPARE(wizard.btnPrevious->text(), QString("< Back"));
        QCOMPARE(wizard.btnNext->text(), QString("Next >"));
    }

    void emptyFolderFieldStartsInTheDefaultAndCancelKeepsIt() {
        WizardOnExportPage on;
        on.wizard.edtExportPath->clear();
        QString start;
        ModalScript script({cancelFolderDialog(&start)});
        on.wizard.btnExportPath->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(start, withTrailingSeparator(QDir::currentPath()));
        QCOMPARE(on.wizard.edtExportPath->text(), QString());
    }

    void chosenFolderGetsExactlyOneSeparator() {
        TempFolder folder;
        QDir(folder.path()).mkdir("existing");
        WizardOnExportPage on;
        on.wizard.edtExportPath->setText(folder.path());
        QString start;
        ModalScript script({chooseFolder(folder.path() + "existing", &start)});
        on.wizard.btnExportPath->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(start, folder.path());
        QCOMPARE(on.wizard.edtExportPath->text(), folder.path() + "existing/");

        ModalScript again({chooseFolder(folder.path() + "existing/")});
        on.wizard.btnExportPath->click();
        QCOMPARE(again.remaining(), 0);
        QCOMPARE(on.wizard.edtExportPath->text(), folder.path() + "existing/");
    }

    void newFolderIsCreatedWithItsParentsAfterYes() {
        TempFolder folder;
        const QString fresh = folder.path() + "a/b/c";
        WizardOnExportPage on;
        on.wizard.edtExportPath->setText(folder.path());
        ModalScript script({chooseFolder(fresh), pressButton(QMessageBox::Yes)});
        on.wizard.btnExportPath->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(script.seen.at(1), QString("The specified directory does not exist. Create it?"));
        QVERIFY(QFileInfo(fresh).isDir());
        QCOMPARE(on.wizard.edtExportPath->text(), fresh + "/");
    }

    // A new folder typed key by key is confirmed with the mouse: the button stays usable while
    // the dialog lists the folder it shows, and the creation question follows.
    void newFolderIsConfirmedByClickingTheButton() {
        TempFolder folder;
        QDir(folder.path()).mkdir("existing");
        const QString fresh = folder.path() + "typed/new";
        WizardOnExportPage on;
        on.wizard.edtExportPath->setText(folder.path());
        ModalScript script({onWindow<QFileDialog>([&](QFileDialog* dialog) {
                                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                                QTest::keyClicks(name, fresh);
                                QPushButton* confirm = fileDialogConfirmButton(dialog);
                                QVERIFY(confirm->isEnabled());
                                QTest::qWait(300);
                                QVERIFY(confirm->isEnabled());
                                QTest::mouseClick(confirm, Qt::LeftButton);
                            }),
                            pressButton(QMessageBox::Yes)});
        on.wizard.btnExportPath->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(script.seen.at(1), QString("The specified directory does not exist. Create it?"));
        QVERIFY(QFileInfo(fresh).isDir());
        QCOMPARE(on.wizard.edtExportPath->text(), fresh + "/");
    }

    void folderThatCannotBeCreatedIsReported() {
        TempFolder folder;
        writeFileContent(folder.file("plain.txt"), "not a folder");
        const QString impossible = folder.file("plain.txt/inner");
        WizardOnExportPage on;
        on.wizard.edtExportPath->setText(folder.path());
        ModalScript script({chooseFolder(impossible), pressButton(QMessageBox::Yes),
                            pressButton(QMessageBox::Ok)});
        on.wizard.btnExportPath->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(script.seen.last(), "Cannot create the folder \"" + impossible + "\"");
        QCOMPARE(on.wizard.edtExportPath->text(), folder.path());
        QCOMPARE(fileContent(folder.file("plain.txt")), QByteArray("not a folder"));
    }

    void noToCreationKeepsTheChooserOpen() {
        TempFolder folder;
        const QString fresh = folder.path() + "never";
        WizardOnExportPage on;
        const QString before = on.wizard.edtExportPath->text();
        // The chooser is still open after "No".
        QString start;
        ModalScript script(
            {chooseFolder(fresh), pressButton(QMessageBox::No), cancelFolderDialog(&start)});
        on.wizard.btnExportPath->click();
        QCOMPARE(script.remaining(), 0);
        QVERIFY(!QFileInfo::exists(fresh));
        QCOMPARE(on.wizard.edtExportPath->text(), before);
    }
};

QTEST_MAIN(TestWizardFrame)
#include "tst_wizardframe.moc"
