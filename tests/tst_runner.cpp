#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uExternalApp.h"
#include "uTerminationSignals.h"
#include "uWindowsCommon.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QString kShell = QStringLiteral("/bin/sh");
const QString kSleep = QStringLiteral("/bin/sleep");
// The grace time of the ends in the tests that wait it out.
constexpr int kShortGraceMs = 300;

// Runs the command to its end through a runner set up by the caller.
void run(TExternalApp& runner, const QString& module, const QString& commandLine) {
    runner.ModuleName = module;
    runner.Arguments = splitCommandLine(commandLine);
    runner.StartProcess();
    runner.WaitForProcess();
}

// Paints are counted so that the wait can be shown to let the window repaint.
class PaintCounter : public QWidget {
  public:
    int paints = 0;

  protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

} // namespace

Q_DECLARE_METATYPE(RunEnd)

// The process runner: how command lines become argument vectors, the order and thread of its
// events, and the ways in which a run can end.
class TestRunner : public QObject {
    Q_OBJECT
  private slots:
    // How the tests write argument vectors as one line, and how the runner read its command
    // lines before it took lists: the tool contract compares against these.
    void splitsCommandLines_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("words");
        addRow("blanks", "genrsa  -out x\t512", QStringList{"genrsa", "-out", "x", "512"});
        addRow("quoted path", R"(genrsa -out "/e f/a b.key" 512)",
               QStringList{"genrsa", "-out", "/e f/a b.key", "512"});
        addRow("quote inside word", R"(-passout file:"/a b/passnew.txt")",
               QStringList{"-passout", "file:/a b/passnew.txt"});
        addRow("empty word", R"(-name "" x)", QStringList{"-name", "", "x"});
        addRow("leading and trailing blanks", "  req  ", QStringList{"req"});
        addRow("unclosed quote", "-name \"My Site", QStringList{"-name", "My Site"});
        addRow("adjacent quoted parts", R"("a b""c d")", QStringList{"a bc d"});
        addRow("backslash is literal", R"(-in "C:\dir\x.pfx")",
               QStringList{"-in", R"(C:\dir\x.pfx)"});
        addRow("empty", "", QStringList{});
    }
    void splitsCommandLines() {
        QFETCH(QString, commandLine);
        QFETCH(QStringList, words);
        QCOMPARE(splitCommandLine(commandLine), words);
    }

    void eventsRunOnGuiThreadAroundTheRun() {
        TExternalApp runner;
        QStringList seen;
        const auto record = [&](const char* what, TExternalApp* sender) {
            QCOMPARE(sender, &runner);
            QCOMPARE(QThread::currentThread(), qApp->thread());
            seen << QStringLiteral("%1 running=%2").arg(what).arg(runner.Running());
        };
        connect(&runner, &TExternalApp::OnProcessStarted, this,
                [&](TExternalApp* sender) { record("started", sender); });
        connect(&runner, &TExternalApp::OnProcessStopped, this,
                [&](TExternalApp* sender) { record("stopped", sender); });
        QVERIFY(!runner.Running());
        runner.ModuleName = QStringLiteral("/bin/true");
        runner.Arguments = {QStringLiteral("true")};
        runner.StartProcess();
        QCOMPARE(runner.WaitForProcess(), 0);
        QCOMPARE(seen, QStringList({"started running=1", "stopped running=0"}));
        QVERIFY(!runner.Running());
    }

    // The child gets argv[0] from the command line, starts in CurrentDirectory with end-of-file
    // on its input, and has no descriptor of this program but its three streams.
    void childGetsCommandLineDirectoryAndOnlyItsStreams() {
        QTemporaryDir root;
        const QString directory = root.path() + QStringLiteral("/dir with blanks/");
        QVERIFY(QDir().mkpath(directory));
        TExternalApp runner;
        runner.CurrentDirectory = directory;
        run(runner, kShell,
            R"(my-name -c "echo $0 > 'name'; pwd > 'dir'; cat > 'input'; ls /proc/self/fd > 'fds'")");
        QCOMPARE(fileContent(directory + "name"), QByteArray("my-name\n"));
        QCOMPARE(fileContent(directory + "dir"), (root.path() + "/dir with blanks\n").toUtf8());
        QVERIFY(FileIsPresent(directory + "input"));
        QCOMPARE(fileContent(directory + "input"), QByteArray());
        // ls opens the listed folder itself as descriptor 3.
        QCOMPARE(fileContent(directory + "fds"), QByteArray("0\n1\n2\n3\n"));
    }

    void currentDirectoryDefaultsToProgramFolder() {
        TempProgramFolder program(false);
        TExternalApp runner;
        QCOMPARE(runner.CurrentDirectory, program.path());
        run(runner, kShell, R"(sh -c "pwd > here")");
        QCOMPARE(fileContent(program.file("here")),
                 (program.path().chopped(1) + QStringLiteral("\n")).toUtf8());
    }

    void childThatCannotStartReturnsPromptlyWithoutEvents_data() {
        QTest::addColumn<bool>("withTool");
        QTest::addColumn<bool>("withDirectory");
        addRow("missing tool", false, true);
        addRow("missing working directory", true, false);
    }
    void childThatCannotStartReturnsPromptlyWithoutEvents() {
        QFETCH(bool, withTool);
        QFETCH(bool, withDirectory);
        TempProgramFolder program(withTool);
        TempFolder exportFolder;
        TExternalApp runner;
        if (!withDirectory)
            runner.CurrentDirectory = exportFolder.file(QStringLiteral("missing/"));
        QSignalSpy started(&runner, &TExternalApp::OnProcessStarted);
        QSignalSpy stopped(&runner, &TExternalApp::OnProcessStopped);
        QElapsedTimer timer;
        timer.start();
        run(runner, program.file(QStringLiteral("openssl")),
            QStringLiteral(R"(genrsa -out "%1x.key" 512)").arg(exportFolder.path()));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(started.count(), 0);
        QCOMPARE(stopped.count(), 0);
        QVERIFY(!runner.Running());
        QVERIFY(!FileIsPresent(exportFolder.file(QStringLiteral("x.key"))));
    }

    void startWhileRunDoesNothing() {
        TempFolder folder;
        TExternalApp runner;
        runner.CurrentDirectory = folder.path();
        runner.ModuleName = kShell;
        runner.Arguments = {"sh", "-c", "echo run >> count; sleep 0.3"};
        QSignalSpy started(&runner, &TExternalApp::OnProcessStarted);
        runner.StartProcess();
        runner.StartProcess(); // before the start step
        QTRY_VERIFY(runner.Running());
        runner.StartProcess(); // while Running
        runner.WaitForProcess();
        QCOMPARE(started.count(), 1);
        QCOMPARE(fileContent(folder.file(QStringLiteral("count"))), QByteArray("run\n"));
    }

    void runnerServesAnotherRunAfterTheFirst() {
        TempFolder folder;
        TExternalApp runner;
        runner.CurrentDirectory = folder.path();
        QSignalSpy stopped(&runner, &TExternalApp::OnProcessStopped);
        run(runner, kShell, QStringLiteral(R"(sh -c "echo one >> runs")"));
        run(runner, kShell, QStringLiteral(R"(sh -c "echo two >> runs")"));
        QCOMPARE(stopped.count(), 2);
        QCOMPARE(fileContent(folder.file(QStringLiteral("runs"))), QByteArray("one\ntwo\n"));
    }

    void destroyingWhileChildRunsStopsWatchingButLeavesChild() {
        auto* runner = new TExternalApp;
        int stops = 0;
        connect(runner, &TExternalApp::OnProcessStopped, this, [&] { ++stops; });
        runner->ModuleName = kSleep;
        runner->Arguments = {"sleep", "5"};
        runner->StartProcess();
        QTRY_VERIFY(runner->Running());
        const pid_t child = runner->childProcessIdForTesting();
        QVERIFY(child > 0);
        QElapsedTimer timer;
        timer.start();
        delete runner;
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(stops, 1);
        QVERIFY(processIsAlive(child));
        ::kill(child, SIGKILL);
        QCOMPARE(::waitpid(child, nullptr, 0), child);
    }

    void chattyChildDoesNotBlock() {
        TempFolder folder;
        TExternalApp runner;
        runner.CurrentDirectory = folder.path();
        runner.setTimeLimitForTesting(30000);
        QElapsedTimer timer;
        timer.start();
        run(runner, kShell,
            QStringLiteral("sh -c \"head -c 6000000 /dev/zero; head -c 6000000 /dev/zero >&2; "
                           "echo done > finished\""));
        QCOMPARE(fileContent(folder.file(QStringLiteral("finished"))), QByteArray("done\n"));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }

    void outputReachesStderrOnlyWhenShown_data() { addBoolRows("shown", "hidden", "shown"); }
    void outputReachesStderrOnlyWhenShown() {
        QFETCH(bool, shown);
        TExternalApp runner;
        runner.ShowAppWindow = shown;
        StandardErrorCapture capture;
        run(runner, kShell, QStringLiteral(R"(sh -c "echo out-marker-1; echo err-marker-2 >&2")"));
        const QString text = capture.text();
        QCOMPARE(text.contains("out-marker-1"), shown);
        QCOMPARE(text.contains("err-marker-2"), shown);
    }

    // Copying the output into a standard error whose reader has gone must not end the
    // program.
    void shownRunSurvivesAClosedStandardError() {
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        std::fflush(stderr);
        const int saved = ::dup(STDERR_FILENO);
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
        ::close(ends[0]);
        TExternalApp runner;
        runner.ShowAppWindow = true;
        QSignalSpy stopped(&runner, &TExternalApp::OnProcessStopped);
        run(runner, kShell, QStringLiteral(R"(sh -c "echo lost output >&2")"));
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        QCOMPARE(stopped.count(), 1);
    }

    // A shown run copies the output into a standard error that nobody reads without waiting:
    // what does not fit is left out, which is said once, as soon as there is room.
    void fullStandardErrorDoesNotHoldUpTheRun() {
        int ends[2];
        QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
        QCOMPARE(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
        std::fflush(stderr);
        const int saved = ::dup(STDERR_FILENO);
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
        TExternalApp runner;
        runner.ShowAppWindow = true;
        runner.setTimeLimitForTesting(20000);
        QElapsedTimer timer;
        timer.start();
        // What each run left in the pipe: the second and the fourth run find room again.
        QByteArrayList taken;
        for (const char* command : {"head -c 1000000 /dev/zero", "echo second run",
                                    "head -c 1000000 /dev/zero", "echo fourth run"}) {
            run(runner, kShell, QStringLiteral("sh -c \"%1\"").arg(command));
            taken << QByteArray();
            char buffer[65536];
            for (ssize_t count; (count = ::read(ends[0], buffer, sizeof buffer)) > 0;)
                taken.last().append(buffer, count);
        }
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        ::close(ends[0]);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(runner.End(), RunEnd::Exited);
        QVERIFY(!taken[0].isEmpty() && taken[0].size() < 1000000);
        QCOMPARE(taken[0].count('\0'), taken[0].size());
        const QByteArray notice = "standard error took in only part of the openssl output";
        QVERIFY2(taken[1].startsWith("second run\n") && taken[1].count(notice) == 1,
                 taken[1].data());
        QCOMPARE(taken[3], QByteArray("fourth run\n"));
    }

    // Whatever the tool starts ends with the run: when the tool ends by itself, at the time
    // limit, and when the program ends the runs in progress, also on its way out.
    void runEndsItsProcessGroup_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("shown");
        addRow("tool ends by itself", "itself", false);
        addRow("time limit", "limit", false);
        addRow("time limit of a shown run", "limit", true);
        addRow("runs ended", "ended", false);
        addRow("runs ended at the exit", "exit", false);
    }
    void runEndsItsProcessGroup() {
        QFETCH(QString, ending);
        QFETCH(bool, shown);
        TempFolder folder;
        TExternalApp runner;
        runner.CurrentDirectory = folder.path();
        runner.ShowAppWindow = shown;
        runner.setTimeLimitForTesting(ending == "limit" ? 500 : 20000);
        pid_t group = -1;
        connect(&runner, &TExternalApp::OnProcessStarted, this, [&] {
            group = ::getpgid(runner.childProcessIdForTesting());
            if (ending == "ended")
                QTimer::singleShot(300, this, &TExternalApp::EndRunsInProgress);
            else if (ending == "exit")
                QTimer::singleShot(300, this, &TExternalApp::EndRunsAtExit);
        });
        QElapsedTimer timer;
        timer.start();
        run(runner, kShell,
            QStringLiteral(R"(sh -c "sleep 60 & echo $! > background%1")")
                .arg(ending == "itself" ? "" : "; wait"));
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(group, runner.childProcessIdForTesting());
        const qint64 background = idIn(folder.file(QStringLiteral("background")));
        QVERIFY(background > 0);
        QTRY_VERIFY(!processIsAlive(background));
    }

    // A hidden run has no terminal to ask on; a shown one shares this program's.
    void hiddenRunLeavesTheTerminal_data() { outputReachesStderrOnlyWhenShown_data(); }
    void hiddenRunLeavesTheTerminal() {
        QFETCH(bool, shown);
        TExternalApp runner;
        runner.ShowAppWindow = shown;
        runner.ModuleName = kSleep;
        runner.Arguments = {"sleep", "0.3"};
        runner.StartProcess();
        QTRY_VERIFY(runner.Running());
        const pid_t child = runner.childProcessIdForTesting();
        QCOMPARE(::getsid(child), shown ? ::getsid(0) : child);
        runner.WaitForProcess();
    }

    void timeLimitKillsChild() {
        TExternalApp runner;
        runner.setTimeLimitForTesting(300);
        QSignalSpy stopped(&runner, &TExternalApp::OnProcessStopped);
        pid_t child = -1;
        connect(&runner, &TExternalApp::OnProcessStarted, this,
                [&] { child = runner.childProcessIdForTesting(); });
        QElapsedTimer timer;
        timer.start();
        run(runner, kSleep, QStringLiteral("sleep 30"));
        QVERIFY2(timer.elapsed() >= 300 && timer.elapsed() < 5000,
                 qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(runner.ExitCode(), -1);
        QCOMPARE(runner.End(), RunEnd::TimeLimit);
        QVERIFY(child > 0);
        // Killed and reaped: the process id no longer exists.
        QCOMPARE(::kill(child, 0), -1);
        QCOMPARE(errno, ESRCH);
    }

    // A run keeps the end of what the child wrote on both streams, its exit code, and why it
    // could not start.
    void keepsTheEndOfTheOutputAndTheExitCode_data() {
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("startError");
        QTest::addColumn<RunEnd>("end");
        QTest::addColumn<int>("endSignal");
        addRow("both streams and an exit code", kShell,
               R"(sh -c "echo out-1; echo err-2 >&2; exit 3")", QStringList{"out-1\n", "err-2\n"},
               QString(), 3, QString(), RunEnd::Exited, 0);
        addRow("more than is kept", kShell,
               R"(sh -c "head -c 300000 /dev/zero | tr '\0' x; echo last-line")", QStringList{},
               "last-line", 0, QString(), RunEnd::Exited, 0);
        addRow("ended by a signal", kShell, R"(sh -c "echo said; kill -SEGV $$")",
               QStringList{"said\n"}, QString(), -1, QString(), RunEnd::Signalled, int(SIGSEGV));
        addRow("cannot start", QStringLiteral("/nonexistent/tool"), "tool", QStringList{},
               QString(), -1, QString::fromLocal8Bit(std::strerror(ENOENT)), RunEnd::NotStarted, 0);
    }
    void keepsTheEndOfTheOutputAndTheExitCode() {
        QFETCH(QString, module);
        QFETCH(QString, commandLine);
        QFETCH(QStringList, said);
        QFETCH(QString, lastLine);
        QFETCH(int, exitCode);
        QFETCH(QString, startError);
        QFETCH(RunEnd, end);
        QFETCH(int, endSignal);
        TExternalApp runner;
        run(runner, module, commandLine);
        const QByteArray output = runner.Output();
        for (const QString& text : said)
            QVERIFY2(output.contains(text.toUtf8()), output.constData());
        if (!lastLine.isEmpty()) {
            QCOMPARE(output.size(), TExternalApp::kKeptOutputBytes);
            QVERIFY(output.endsWith("x" + lastLine.toUtf8() + "\n"));
        }
        if (said.isEmpty() && lastLine.isEmpty())
            QCOMPARE(output, QByteArray());
        QCOMPARE(runner.ExitCode(), exitCode);
        QCOMPARE(runner.StartError(), startError);
        QCOMPARE(runner.End(), end);
        QCOMPARE(runner.EndSignal(), endSignal);
    }

    // A termination signal during a run ends the child, politely first, and the wait returns
    // at once; a child that ignores SIGTERM is killed after the grace time.
    void terminationSignalEndsTheRunInProgress_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<int>("shortest");
        addRow("child that obeys", "sh -c \"exec sleep 60\"", 0);
        addRow("child that ignores SIGTERM", "sh -c \"trap '' TERM; exec sleep 60\"",
               kShortGraceMs);
    }
    void terminationSignalEndsTheRunInProgress() {
        QFETCH(QString, commandLine);
        QFETCH(int, shortest);
        TExternalApp::setEndGraceForTesting(kShortGraceMs);
        const auto restoreGrace =
            qScopeGuard([] { TExternalApp::setEndGraceForTesting(TExternalApp::kEndGraceMs); });
        TerminationSignals termination;
        // As the program does, the runs in progress end on the termination.
        connect(&termination, &TerminationSignals::terminationRequested,
                &TExternalApp::EndRunsInProgress);
        TExternalApp runner;
        pid_t child = -1;
        QTimer signalSender;
        signalSender.setSingleShot(true);
        connect(&signalSender, &QTimer::timeout, this, [] { ::raise(SIGTERM); });
        const QMetaObject::Connection started =
            connect(&runner, &TExternalApp::OnProcessStarted, this, [&] {
                child = runner.childProcessIdForTesting();
                // The trap must be in place before the signal comes.
                signalSender.start(300);
            });
        QElapsedTimer timer;
        timer.start();
        run(runner, kShell, commandLine);
        const qint64 elapsed = timer.elapsed();
        QVERIFY(termination.arrived());
        QVERIFY2(elapsed >= shortest && elapsed < shortest + 3000,
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(runner.End(), RunEnd::Stopped);
        QCOMPARE(runner.ExitCode(), -1);
        QVERIFY(child > 0);
        QCOMPARE(::kill(child, 0), -1);
        QCOMPARE(errno, ESRCH);

        // Only the runs in progress end: the next run goes its way.
        disconnect(started);
        run(runner, kShell, R"(sh -c "exit 4")");
        QCOMPARE(runner.End(), RunEnd::Exited);
        QCOMPARE(runner.ExitCode(), 4);
    }

    void pipeFailureIsReportedToTheCaller() {
        rlimit original{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &original), 0);
        rlimit low = original;
        low.rlim_cur = 256;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> fillers;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            fillers.push_back(fd);
        QString message;
        TExternalApp runner;
        runner.ModuleName = QStringLiteral("/bin/true");
        runner.Arguments = {QStringLiteral("true")};
        try {
            runner.StartProcess();
        } catch (const PageError& error) {
            message = error.message();
        }
        for (const int fd : fillers)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &original);
        QCOMPARE(message, QString::fromLocal8Bit(std::strerror(EMFILE)));
        QVERIFY(!runner.Running());
        // The failure left nothing behind: the same runner runs normally afterwards.
        QSignalSpy stopped(&runner, &TExternalApp::OnProcessStopped);
        runner.StartProcess();
        runner.WaitForProcess();
        QCOMPARE(stopped.count(), 1);
    }

    void waitKeepsPaintingUnderABusyCursor() {
        showBusyCursorDuringRuns();
        PaintCounter window;
        window.resize(200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TExternalApp runner;
        int paintsBefore = -1;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        QTimer::singleShot(100, this, [&] {
            paintsBefore = window.paints;
            if (const QCursor* shown = QGuiApplication::overrideCursor())
                cursor = shown->shape();
            window.update();
        });
        int paintsAtStop = -1;
        connect(&runner, &TExternalApp::OnProcessStopped, this,
                [&] { paintsAtStop = window.paints; });
        run(runner, kSleep, QStringLiteral("sleep 0.5"));
        QVERIFY(paintsBefore >= 0);
        QVERIFY(paintsAtStop > paintsBefore);
        QCOMPARE(cursor, Qt::WaitCursor);
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void waitCalledAgainDuringTheWait() {
        TExternalApp runner;
        QSignalSpy stopped(&runner, &TExternalApp::OnProcessStopped);
        int innerResult = -1;
        QTimer::singleShot(50, this, [&] { innerResult = runner.WaitForProcess(); });
        run(runner, kSleep, QStringLiteral("sleep 0.3"));
        QCOMPARE(innerResult, 0);
        QCOMPARE(stopped.count(), 1);
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    // The wait sleeps until something happens instead of polling in slices.
    void waitUsesNoProcessorTime() {
        TExternalApp runner;
        const auto processorMs = [] {
            rusage usage{};
            ::getrusage(RUSAGE_SELF, &usage);
            return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
                   (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
        };
        const long before = processorMs();
        run(runner, kSleep, QStringLiteral("sleep 0.5"));
        QVERIFY2(processorMs() - before < 100, qPrintable(QString::number(processorMs() - before)));
    }

    void waitOffTheGuiThreadWaitsForTheWorker() {
        TExternalApp runner;
        QSignalSpy stopped(&runner, &TExternalApp::OnProcessStopped);
        runner.ModuleName = kSleep;
        runner.Arguments = {"sleep", "0.2"};
        runner.StartProcess();
        std::atomic<bool> done{false};
        int result = -1;
        std::thread waiter([&] {
            result = runner.WaitForProcess();
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
        waiter.join();
        QCOMPARE(result, 0);
        QCOMPARE(stopped.count(), 1);
        QVERIFY(!runner.Running());
    }
};

QTEST_MAIN(TestRunner)
#include "tst_runner.moc"
