#include "uTerminationSignals.h"

#include "uPassPhraseFolder.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace {
// Signals that ask the program to end: they go through the normal closing path.
const int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// The other signals whose default action ends the program; as tools such as profilers
// install handlers for some of them, they are taken only from their default action.
const int kOtherEndingSignals[] = {SIGUSR1, SIGUSR2,   SIGALRM, SIGPIPE, SIGPOLL,  SIGPROF,
                                   SIGPWR,  SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM};
// Signals of a program that cannot go on: only the files are looked after.
const int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGSYS};

// The handlers may only do async-signal-safe work: they write one byte into this pipe, and
// the GUI thread reads it through a socket notifier.
int selfPipe[2] = {-1, -1};

// The actions that were in place before, restored at the end and by the fatal handler.
struct sigaction earlier[NSIG];
bool taken[NSIG];

extern "C" void onEndingSignal(int signalNumber) {
    const int savedErrno = errno;
    emptyChosenPassPhraseFiles();
    const char byte = char(signalNumber);
    // A full pipe already holds an unread request; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(selfPipe[1], &byte, 1);
    errno = savedErrno;
}

extern "C" void onFatalSignal(int signalNumber) {
    endPassPhraseFolder();
    // The signal is blocked while its handler runs: raised again, it ends the program with
    // the earlier action once the handler returns.
    ::sigaction(signalNumber, &earlier[signalNumber], nullptr);
    ::raise(signalNumber);
}

// Takes the signal over, unless the program was started with it ignored or, where
// onlyFromDefault, another handler (a sanitizer's, a test harness's) already takes it.
void takeOver(int signalNumber, void (*handler)(int), bool onlyFromDefault) {
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    const bool isDefault = current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO);
    if ((current.sa_handler == SIG_IGN && !(current.sa_flags & SA_SIGINFO)) ||
        (onlyFromDefault && !isDefault))
        return;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    earlier[signalNumber] = current;
    taken[signalNumber] = ::sigaction(signalNumber, &action, nullptr) == 0;
}
} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(selfPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    notifier = new QSocketNotifier(selfPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    for (const int signalNumber : kEndingSignals)
        takeOver(signalNumber, onEndingSignal, false);
    for (const int signalNumber : kOtherEndingSignals)
        takeOver(signalNumber, onEndingSignal, true);
    for (const int signalNumber : kFatalSignals)
        takeOver(signalNumber, onFatalSignal, true);
}

TerminationSignals::~TerminationSignals() {
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (taken[signalNumber])
            ::sigaction(signalNumber, &earlier[signalNumber], nullptr);
        taken[signalNumber] = false;
    }
    delete notifier;
    for (int& end : selfPipe) {
        ::close(end);
        end = -1;
    }
}

void TerminationSignals::drain() {
    char bytes[16];
    while (::read(selfPipe[0], bytes, sizeof bytes) > 0) {
    }
    received = true;
    emit terminationRequested();
}
