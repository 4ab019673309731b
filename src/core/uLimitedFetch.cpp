#include "uLimitedFetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#include <mutex>

namespace LimitedFetch {

namespace {

const QString kSchemeReason = QStringLiteral("only http and https addresses are used");
const QString kTooLargeReason = QStringLiteral("the answer is larger than %1 KiB");
const QString kTimeReason = QStringLiteral("no answer within %1 seconds");
const QString kStoppedReason = QStringLiteral("cancelled");
constexpr int kMsPerSecond = 1000;
constexpr qint64 kBytesPerKiB = 1024;

} // namespace

struct Stop::State {
    mutable std::mutex mutex;
    bool stopped = false;
    QObject* reply = nullptr;
};

Stop::Stop() : state(std::make_unique<State>()) {}
Stop::~Stop() = default;

void Stop::stop() {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->stopped = true;
    // The answer belongs to the fetch's thread, which aborts it as soon as it looks.
    if (state->reply)
        QMetaObject::invokeMethod(
            state->reply, [reply = state->reply] { static_cast<QNetworkReply*>(reply)->abort(); },
            Qt::QueuedConnection);
}

bool Stop::stopped() const {
    const std::lock_guard<std::mutex> lock(state->mutex);
    return state->stopped;
}

void Stop::attach(QObject* reply) {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->reply = reply;
}

QByteArray fetch(const QUrl& url, const Limits& limits, Stop* stop) {
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        throw Failure{kSchemeReason};
    if (stop && stop->stopped())
        throw Failure{kStoppedReason};
    const QString tooLarge = kTooLargeReason.arg(limits.largestBytes / kBytesPerKiB);
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setMaximumRedirectsAllowed(limits.mostRedirects);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    if (!limits.caFile.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(limits.caFile));
        request.setSslConfiguration(tls);
    }
    QNetworkReply* reply = manager.get(request);
    QEventLoop loop;
    QByteArray body;
    QString failure;
    // The answer is read as it comes, so that a large one is cut off early.
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        body += reply->read(limits.largestBytes + 1 - body.size());
        if (body.size() > limits.largestBytes && failure.isEmpty()) {
            failure = tooLarge;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The whole fetch, not each pause of it, has the time limit.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        failure = kTimeReason.arg(limits.timeLimitMs / kMsPerSecond);
        reply->abort();
    });
    deadline.start(limits.timeLimitMs);
    if (stop)
        stop->attach(reply);
    // A stop that came before the attachment found nothing to abort.
    if (!reply->isFinished() && !(stop && stop->stopped()))
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (stop)
        stop->attach(nullptr);
    if (stop && stop->stopped()) {
        reply->abort();
        failure = kStoppedReason;
    }
    if (failure.isEmpty() && reply->error() != QNetworkReply::NoError)
        failure = reply->errorString();
    if (failure.isEmpty())
        body += reply->read(limits.largestBytes + 1 - body.size());
    if (failure.isEmpty() && body.size() > limits.largestBytes)
        failure = tooLarge;
    reply->deleteLater();
    if (!failure.isEmpty())
        throw Failure{failure};
    return body;
}

} // namespace LimitedFetch
