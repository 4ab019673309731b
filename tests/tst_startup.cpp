#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uExternalApp.h"
#include "uMainForm.h"
#include "uOutputReplacement.h"
#include "uPassPhraseFiles.h"
#include "uPassPhraseFolder.h"
#include "uTerminationSignals.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>

namespace {
// Set for a copy of this test program that runs a step in the named program folder until it
// is ended from outside.
const char kStepFolderVariable[] = "TST_STARTUP_STEP_FOLDER";

// A tool that never ends by itself, with a process of its own in the background; both note
// their ids in the program folder.
const QByteArray kSlowTool = "#!/bin/sh\nsleep 60 &\necho $! > background\necho $$ > tool\nwait\n";

// What the copy does, as a program does: it chooses its pass-phrase folder, writes a pass
// phrase, and replaces "site.key" by the slow tool's run, with a scratch file beside it.
int runStepUntilEnded(int argc, char** argv, const QString& folder) {
    QApplication app(argc, argv);
    setProgramFolderForTesting(folder);
    choosePassPhraseFolder(folder, folder + "base");
    tidyUpAtExit();
    writePassPhrases(PassPhraseFolder(), {QString(), "new secret"});
    QWidget window;
    window.show();
    replaceOutputs({folder + "site.key"}, [&] {
        const ScratchFiles scratch({folder + "__config.tmp"});
        writeFileContent(folder + "__config.tmp", "scratch");
        TExternalApp runner;
        runner.ModuleName = folder + "openssl";
        runner.Arguments = {"openssl", "genrsa"};
        runner.StartProcess();
        runner.WaitForProcess();
    });
    return 0;
}

const char kNoXServer[] = "Xvfb is missing or failed: tools/setup.sh installs xvfb";

// Starts an X server on a free display and points the environment at it; false when it failed.
bool startXServer(QProcess& server, QProcessEnvironment& environment) {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty())
        return false;
    // The server picks a free display itself and names it on its standard output.
    server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    const QDeadlineTimer deadline(10000);
    while (server.waitForStarted(10000) && !server.canReadLine() && !deadline.hasExpired())
        server.waitForReadyRead(100);
    if (!server.canReadLine())
        return false;
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("DISPLAY", ':' + QString::fromLatin1(server.readLine().trimmed()));
    return true;
}

void (*handlerOf(int signalNumber))(int) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

// Starts a copy of the program that lives in the folder, then puts secrets into both of its
// pass-phrase files, as a step does. What a killed copy left there is emptied at the start.
void startWithSecrets(QProcess& process, const TempFolder& folder,
                      const QProcessEnvironment& environment) {
    writePassPhraseFiles(folder.path(), "killed copy's current", "killed copy's new");
    startProgramCopy(process, folder.path(), environment);
    QVERIFY(passPhraseFilesEmpty(folder.path()));
    writePassPhraseFiles(folder.path(), "current secret", "new secret");
}

} // namespace

