#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <memory>

class QObject;

// Fetches one address over HTTP or HTTPS through Qt Network, within a time and a size limit,
// waiting in a local event loop that takes no user input. Works on any thread with an event
// dispatcher.
namespace LimitedFetch {

struct Limits {
    int timeLimitMs = 10000;
    qint64 largestBytes = 64 * 1024;
    int mostRedirects = 0; // never from https down to http
    QString caFile;        // further certificate authorities for https, or empty
};

// Why a fetch failed, in plain words ("no answer within 10 seconds", the network's reason...).
struct Failure {
    QString reason;
};

// Ends a fetch from another thread, for a window's Cancel: the fetch that runs, or the next one
// given it, ends at once with Failure.
class Stop {
  public:
    Stop();
    ~Stop();
    Stop(const Stop&) = delete;
    Stop& operator=(const Stop&) = delete;
    void stop();
    bool stopped() const;

    // For the fetch: the answer in progress that stop() aborts, or none.
    void attach(QObject* reply);

  private:
    struct State;
    std::unique_ptr<State> state;
};

// The body of the answer; throws Failure. Only http and https addresses are fetched.
QByteArray fetch(const QUrl& url, const Limits& limits, Stop* stop = nullptr);

} // namespace LimitedFetch
