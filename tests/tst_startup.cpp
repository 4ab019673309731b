#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uPasswordForm.h"
#include "uTerminationSignals.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

namespace {
// True when the process has handlers installed for all three termination signals.
bool catchesTerminationSignals(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:"))
            continue;
        const quint64 caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
        const quint64 wanted =
            (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1)) | (1ULL << (SIGHUP - 1));
        return (caught & wanted) == wanted;
    }
    return false;
}

bool handlerIsDefault(int signalNumber) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler == SIG_DFL;
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
    }
    void signalBecomesAnEventOnTheGuiThread() {
        QFETCH(int, signalNumber);
        {
            TerminationSignals termination;
            QSignalSpy spy(&termination, &TerminationSignals::terminationRequested);
            QVERIFY(!termination.arrived());
            QVERIFY(::raise(signalNumber) == 0);
            QVERIFY(spy.wait(5000));
            QVERIFY(termination.arrived());
            QCOMPARE(spy.count(), 1);
        }
        QVERIFY(handlerIsDefault(signalNumber));
    }

    void terminatedProgramLeavesTheFilesEmpty_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void terminatedProgramLeavesTheFilesEmpty() {
        QFETCH(int, signalNumber);
        TempFolder folder;
        const QString program = folder.file("certwright");
        QVERIFY(QFile::copy(QStringLiteral(CERTWRIGHT_EXECUTABLE), program));
        writePassPhraseFiles(folder.path(), "current secret", "new secret");

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(folder.path());
        process.start(program, {});
        QVERIFY(process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(catchesTerminationSignals(process.processId()), 10000);
        QCOMPARE(fileContent(folder.file(kNewPassPhraseFile)), QByteArray("new secret"));

        QVERIFY(::kill(pid_t(process.processId()), signalNumber) == 0);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(passPhraseFilesEmpty(folder.path()));
        // Qt's note about a missing runtime folder comes from the test environment.
        for (const QByteArray& line : process.readAllStandardError().split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith("QStandardPaths:"), line.constData());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
