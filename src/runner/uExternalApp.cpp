#include "uExternalApp.h"

#include "uCertwrightCommon.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The runners whose run is in progress, for EndRunsInProgress, and the process groups of the
// children that have not been reaped yet, for EndRunsAtExit. A child is reaped only after its
// group has left this list, under the lock, so that no process id in it can have been taken by
// another process in the meantime.
struct LiveRunners {
    std::mutex mutex;
    std::vector<TExternalApp*> runners;
    std::vector<pid_t> groups;
};

// Never destroyed: the handlers of the program's exit use it after static objects are gone.
LiveRunners& liveRunners() {
    static LiveRunners* live = new LiveRunners;
    return *live;
}

void forgetGroup(pid_t group) {
    LiveRunners& live = liveRunners();
    const std::lock_guard<std::mutex> lock(live.mutex);
    live.groups.erase(std::remove(live.groups.begin(), live.groups.end(), group),
                      live.groups.end());
}

// True once the child has ended; it stays unreaped (a zombie), and its id stays taken.
bool hasEnded(pid_t child) {
    siginfo_t info{};
    return ::waitid(P_PID, id_t(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == child;
}

// Said once on standard error when a shown run's output did not all fit into it.
const char kDroppedOutputNotice[] =
    "certwright: standard error took in only part of the openssl output; the rest was left "
    "out.\n";
enum class DropNotice { NotNeeded, Pending, Given };
std::atomic<DropNotice> dropNotice{DropNotice::NotNeeded};

// A descriptor of standard error that never makes a writer wait. A pipe or a terminal is
// opened anew without blocking, which gives this program a description of its own and changes
// nothing for others who share the original one; a regular file does not make a writer wait.
// -1 when nothing can be written.
int openStandardErrorCopy() {
    struct stat info {};
    if (::fstat(STDERR_FILENO, &info) != 0)
        return -1;
    if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))
        return ::open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
}

