#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <sys/types.h>
#include <vector>

class QSocketNotifier;
class QTimer;
class QThread;

// How a run ended.
enum class RunEnd {
    NotStarted, // the child could not be started
    Exited,     // the child ended by itself; its exit code tells how
    Signalled,  // a signal from elsewhere ended the child
    TimeLimit,  // the run lasted longer than its time limit, and the child was killed
    Stopped     // the runner ended the run: the program is closing, or the runner went away
};

// Runs one external program as a child process with its three standard streams on pipes.
// One runner serves one run: StartProcess, then WaitForProcess at once, then delete.
// The child is started on the calling thread and watched by that thread's event loop (or, on a
// thread without one, by the wait itself), with no thread of its own: under a full processor
// every hand-over between threads costs a wait for a time slice.
class TExternalApp : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ModuleName MEMBER ModuleName)
    Q_PROPERTY(QStringList Arguments MEMBER Arguments)
    Q_PROPERTY(bool ShowAppWindow MEMBER ShowAppWindow)
    Q_PROPERTY(QString CurrentDirectory MEMBER CurrentDirectory)

  public:
    // A run that lasts longer than this is killed and judged by its output like any other.
    static constexpr int kTimeLimitMs = 120000;
    // How much of the child's output a run keeps: the end of it, where tools say what failed.
    static constexpr int kKeptOutputBytes = 64 * 1024;
    // How long a child that is asked to end (SIGTERM) has before it is killed (SIGKILL).
    static constexpr int kEndGraceMs = 2000;

    // Ends the child of every run in progress, in every runner: SIGTERM, then SIGKILL after
    // the grace time (kEndGraceMs). Each of those runs then ends as Stopped and its wait returns.
    // For the program's own ending, when a hung tool must not hold it up.
    static void EndRunsInProgress();
    // The same for an exit() that cannot wait for the runs' own ending (Qt ends the program so
    // when the display connection breaks): the process group of every run in progress gets
    // SIGTERM, then SIGKILL once the children have ended or the grace time has passed. For an
    // atexit handler.
    static void EndRunsAtExit() noexcept;

    explicit TExternalApp(QObject* owner = nullptr);
    ~TExternalApp() override;

    QString ModuleName;
    // The child's argument vector, argv[0] first, each element handed over as it is; empty:
    // argv[0] is the module's name and there are no other arguments.
    QStringList Arguments;
    bool ShowAppWindow = false;
    QString CurrentDirectory;
    // Entries ("NAME=value") that the child's environment has over this program's own.
    QStringList Environment;
    // Called with each piece of the child's output as it is read, on the thread that watches
    // the run, for a caller that follows the run while it lasts.
    std::function<void(const QByteArray& piece)> OutputHook;

    bool Running() const { return running; }

    // Begins the run and returns without waiting; does nothing while a run is under way.
    void StartProcess();

    // Ends this run, from any thread, as EndRunsInProgress ends every run; does nothing when
    // no run is under way.
    void EndRun();

    // A run that lasts longer than this is killed (kTimeLimitMs unless set); for tools that
    // wait on a network peer.
    void setTimeLimit(int milliseconds) { timeLimitMs = milliseconds; }

    // Waits for the run to end. On the thread that started it, its event loop keeps running
    // without the user's input (the window keeps painting) and on the GUI thread the wait hook
    // is told; another thread just sleeps until the end. Always returns 0.
    int WaitForProcess();

    // Called on the GUI thread with true when a wait for a run begins there and with false
    // when it ends, for the windows to show that they are busy. Set once at start-up.
    static void setGuiWaitHook(std::function<void(bool waiting)> hook);

    // The last kKeptOutputBytes of what the child wrote to its standard output and error,
    // together in the order in which they were read; valid once the run has been waited for.
    QByteArray Output() const { return output; }
    // The child's exit code, or -1 when it did not end by itself (it could not be started, was
    // killed, or the watch was stopped); valid once the run has been waited for.
    int ExitCode() const { return exitCode; }
    // How the run ended; valid once the run has been waited for.
    RunEnd End() const { return end; }
    // The signal that ended the child (Signalled), else 0; valid once the run has been waited for.
    int EndSignal() const { return endSignal; }
    // The system's reason why the child could not be started; empty when it started.
    QString StartError() const { return startError; }

    // Test hook: a run longer than this is killed (default kTimeLimitMs).
    void setTimeLimitForTesting(int milliseconds) { timeLimitMs = milliseconds; }
    // Test hook: the time limit of the runners made from now on (kTimeLimitMs unless set).
    static void setDefaultTimeLimitForTesting(int milliseconds);

    // Test hook: the grace time of the ends from now on (kEndGraceMs unless set).
    static void setEndGraceForTesting(int milliseconds);

    // Test hook: the process id of the child from the start step on (-1 before).
    pid_t childProcessIdForTesting() const { return childPid; }

  signals:
    void OnProcessStarted(TExternalApp* sender);
    void OnProcessStopped(TExternalApp* sender);

  private:
    bool spawnChild();
    void closeChildEnds();
    void watchInEventLoop();
    void waitWithoutEventLoop();
    void advance();
    int nextWakeMs() const;
    void drain(int& fd);
    void keepOutput(const char* data, ssize_t size);
    void noteEnd(int waitStatus);
    int reapChild();
    void finish();
    void closeDescriptors();

    std::atomic<bool> running{false};
    int timeLimitMs = kTimeLimitMs;

    // What the run works with, fixed when it begins, so that changes to the public fields
    // during the run do not reach it.
    QByteArray program;
    QList<QByteArray> arguments;
    QList<QByteArray> environment;
    QByteArray directory;
    bool copyOutput = false;
    int runTimeLimitMs = kTimeLimitMs;

    // What the run found out; read once it has ended.
    QByteArray output;
    int exitCode = -1;
    RunEnd end = RunEnd::NotStarted;
    int endSignal = 0;
    QString startError;

    // The watch: the thread whose event loop watches (nullptr when the wait does), its
    // notifiers and its timer, the end of the time limit, and the end of the grace time once
    // the run was asked to end.
    QThread* watcher = nullptr;
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
    std::unique_ptr<QTimer> wakeTimer;
    QDeadlineTimer deadline;
    QDeadlineTimer graceEnd;
    bool ending = false;

    pid_t childPid = -1;
    int pidFd = -1;    // readable once the child has ended; -1 where the system has none
    int endEvent = -1; // written by EndRunsInProgress to make the run end its child
    int stdoutRead = -1;
    int stderrRead = -1;
    int childStdin = -1;
    int childStdout = -1;
    int childStderr = -1;
    int errorCopy = -1; // standard error for a shown run's output; never blocks
};
