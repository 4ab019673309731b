#include "uPassPhraseSource.h"

#include "UserFile.h"
#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace PassPhraseSource {

bool terminationArrived = false;

namespace {

const QString kFilePrefix = QStringLiteral("file:");
const QString kEnvPrefix = QStringLiteral("env:");
const QString kFdPrefix = QStringLiteral("fd:");
const QString kPassPrefix = QStringLiteral("pass:");
const QString kStdin = QStringLiteral("stdin");

const QString kPassRefusedMessage =
    QStringLiteral("%1: \"pass:\" is not accepted, because every user of this machine can read "
                   "a command line while it runs. Use file:PATH, env:VAR, fd:N or stdin.");
const QString kUnknownSourceMessage = QStringLiteral(
    "%1: \"%2\" is not a pass-phrase source. Use file:PATH, env:VAR, fd:N or stdin.");
const QString kMissingVariableMessage =
    QStringLiteral("%1: the environment variable \"%2\" is not set.");
const QString kUnreadableDescriptorMessage =
    QStringLiteral("%1: file descriptor %2 cannot be read: %3");
const QString kUnreadableFileMessage = QStringLiteral("%1: \"%2\" cannot be read: %3");
const QString kNotRegularReason = QStringLiteral("it is not a regular file.");

// The tool reads no more of a pass-phrase file; a longer first line is refused later anyway.
constexpr int kLongestLine = 4096;

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Waits for input; a signal interrupts the wait (it would restart a read), and the handlers'
// events then run, so that a termination is seen here. Any other signal (a stop and a continue
// at the prompt) goes back to waiting.
bool waitForInput(int fd) {
    pollfd watched{fd, POLLIN, 0};
    while (::poll(&watched, 1, -1) < 0 && errno == EINTR) {
        QCoreApplication::processEvents();
        if (QCoreApplication::closingDown() || terminationArrived)
            return false;
    }
    return true;
}

// The terminal while a prompt waits without echo: how it was, how the prompt keeps it, and the
// prompt to show again; read by the job-control handlers.
struct HiddenPrompt {
    termios shown{};
    termios hidden{};
    QByteArray prompt;
};
HiddenPrompt* volatile waitingPrompt = nullptr;

constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

bool inForeground() {
    return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

// A stop at the prompt (Ctrl-Z): the echo comes back while the program is stopped, as the shell
// expects, and goes again if the stop does not happen (nobody could continue the program).
void stopWithEcho(int signalNumber) {
    const int savedErrno = errno;
    const HiddenPrompt* waiting = waitingPrompt;
    const bool foreground = inForeground();
    if (foreground)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &waiting->shown);
    struct sigaction stopping {};
    stopping.sa_handler = SIG_DFL;
    struct sigaction ours {};
    ::sigaction(signalNumber, &stopping, &ours);
    sigset_t signal{};
    ::sigemptyset(&signal);
    ::sigaddset(&signal, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &signal, nullptr);
    ::raise(signalNumber);
    ::sigaction(signalNumber, &ours, nullptr);
    if (foreground && inForeground())
        ::tcsetattr(STDIN_FILENO, TCSANOW, &waiting->hidden);
    errno = savedErrno;
}

// Continued (fg): the echo goes again and the prompt is shown again, as the terminal dropped
// what was typed before the stop.
void hideAgain(int) {
    const int savedErrno = errno;
    const HiddenPrompt* waiting = waitingPrompt;
    if (inForeground()) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &waiting->hidden);
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, waiting->prompt.constData(),
                                                         std::size_t(waiting->prompt.size()));
    }
    errno = savedErrno;
}

// The job-control handlers while the prompt waits; the earlier ones come back at the end.
class JobControlDuringPrompt {
  public:
    explicit JobControlDuringPrompt(HiddenPrompt& prompt) {
        waitingPrompt = &prompt;
        struct sigaction action {};
        ::sigemptyset(&action.sa_mask);
        for (const int signalNumber : kStopSignals)
            ::sigaddset(&action.sa_mask, signalNumber);
        action.sa_handler = stopWithEcho;
        for (std::size_t index = 0; index < std::size(kStopSignals); ++index)
            ::sigaction(kStopSignals[index], &action, &earlier[index]);
        action.sa_handler = hideAgain;
        ::sigaction(SIGCONT, &action, &earlierContinue);
    }
    ~JobControlDuringPrompt() {
        for (std::size_t index = 0; index < std::size(kStopSignals); ++index)
            ::sigaction(kStopSignals[index], &earlier[index], nullptr);
        ::sigaction(SIGCONT, &earlierContinue, nullptr);
        waitingPrompt = nullptr;
    }
    JobControlDuringPrompt(const JobControlDuringPrompt&) = delete;
    JobControlDuringPrompt& operator=(const JobControlDuringPrompt&) = delete;

