#pragma once

#include "RunCancel.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

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

// The body of the answer; throws Failure. Only http and https addresses are fetched. The cancel,
// for a window's Cancel on another thread, ends the fetch at once with Failure, as it does a
// fetch given it once it was cancelled.
QByteArray fetch(const QUrl& url, const Limits& limits, RunCancel* cancel = nullptr);

} // namespace LimitedFetch
