#include "uTerminationSignals.h"

#include "uExternalApp.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace {
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The handler may only do async-signal-safe work: it writes one byte into this pipe, and the
// GUI thread reads it through a socket notifier.
int selfPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    // A full pipe already holds an unread request; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(selfPipe[1], &byte, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kSignals)
        ::sigaction(signalNumber, &action, nullptr);
}
} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(selfPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    notifier = new QSocketNotifier(selfPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    setHandler(onTerminationSignal);
}

TerminationSignals::~TerminationSignals() {
    setHandler(SIG_DFL);
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
    // A tool run in progress ends first, so that a hung tool does not hold up the ending.
    TExternalApp::EndRunsInProgress();
    emit terminationRequested();
}