// While it lives, a write into a pipe whose reader has gone fails with an error instead of
// ending the program: the signal is held back for this thread, and taken once it came.
class BrokenPipeHeldBack {
  public:
    BrokenPipeHeldBack() {
        sigemptyset(&brokenPipe);
        sigaddset(&brokenPipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &brokenPipe, &previous);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~BrokenPipeHeldBack() {
        // One that was waiting before is not this write's and stays.
        const timespec now{0, 0};
        if (raised && !alreadyPending)
            sigtimedwait(&brokenPipe, nullptr, &now);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    bool raised = false;

  private:
    sigset_t brokenPipe;
    sigset_t previous;
    bool alreadyPending = false;
};

// Writes what the descriptor takes at once, in pieces that a pipe takes whole once it reports
// room (a socket, say, may still be a blocking one); false when something was left out.
bool writeWithoutWaiting(int fd, const char* data, ssize_t size) {
    BrokenPipeHeldBack heldBack;
    while (size > 0) {
        pollfd room{fd, POLLOUT, 0};
        if (::poll(&room, 1, 0) != 1 || !(room.revents & POLLOUT))
            return false;
        const ssize_t written = ::write(fd, data, size_t(std::min<ssize_t>(size, PIPE_BUF)));
        if (written < 0 && errno == EINTR)
            continue;
        heldBack.raised = written < 0 && errno == EPIPE;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// What the windows do while the GUI thread waits for a run; nothing without windows.
std::function<void(bool)> guiWaitHook;

// The time limit of new runners and the grace time of the ends; only tests change them.
std::atomic<int> defaultTimeLimitMs{TExternalApp::kTimeLimitMs};
std::atomic<int> endGraceMs{TExternalApp::kEndGraceMs};

// Without a pidfd the end of a child that left its pipes to a grandchild is only noticed by
// asking; this is how often the watch then asks.
constexpr int kFallbackSliceMs = 10;

void closeDescriptor(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

[[noreturn]] void throwSystemError(int error) {
    throw PageError(QString::fromLocal8Bit(std::strerror(error)));
}

// A pipe whose two ends are closed on exec; the child gets its end through dup2, which clears
// that flag on the copy only.
void makePipe(int& readEnd, int& writeEnd) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throwSystemError(errno);
    readEnd = ends[0];
    writeEnd = ends[1];
}

void writeAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= written;
    }
}

// This program's environment with the entries given over it.
QList<QByteArray> childEnvironment(const QStringList& over) {
    QList<QByteArray> entries;
    for (char** entry = environ; *entry; ++entry)
        entries << QByteArray(*entry);
    for (const QString& text : over) {
        const QByteArray entry = text.toLocal8Bit();
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        entries.removeIf([&name](const QByteArray& old) { return old.startsWith(name); });
        entries << entry;
    }
    return entries;
}

void signalEvent(int eventFd) {
    const uint64_t request = 1;
    writeAll(eventFd, reinterpret_cast<const char*>(&request), sizeof request);
}

// The calls below are wrapped so that the spawn reads as the list of what the child gets.
struct SpawnActions {
    posix_spawn_file_actions_t actions;
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

} // namespace

TExternalApp::TExternalApp(QObject* owner)
    : QObject(owner), CurrentDirectory(ProgramFolder()), timeLimitMs(defaultTimeLimitMs) {}

void TExternalApp::setGuiWaitHook(std::function<void(bool waiting)> hook) {
    guiWaitHook = std::move(hook);
}

void TExternalApp::setDefaultTimeLimitForTesting(int milliseconds) {
    defaultTimeLimitMs = milliseconds;
}

void TExternalApp::setEndGraceForTesting(int milliseconds) {
    endGraceMs = milliseconds;
}

TExternalApp::~TExternalApp() {
    if (running) {
        // Only the watch ends here; the child is left to finish on its own, and so no longer
        // ended at the exit.
        forgetGroup(childPid);
        end = RunEnd::Stopped;
        closeDescriptors();
        running = false;
        running.notify_all();
        emit OnProcessStopped(this);
    }
    closeDescriptors();
}

void TExternalApp::StartProcess() {
    if (running)
        return;
    closeDescriptors();

    try {
        int stdinWrite = -1;
        makePipe(childStdin, stdinWrite);
        // A tool that asks for input gets end-of-file instead of waiting for ever.
        closeDescriptor(stdinWrite);
        makePipe(stdoutRead, childStdout);
        makePipe(stderrRead, childStderr);
        for (const int fd : {stdoutRead, stderrRead})
            if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0)
                throwSystemError(errno);
        if (ShowAppWindow)
            errorCopy = openStandardErrorCopy();
        endEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (endEvent < 0)
            throwSystemError(errno);
    } catch (...) {
        closeDescriptors();
        throw;
    }

    program = QFile::encodeName(ModuleName);
    arguments.clear();
    for (const QString& word : Arguments)
        arguments << word.toLocal8Bit();
    if (arguments.isEmpty())
        arguments << program;
    environment = childEnvironment(Environment);
    directory = QFile::encodeName(CurrentDirectory);
    copyOutput = ShowAppWindow;
    runTimeLimitMs = timeLimitMs;
    childPid = -1;
    output.clear();
    exitCode = -1;
    end = RunEnd::NotStarted;
    endSignal = 0;
    startError.clear();
    ending = false;

    const bool spawned = spawnChild();
    closeChildEnds();
    if (!spawned) {
        closeDescriptors();
        return;
    }
    deadline = QDeadlineTimer(runTimeLimitMs);
    // A pidfd turns the child's end into an event that the watch sees at once.
    pidFd = int(::syscall(SYS_pidfd_open, childPid, 0));
    {
        LiveRunners& live = liveRunners();
        const std::lock_guard<std::mutex> lock(live.mutex);
        live.runners.push_back(this);
    }
    running = true;
    if (QCoreApplication::instance() && QAbstractEventDispatcher::instance())
        watchInEventLoop();
    emit OnProcessStarted(this);
}

void TExternalApp::EndRunsInProgress() {
    LiveRunners& live = liveRunners();
    const std::lock_guard<std::mutex> lock(live.mutex);
    for (TExternalApp* runner : live.runners)
        signalEvent(runner->endEvent);
}

void TExternalApp::EndRun() {
    LiveRunners& live = liveRunners();
    const std::lock_guard<std::mutex> lock(live.mutex);
    if (std::find(live.runners.begin(), live.runners.end(), this) != live.runners.end())
        signalEvent(endEvent);
}

void TExternalApp::EndRunsAtExit() noexcept {
    LiveRunners& live = liveRunners();
    // Held to the end: no run reaps a child of the list meanwhile.
    const std::lock_guard<std::mutex> lock(live.mutex);
    for (const pid_t group : live.groups)
        ::kill(-group, SIGTERM);
    const QDeadlineTimer grace(endGraceMs);
    for (const pid_t group : live.groups)
        while (!hasEnded(group) && !grace.hasExpired())
            ::poll(nullptr, 0, kFallbackSliceMs);
    for (const pid_t group : live.groups)
        ::kill(-group, SIGKILL);
}

int TExternalApp::WaitForProcess() {
    if (!running)
        return 0;
    if (!watcher) {
        waitWithoutEventLoop();
        return 0;
    }
    if (QThread::currentThread() != watcher) {
        // The watching thread's event loop ends the run.
        running.wait(true);
        return 0;
    }
    // The window keeps painting, but the user's input waits until the run is over. An event
    // handler run here may wait for this run itself; its wait ends at the same moment.
    QCoreApplication* app = QCoreApplication::instance();
    const std::function<void(bool)> hook =
        app && watcher == app->thread() ? guiWaitHook : std::function<void(bool)>();
    if (hook)
        hook(true);
    while (running)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::WaitForMoreEvents);
    if (hook)
        hook(false);
    return 0;
}

