#include "uPassPhraseSource.h"

#include "uCertwrightCommon.h"
#include "uFreshFile.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

// Waits for input; the signals that end the program interrupt the wait (they restart a read),
// and their handlers' events then run, so that a termination is seen here.
bool waitForInput(int fd) {
    pollfd watched{fd, POLLIN, 0};
    if (::poll(&watched, 1, -1) >= 0 || errno != EINTR)
        return true;
    QCoreApplication::processEvents();
    return !QCoreApplication::closingDown() && !terminationArrived;
}

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
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw UsageError(kUnreadableFileMessage.arg(option, path, systemReason(errno)));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw UsageError(kUnreadableFileMessage.arg(option, path, kNotRegularReason));
    }
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
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool hidden = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hidden) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    // The echo comes back however the reading ends.
    const auto restore = qScopeGuard([&] {
        if (hidden)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    });
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
