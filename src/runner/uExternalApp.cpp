#include "uExternalApp.h"

#include "uCertwrightCommon.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

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

// Writes what the descriptor takes at once, in pieces that a pipe takes whole once it reports
// room (a socket, say, may still be a blocking one); false when something was left out.
bool writeWithoutWaiting(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        pollfd room{fd, POLLOUT, 0};
        if (::poll(&room, 1, 0) != 1 || !(room.revents & POLLOUT))
            return false;
        const ssize_t written = ::write(fd, data, size_t(std::min<ssize_t>(size, PIPE_BUF)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// What the windows do while the GUI thread waits for a run; nothing without windows.
std::function<void(bool)> guiWaitHook;

// The time limit of new runners; only tests change it.
std::atomic<int> defaultTimeLimitMs{TExternalApp::kTimeLimitMs};

// Without a pidfd the end of a child that left its pipes to a grandchild is only noticed by
// asking; this is how often the worker then asks.
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

TExternalAppThread::TExternalAppThread(TExternalApp* runner) : runner(runner) {}

void TExternalAppThread::run() {
    // Copying the output to a standard error that nobody reads any more must fail with an
    // error here, not end the whole program.
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);

    const bool spawned = runner->spawnChild();
    runner->closeChildEnds();
    if (spawned) {
        runner->runOnGuiThread(&TExternalApp::startStep);
        runner->watchChild();
        runner->runOnGuiThread(&TExternalApp::stopStep);
    }
    runner->finishWorker();
}

TExternalApp::TExternalApp(QObject* owner)
    : QObject(owner), CurrentDirectory(ProgramFolder()), timeLimitMs(defaultTimeLimitMs) {}

void TExternalApp::setGuiWaitHook(std::function<void(bool waiting)> hook) {
    guiWaitHook = std::move(hook);
}

void TExternalApp::setDefaultTimeLimitForTesting(int milliseconds) {
    defaultTimeLimitMs = milliseconds;
}

TExternalApp::~TExternalApp() {
    if (worker) {
        // Only the watch ends here; the child is left to finish on its own.
        signalEvent(stopEvent);
        waitForWorker();
    }
    closeDescriptors();
}

void TExternalApp::StartProcess() {
    if (running || (worker && !workerDone))
        return;
    if (worker)
        waitForWorker();
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
        stopEvent = ::eventfd(0, EFD_CLOEXEC);
        endEvent = ::eventfd(0, EFD_CLOEXEC);
        if (stopEvent < 0 || endEvent < 0)
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
    directory = QFile::encodeName(CurrentDirectory);
    copyOutput = ShowAppWindow;
    runTimeLimitMs = timeLimitMs;
    childPid = -1;
    output.clear();
    exitCode = -1;
    end = RunEnd::NotStarted;
    endSignal = 0;
    startError.clear();

    {
        LiveRunners& live = liveRunners();
        const std::lock_guard<std::mutex> lock(live.mutex);
        live.runners.push_back(this);
    }
    workerDone = false;
    worker = std::make_unique<TExternalAppThread>(this);
    worker->start();
}

void TExternalApp::EndRunsInProgress() {
    LiveRunners& live = liveRunners();
    const std::lock_guard<std::mutex> lock(live.mutex);
    for (TExternalApp* runner : live.runners)
        signalEvent(runner->endEvent);
}

void TExternalApp::EndRunsAtExit() noexcept {
    LiveRunners& live = liveRunners();
    // Held to the end: no worker reaps a child of the list meanwhile.
    const std::lock_guard<std::mutex> lock(live.mutex);
    for (const pid_t group : live.groups)
        ::kill(-group, SIGTERM);
    const QDeadlineTimer grace(kEndGraceMs);
    for (const pid_t group : live.groups)
        while (!hasEnded(group) && !grace.hasExpired())
            ::poll(nullptr, 0, kFallbackSliceMs);
    for (const pid_t group : live.groups)
        ::kill(-group, SIGKILL);
}

int TExternalApp::WaitForProcess() {
    if (worker)
        waitForWorker();
    return 0;
}

void TExternalApp::waitForWorker() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        // The window keeps painting and the worker's steps run here, but the user's input
        // waits until the run is over. The worker posts an event after it has set
        // workerDone, so this wait wakes as soon as the run ends.
        const std::function<void(bool)> hook = guiWaitHook;
        if (hook)
            hook(true);
        while (!workerDone)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                            QEventLoop::WaitForMoreEvents);
        if (hook)
            hook(false);
        // An event handler run by the loop above may have waited for this run itself.
        if (!worker)
            return;
    }
    worker->wait();
    worker.reset();
    closeDescriptors();
}