// Every descriptor that can tell of a change, and a timer for the next limit, call advance()
// from the calling thread's event loop, also while nobody waits for the run.
void TExternalApp::watchInEventLoop() {
    watcher = QThread::currentThread();
    for (const int fd : {endEvent, pidFd, stdoutRead, stderrRead}) {
        if (fd < 0)
            continue;
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        connect(notifier, &QSocketNotifier::activated, notifier, [this] { advance(); });
        notifiers.emplace_back(notifier);
    }
    wakeTimer = std::make_unique<QTimer>();
    wakeTimer->setSingleShot(true);
    wakeTimer->setTimerType(Qt::PreciseTimer);
    connect(wakeTimer.get(), &QTimer::timeout, wakeTimer.get(), [this] { advance(); });
    wakeTimer->start(nextWakeMs());
}

void TExternalApp::waitWithoutEventLoop() {
    while (running) {
        std::vector<pollfd> watched;
        for (const int fd : {endEvent, pidFd, stdoutRead, stderrRead})
            if (fd >= 0)
                watched.push_back({fd, POLLIN, 0});
        if (::poll(watched.data(), watched.size(), nextWakeMs()) < 0 && errno != EINTR)
            break;
        advance();
    }
}

// Looks at the run after anything may have changed: takes the output, begins the end that was
// asked for, and ends the run once the child has ended or a limit has passed.
void TExternalApp::advance() {
    if (!running)
        return;
    uint64_t endRequests = 0;
    if (!ending && ::read(endEvent, &endRequests, sizeof endRequests) == sizeof endRequests) {
        ending = true;
        ::kill(-childPid, SIGTERM);
        graceEnd = QDeadlineTimer(endGraceMs);
    }
    drain(stdoutRead);
    drain(stderrRead);
    if (hasEnded(childPid)) {
        const int waitStatus = reapChild();
        if (ending)
            end = RunEnd::Stopped;
        else
            noteEnd(waitStatus);
    } else if (ending && graceEnd.hasExpired()) {
        reapChild();
        end = RunEnd::Stopped;
    } else if (deadline.hasExpired()) {
        reapChild();
        end = RunEnd::TimeLimit;
    } else {
        if (wakeTimer)
            wakeTimer->start(nextWakeMs());
        return;
    }
    // What the child wrote just before it ended is still in the pipes.
    drain(stdoutRead);
    drain(stderrRead);
    finish();
}

int TExternalApp::nextWakeMs() const {
    qint64 wake = deadline.remainingTime();
    if (ending)
        wake = std::min(wake, graceEnd.remainingTime());
    if (pidFd < 0)
        wake = std::min<qint64>(wake, kFallbackSliceMs);
    return int(std::clamp<qint64>(wake, 0, INT_MAX));
}

void TExternalApp::finish() {
    if (copyOutput && dropNotice == DropNotice::Pending &&
        writeWithoutWaiting(errorCopy, kDroppedOutputNotice, sizeof kDroppedOutputNotice - 1))
        dropNotice = DropNotice::Given;
    closeDescriptors();
    running = false;
    running.notify_all();
    emit OnProcessStopped(this);
}

