#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uPassPhraseFolder.h"
#include "uTerminationSignals.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>

namespace {
void (*handlerOf(int signalNumber))(int) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler;
}

// Starts a copy of the program that lives in the folder, with both pass-phrase files there
// holding secrets.
void startWithSecrets(QProcess& process, const TempFolder& folder,
                      const QProcessEnvironment& environment) {
    writePassPhraseFiles(folder.path(), "current secret", "new secret");
    startProgramCopy(process, folder.path(), environment);
    QCOMPARE(fileContent(folder.file(kNewPassPhraseFile)), QByteArray("new secret"));
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
        process.start(QStringLiteral(CERTWRIGHT_EXECUTABLE), {});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardError(), told);
    }

    // When the display goes away, Qt ends the program through exit(1), past every window.
    void lostDisplayLeavesTheFilesEmpty() {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        QVERIFY2(!xvfb.isEmpty(), "Xvfb is missing: tools/setup.sh installs the package xvfb");
        QProcess server;
        // The server picks a free display itself and names it on its standard output.
        server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"});
        QVERIFY(server.waitForStarted(10000));
        const QDeadlineTimer deadline(10000);
        while (!server.canReadLine() && !deadline.hasExpired())
            server.waitForReadyRead(100);
        QVERIFY(server.canReadLine());
        const QString display = ':' + QString::fromLatin1(server.readLine().trimmed());

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
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