// The program ends cleanly on the termination signals: the pass-phrase files are left empty.
class TestStartup : public QObject {
    Q_OBJECT
  private slots:
    void signalBecomesAnEventOnTheGuiThread_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGQUIT") << SIGQUIT;
        QTest::newRow("SIGUSR1") << SIGUSR1;
        QTest::newRow("SIGXFSZ") << SIGXFSZ;
    }
    void signalBecomesAnEventOnTheGuiThread() {
        QFETCH(int, signalNumber);
        const auto before = handlerOf(signalNumber);
        {
            TerminationSignals termination;
            QSignalSpy spy(&termination, &TerminationSignals::terminationRequested);
            QVERIFY(!termination.arrived());
            QVERIFY(::raise(signalNumber) == 0);
            QVERIFY(spy.wait(5000));
            QVERIFY(termination.arrived());
            QCOMPARE(spy.count(), 1);
        }
        QVERIFY(handlerOf(signalNumber) == before);
    }

    // Asked to end, the program ends cleanly; after a crash it still takes its default course.
    // When the display goes away (signal 0 here), Qt ends the program through exit(1), past
    // every window.
    void terminatedProgramLeavesTheFilesEmpty_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("crash");
        for (const auto& [name, signalNumber] : {std::pair{"SIGTERM", SIGTERM},
                                                 {"SIGINT", SIGINT},
                                                 {"SIGHUP", SIGHUP},
                                                 {"SIGQUIT", SIGQUIT},
                                                 {"SIGUSR2", SIGUSR2},
                                                 {"SIGPIPE", SIGPIPE},
                                                 {"display lost", 0}})
            addRow(name, signalNumber, false);
        addRow("SIGSEGV", SIGSEGV, true);
        addRow("SIGABRT", SIGABRT, true);
    }
    void terminatedProgramLeavesTheFilesEmpty() {
        QFETCH(int, signalNumber);
        QFETCH(bool, crash);
        TempFolder folder;
        QProcess server, process;
        QProcessEnvironment environment = offscreenEnvironment();
        QVERIFY2(signalNumber || startXServer(server, environment), kNoXServer);
        startWithSecrets(process, folder, environment);
        if (QTest::currentTestFailed())
            return;

        if (signalNumber)
            QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
        else
            server.terminate();
        QVERIFY(signalNumber || server.waitForFinished(10000));
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(passPhraseFilesEmpty(folder.path()));
        if (crash) {
            QCOMPARE(process.exitStatus(), QProcess::CrashExit);
            return;
        }
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), signalNumber ? 0 : 1);
        const QByteArray said = process.readAllStandardError();
        QVERIFY(signalNumber || said.contains("X11 connection broke"));
        // Qt's note about a missing runtime folder comes from the test environment.
        for (const QByteArray& line : said.split('\n'))
            QVERIFY2(!signalNumber || line.isEmpty() || line.startsWith("QStandardPaths:"),
                     line.constData());
    }

    // A display that cannot be reached, or none at all, is told in one line, with status 1.
    void missingDisplayIsToldInOneLine_data() {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("told");
        addRow("unreachable", ":99",
               "Certwright cannot open the display \":99\": is a desktop running there?\n");
        addRow("none", "",
               "Certwright needs a graphical desktop: no DISPLAY or WAYLAND_DISPLAY is set.\n");
    }
    void missingDisplayIsToldInOneLine() {
        QFETCH(QString, display);
        QFETCH(QString, told);
        QProcessEnvironment environment = offscreenEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DISPLAY", display);
        environment.remove("WAYLAND_DISPLAY");
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(testPath("CERTWRIGHT_EXECUTABLE"), {});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), told);
    }

    // A display lost during a run ends like a termination: the tool's process group ends,
    // the earlier file comes back, the scratch file goes, the pass phrase too. A killed copy
    // can do none of that; the next step puts its earlier file back.
    void endingDuringARun_data() { addBoolRows("killed", "display lost", "killed"); }
    void endingDuringARun() {
        QFETCH(bool, killed);
        QProcess server, copy;
        QProcessEnvironment environment = offscreenEnvironment();
        QVERIFY2(killed || startXServer(server, environment), kNoXServer);
        TempFolder folder;
        QVERIFY(writeProgram(folder.file("openssl"), kSlowTool));
        writeFileContent(folder.file("site.key"), "earlier key");
        environment.insert(kStepFolderVariable, folder.path());
        copy.setProcessEnvironment(environment);
        copy.start(QCoreApplication::applicationFilePath(), {});
        qint64 tool = 0, background = 0;
        QTRY_VERIFY_WITH_TIMEOUT((tool = idIn(folder.file("tool"))) > 0 &&
                                     (background = idIn(folder.file("background"))) > 0,
                                 10000);
        QVERIFY(!QFile::exists(folder.file("site.key")));
        QCOMPARE(fileContent(folder.file(kNewPassPhraseFile)), QByteArray("new secret"));

        if (killed)
            QVERIFY(::kill(pid_t(copy.processId()), SIGKILL) == 0);
        else
            server.terminate();
        QVERIFY(killed || server.waitForFinished(10000));
        QVERIFY(copy.waitForFinished(10000));
        if (killed) {
            QVERIFY(processIsAlive(tool));
            ::kill(pid_t(-tool), SIGKILL);
            QVERIFY(!QFile::exists(folder.file("site.key")));
            QCOMPARE(putBackLeftBehindFiles(folder.path()), QString());
        } else {
            QCOMPARE(copy.exitCode(), 1);
            QVERIFY(copy.readAllStandardError().contains("X11 connection broke"));
            QVERIFY(passPhraseFilesEmpty(folder.path()));
            QVERIFY(!QFile::exists(folder.file("__config.tmp")));
        }
        QTRY_VERIFY(!processIsAlive(tool) && !processIsAlive(background));
        QCOMPARE(fileContent(folder.file("site.key")), QByteArray("earlier key"));
        QCOMPARE(QDir(folder.path()).entryList({".*"}, QDir::Files | QDir::Hidden), QStringList());
    }
};

int main(int argc, char** argv) {
    const QString stepFolder = qEnvironmentVariable(kStepFolderVariable);
    if (!stepFolder.isEmpty())
        return runStepUntilEnded(argc, argv, stepFolder);
    QApplication app(argc, argv);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_startup.moc"