void TExternalApp::closeDescriptors() {
    {
        LiveRunners& live = liveRunners();
        const std::lock_guard<std::mutex> lock(live.mutex);
        live.runners.erase(std::remove(live.runners.begin(), live.runners.end(), this),
                           live.runners.end());
        closeDescriptor(endEvent);
    }
    // The notifiers go before the descriptors they watch.
    notifiers.clear();
    wakeTimer.reset();
    watcher = nullptr;
    closeDescriptor(pidFd);
    closeDescriptor(stdoutRead);
    closeDescriptor(stderrRead);
    closeDescriptor(errorCopy);
    closeChildEnds();
}

void TExternalApp::closeChildEnds() {
    closeDescriptor(childStdin);
    closeDescriptor(childStdout);
    closeDescriptor(childStderr);
}

bool TExternalApp::spawnChild() {
    std::vector<char*> argv;
    for (QByteArray& word : arguments)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    SpawnActions spawn;
    posix_spawn_file_actions_adddup2(&spawn.actions, childStdin, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions, childStdout, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&spawn.actions, childStderr, STDERR_FILENO);
    // Whatever else is open in this process, also without close-on-exec, stays here.
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, STDERR_FILENO + 1);
    if (!directory.isEmpty())
        posix_spawn_file_actions_addchdir_np(&spawn.actions, directory.constData());

    // The child starts with default signal handling and nothing blocked, whatever this
    // program has set up for itself.
    SpawnAttributes attributes;
    sigset_t nothingBlocked;
    sigemptyset(&nothingBlocked);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes.attributes, &nothingBlocked);
    posix_spawnattr_setsigdefault(&attributes.attributes, &defaults);
    // Every run has a process group of its own, so that whatever the tool starts ends with
    // it. A hidden run also has no terminal: a tool that would ask there for a pass phrase
    // fails at once instead of waiting for an answer nobody can see. A shown run stays in the
    // terminal's session, where the user sees the tool's output.
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    flags |= copyOutput ? POSIX_SPAWN_SETPGROUP : POSIX_SPAWN_SETSID;
    posix_spawnattr_setpgroup(&attributes.attributes, 0);
    posix_spawnattr_setflags(&attributes.attributes, flags);

    LiveRunners& live = liveRunners();
    const std::lock_guard<std::mutex> lock(live.mutex);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.constData(), &spawn.actions, &attributes.attributes,
                                  argv.data(), envp.data());
    if (error != 0) {
        startError = QString::fromLocal8Bit(std::strerror(error));
        return false;
    }
    childPid = pid;
    live.groups.push_back(pid);
    return true;
}

// Ends whatever is left of the run's process group and reaps the child, which was the
// group's first member.
int TExternalApp::reapChild() {
    forgetGroup(childPid);
    ::kill(-childPid, SIGKILL);
    int waitStatus = 0;
    while (::waitpid(childPid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    return waitStatus;
}

// Reads what the pipe holds now and keeps the end of it; the output also goes to this
// program's standard error when the run is shown. A pipe that has ended is closed.
void TExternalApp::drain(int& fd) {
    char buffer[65536];
    while (fd >= 0) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0) {
            keepOutput(buffer, count);
            // A standard error that nobody reads must not hold up the run.
            if (copyOutput && !writeWithoutWaiting(errorCopy, buffer, count) &&
                dropNotice == DropNotice::NotNeeded)
                dropNotice = DropNotice::Pending;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // An ended pipe stays readable: its notifier goes with it.
        notifiers.erase(
            std::remove_if(notifiers.begin(), notifiers.end(),
                           [&](const auto& notifier) { return notifier->socket() == fd; }),
            notifiers.end());
        closeDescriptor(fd);
    }
}

void TExternalApp::keepOutput(const char* data, ssize_t size) {
    if (OutputHook)
        OutputHook(QByteArray(data, qsizetype(size)));
    output.append(data, qsizetype(size));
    if (output.size() > kKeptOutputBytes)
        output.remove(0, output.size() - kKeptOutputBytes);
}

void TExternalApp::noteEnd(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        end = RunEnd::Exited;
        exitCode = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        end = RunEnd::Signalled;
        endSignal = WTERMSIG(waitStatus);
    }
}
