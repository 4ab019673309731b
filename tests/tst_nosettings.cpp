#include "TestSupport.h"
#include "uGenerateCSRForm.h"
#include "uPrepareIISForm.h"

#include <QDirIterator>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

namespace {
// Set for the copy of this test that uses the dialogs: its home and configuration folder.
const char* const kHomeVariable = "CERTWRIGHT_TEST_HOME";

// Everything below the folder, hidden items included.
QStringList contentsOf(const QString& folder) {
    QStringList found;
    QDirIterator items(folder,
                       QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (items.hasNext())
        found << items.next();
    return found;
}
} // namespace

// Nothing is remembered between runs: Qt's file dialogs write no settings file.
class TestNoSettings : public QObject {
    Q_OBJECT
  private slots:
    // Run by nothingIsWrittenToTheHomeFolder in a process of its own, whose home and
    // configuration folder are an empty temporary folder from its start on.
    void fileDialogsAreUsed() {
        const QString home = qEnvironmentVariable(kHomeVariable);
        if (home.isEmpty())
            QSKIP("run by nothingIsWrittenToTheHomeFolder");
        // Qt's settings would go to this folder.
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), home);
        TempFolder work;
        QVERIFY(makeKey(work.file("site.key"), QString(), 1024));

        TfrmGenerateCSR request(nullptr);
        request.show();
        request.edtExportPath->setText(work.path());
        ModalScript chooseFolderScript(
            {chooseFolder(work.path() + "out", nullptr), pressButton(QMessageBox::Yes)});
        request.btnExportPath->click();
        QCOMPARE(chooseFolderScript.remaining(), 0);
        QCOMPARE(request.edtExportPath->text(), work.path() + "out/");

        TfrmPrepareIIS iis(nullptr);
        iis.show();
        iis.btnNext->click();
        ModalScript chooseKey({onWindow<QFileDialog>(
            [&](QFileDialog* dialog) { typeIntoFileDialog(dialog, work.file("site.key")); })});
        iis.btnKeyFile->click();
        QCOMPARE(chooseKey.remaining(), 0);
        QCOMPARE(iis.edtKeyFile->text(), work.file("site.key"));
    }

    void nothingIsWrittenToTheHomeFolder() {
        TempFolder home;
        const QString homePath = QDir::cleanPath(home.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", homePath);
        environment.insert("XDG_CONFIG_HOME", homePath);
        environment.insert(kHomeVariable, homePath);
        QProcess dialogs;
        dialogs.setProcessEnvironment(environment);
        dialogs.setProcessChannelMode(QProcess::MergedChannels);
        dialogs.start(QCoreApplication::applicationFilePath(), {"fileDialogsAreUsed"});
        QVERIFY(dialogs.waitForFinished(50000));
        const QString output = QString::fromLocal8Bit(dialogs.readAll());
        QVERIFY2(dialogs.exitCode() == 0 &&
                     output.contains("PASS   : TestNoSettings::fileDialogsAreUsed"),
                 qPrintable(output));
        QCOMPARE(contentsOf(homePath), QStringList());
    }
};

QTEST_MAIN(TestNoSettings)
#include "tst_nosettings.moc"
