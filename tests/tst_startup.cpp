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
    writePassPhraseFile(kNewPassPhraseFile, "new secret");
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

// Starts an X server on a free display; returns the display's name, empty when it failed.
QString startXServer(QProcess& server) {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty())
        return QString();
    // The server picks a free display itself and names it on its standard output.
    server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
    if (!server.waitForStarted(10000))
        return QString();
    const QDeadlineTimer deadline(10000);
    while (!server.canReadLine() && !deadline.hasExpired())
        server.waitForReadyRead(100);
    return server.canReadLine() ? ':' + QString::fromLatin1(server.readLine().trimmed())
                                : QString();
}

qint64 idIn(const QString& file) {
    return fileContent(file).trimmed().toLongLong();
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

QProcessEnvironment offscreenEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
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
    void terminatedProgramLeavesTheFilesEmpty_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("crash");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("SIGQUIT") << SIGQUIT << false;
        QTest::newRow("SIGUSR2") << SIGUSR2 << false;
        QTest::newRow("SIGPIPE") << SIGPIPE << false;
        QTest::newRow("SIGSEGV") << SIGSEGV << true;
        QTest::newRow("SIGABRT") << SIGABRT << true;
    }
    void terminatedProgramLeavesTheFilesEmpty() {
        QFETCH(int, signalNumber);
        QFETCH(bool, crash);
        TempFolder folder;
        QProcess process;
        startWithSecrets(process, folder, offscreenEnvironment());
        if (QTest::currentTestFailed())
            return;

        QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
        QVERIFY(process.waitForFinished(10000));
        QVERIFY(passPhraseFilesEmpty(folder.path()));
        if (crash) {
            QCOMPARE(process.exitStatus(), QProcess::CrashExit);
            return;
        }
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // Qt's note about a missing runtime folder comes from the test environment.
        for (const QByteArray& line : process.readAllStandardError().split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith("QStandardPaths:"), line.constData());
    }

    // A display that cannot be reached, or none at all, is told in one line, with status 1.
    void missingDisplayIsToldInOneLine_data() {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QByteArray>("told");
        QTest::newRow("unreachable")
            << ":99"
            << QByteArray("Certwright cannot open the display \":99\": is a desktop "
                          "running there?\n");
        QTest::newRow("none") << ""
                              << QByteArray("Certwright needs a graphical desktop: no "
                                            "DISPLAY or WAYLAND_DISPLAY is set.\n");
    }
    void missingDisplayIsToldInOneLine() {
        QFETCH(QString, display);
        QFETCH(QByteArray, told);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DISPLAY", display);
        environment.remove("WAYLAND_DISPLAY");
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(testPath("CERTWRIGHT_EXECUTABLE"), {});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardError(), told);
    }

    // When the display goes away, Qt ends the program through exit(1), past every window.
    void lostDisplayLeavesTheFilesEmpty() {
        QProcess server;
        const QString display = startXServer(server);
        QVERIFY2(!display.isEmpty(), "Xvfb is missing or failed: tools/setup.sh installs xvfb");

        TempFolder folder;
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("DISPLAY", display);
        startWithSecrets(process, folder, environment);
        server.terminate();
        QVERIFY(server.waitForFinished(10000));
        if (QTest::currentTestFailed())
            return;

        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("X11 connection broke"));
        QVERIFY(passPhraseFilesEmpty(folder.path()));
    }

    // A display lost during a run ends like a termination: the tool's process group ends,
    // the earlier file comes back, the scratch file goes, the pass phrase too. A killed copy
    // can do none of that; the next step puts its earlier file back.
    void endingDuringARun_data() {
        QTest::addColumn<bool>("killed");
        QTest::newRow("display lost") << false;
        QTest::newRow("killed") << true;
    }
    void endingDuringARun() {
        QFETCH(bool, killed);
        QProcess server;
        QProcessEnvironment environment = offscreenEnvironment();
        if (!killed) {
            const QString display = startXServer(server);
            QVERIFY2(!display.isEmpty(), "Xvfb is missing or failed: tools/setup.sh installs xvfb");
            environment.insert("QT_QPA_PLATFORM", "xcb");
            environment.insert("DISPLAY", display);
        }
        TempFolder folder;
        writeFileContent(folder.file("openssl"), kSlowTool);
        QVERIFY(QFile::setPermissions(folder.file("openssl"), QFile::ReadOwner | QFile::ExeOwner));
        writeFileContent(folder.file("site.key"), "earlier key");
        environment.insert(kStepFolderVariable, folder.path());
        QProcess copy;
        copy.setProcessEnvironment(environment);
        copy.start(QCoreApplication::applicationFilePath(), {});
        QTRY_VERIFY_WITH_TIMEOUT(idIn(folder.file("tool")) > 0, 10000);
        QTRY_VERIFY(idIn(folder.file("background")) > 0);
        const qint64 tool = idIn(folder.file("tool"));
        const qint64 background = idIn(folder.file("background"));
        QVERIFY(!QFile::exists(folder.file("site.key")));
        QCOMPARE(fileContent(folder.file(kNewPassPhraseFile)), QByteArray("new secret"));

        if (killed) {
            QVERIFY(::kill(pid_t(copy.processId()), SIGKILL) == 0);
        } else {
            server.terminate();
            QVERIFY(server.waitForFinished(10000));
        }
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
