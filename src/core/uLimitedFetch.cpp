#include "uLimitedFetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

namespace LimitedFetch {

namespace {

const QString kSchemeReason = QStringLiteral("only http and https addresses are used");
const QString kTooLargeReason = QStringLiteral("the answer is larger than %1 KiB");
const QString kTimeReason = QStringLiteral("no answer within %1 seconds");
const QString kStoppedReason = QStringLiteral("cancelled");
constexpr int kMsPerSecond = 1000;
constexpr qint64 kBytesPerKiB = 1024;

} // namespace

QByteArray fetch(const QUrl& url, const Limits& limits, RunCancel* cancel) {
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        throw Failure{kSchemeReason};
    if (cancel && cancel->cancelled())
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
    // The answer belongs to this thread, which aborts it as soon as it looks.
    if (cancel)
        cancel->attachEnder([reply] {
            QMetaObject::invokeMethod(
                reply, [reply] { reply->abort(); }, Qt::QueuedConnection);
        });
    // A cancel that came before the attachment found nothing to abort.
    if (!reply->isFinished() && !(cancel && cancel->cancelled()))
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (cancel)
        cancel->attachEnder({});
    if (cancel && cancel->cancelled()) {
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