  private:
    struct sigaction earlier[std::size(kStopSignals)]{};
    struct sigaction earlierContinue {};
};

// The first line of what the descriptor gives, without its line end; reads byte by byte so that
// nothing after the line is taken from a pipe or terminal shared with others.
bool readFirstLine(int fd, QByteArray& line) {
    char byte = 0;
    while (line.size() < kLongestLine) {
        if (!waitForInput(fd))
            throw SilentAbort();
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0 || byte == '\n')
            break;
        line += byte;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}

// Opens the file for reading when it is a regular file; throws UsageError otherwise.
int openRegularFile(const QString& option, const QString& path) {
    UserFile::Failure failure;
    const int fd = UserFile::open(path, {}, &failure);
    if (fd < 0)
        throw UsageError(kUnreadableFileMessage.arg(option, path,
                                                    failure.refusal == UserFile::Refusal::System
                                                        ? systemReason(failure.error)
                                                        : kNotRegularReason));
    return fd;
}

QString lineOf(const QString& option, int fd, const QString& name) {
    QByteArray line;
    if (!readFirstLine(fd, line))
        throw UsageError(kUnreadableDescriptorMessage.arg(option, name, systemReason(errno)));
    return QString::fromUtf8(line);
}

} // namespace

QString read(const QString& option, const QString& source) {
    if (source.startsWith(kPassPrefix))
        throw UsageError(kPassRefusedMessage.arg(option));
    if (source == kStdin)
        return lineOf(option, STDIN_FILENO, QStringLiteral("0"));
    if (source.startsWith(kEnvPrefix)) {
        const QByteArray name = source.mid(kEnvPrefix.size()).toLocal8Bit();
        if (name.isEmpty() || !qEnvironmentVariableIsSet(name.constData()))
            throw UsageError(kMissingVariableMessage.arg(option, QString::fromLocal8Bit(name)));
        return qEnvironmentVariable(name.constData());
    }
    if (source.startsWith(kFdPrefix)) {
        bool isNumber = false;
        const int fd = source.mid(kFdPrefix.size()).toInt(&isNumber);
        if (!isNumber || fd < 0)
            throw UsageError(kUnknownSourceMessage.arg(option, source));
        return lineOf(option, fd, QString::number(fd));
    }
    if (source.startsWith(kFilePrefix)) {
        const QString path = source.mid(kFilePrefix.size());
        const Descriptor file(openRegularFile(option, path));
        return lineOf(option, file.fd, path);
    }
    throw UsageError(kUnknownSourceMessage.arg(option, source));
}

bool readsStandardInput(const QString& source) {
    return source == kStdin || source == kFdPrefix + QLatin1Char('0');
}

bool canAsk() {
    return ::isatty(STDIN_FILENO) == 1;
}

QString ask(const QString& prompt) {
    HiddenPrompt terminal;
    terminal.prompt = prompt.toLocal8Bit();
    std::fputs(terminal.prompt.constData(), stderr);
    std::fflush(stderr);
    const bool hidden = ::tcgetattr(STDIN_FILENO, &terminal.shown) == 0;
    terminal.hidden = terminal.shown;
    terminal.hidden.c_lflag &= ~tcflag_t(ECHO);
    // The echo comes back however the reading ends, once no handler can hide it again.
    const auto restore = qScopeGuard([&] {
        if (hidden)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminal.shown);
    });
    // A stop and a continue (Ctrl-Z, then fg) hide the echo again, as readpassphrase(3) does.
    std::optional<JobControlDuringPrompt> jobControl;
    if (hidden) {
        jobControl.emplace(terminal);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &terminal.hidden);
    }
    QByteArray line;
    const bool read = readFirstLine(STDIN_FILENO, line);
    std::fputs("\n", stderr);
    if (!read)
        throw UsageError(
            kUnreadableDescriptorMessage.arg(prompt, QStringLiteral("0"), systemReason(errno)));
    return QString::fromUtf8(line);
}

void requireReadableFile(const QString& option, const QString& path) {
    const Descriptor file(openRegularFile(option, path));
}

} // namespace PassPhraseSource