void TExternalApp::closeDescriptors() {
    {
        LiveRunners& live = liveRunners();
        const std::lock_guard<std::mutex> lock(live.mutex);
        live.runners.erase(std::remove(live.runners.begin(), live.runners.end(), this),
                           live.runners.end());
        closeDescriptor(endEvent);
    }
    closeDescriptor(stopEvent);
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
                                  argv.data(), environ);
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

void TExternalApp::watchChild() {
    // A pidfd turns the child's end into an event that poll() reports at once.
    int pidFd = int(::syscall(SYS_pidfd_open, childPid, 0));
    const QDeadlineTimer deadline(runTimeLimitMs);
    bool stopRequested = false;
    for (;;) {
        std::vector<pollfd> watched{{stopEvent, POLLIN, 0}, {endEvent, POLLIN, 0}};
        if (pidFd >= 0)
            watched.push_back({pidFd, POLLIN, 0});
        for (const int fd : {stdoutRead, stderrRead})
            if (fd >= 0)
                watched.push_back({fd, POLLIN, 0});
        int timeout = int(deadline.remainingTime());
        if (pidFd < 0)
            timeout = std::min(timeout, kFallbackSliceMs);
        if (::poll(watched.data(), watched.size(), timeout) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched.front().revents != 0) {
            // The child is left to finish on its own, and so no longer ended at the exit.
            forgetGroup(childPid);
            end = RunEnd::Stopped;
            stopRequested = true;
            break;
        }
        if (watched.at(1).revents != 0) {
            endChild(pidFd);
            break;
        }
        drain(stdoutRead);
        drain(stderrRead);
        if (hasEnded(childPid)) {
            noteEnd(reapChild());
            break;
        }
        if (deadline.hasExpired()) {
            reapChild();
            end = RunEnd::TimeLimit;
            break;
        }
    }
    // What the child wrote just before it ended is still in the pipes.
    if (!stopRequested) {
        drain(stdoutRead);
        drain(stderrRead);
    }
    closeDescriptor(pidFd);
    if (copyOutput && dropNotice == DropNotice::Pending &&
        writeWithoutWaiting(errorCopy, kDroppedOutputNotice, sizeof kDroppedOutputNotice - 1))
        dropNotice = DropNotice::Given;
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
        closeDescriptor(fd);
    }
}

void TExternalApp::keepOutput(const char* data, ssize_t size) {
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

// Asks the child's process group to end and gives the child kEndGraceMs to do so before the
// group is killed.
void TExternalApp::endChild(int pidFd) {
    ::kill(-childPid, SIGTERM);
    const QDeadlineTimer grace(kEndGraceMs);
    while (!hasEnded(childPid) && !grace.hasExpired()) {
        pollfd gone{pidFd, POLLIN, 0};
        const int slice = int(grace.remainingTime());
        ::poll(&gone, pidFd >= 0 ? 1 : 0, pidFd >= 0 ? slice : std::min(slice, kFallbackSliceMs));
    }
    reapChild();
    end = RunEnd::Stopped;
}

void TExternalApp::runOnGuiThread(void (TExternalApp::*step)()) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app)
        QMetaObject::invokeMethod(
            app, [this, step] { (this->*step)(); }, Qt::BlockingQueuedConnection);
    else
        (this->*step)();
}

void TExternalApp::startStep() {
    running = true;
    emit OnProcessStarted(this);
}

void TExternalApp::stopStep() {
    running = false;
    emit OnProcessStopped(this);
}

void TExternalApp::finishWorker() {
    workerDone = true;
    // From here on the runner may be gone: wake the waiting thread through the application.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}
