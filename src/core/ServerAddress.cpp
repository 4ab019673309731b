#include "ServerAddress.h"

#include <QHostAddress>
#include <QUrl>

namespace CertificateCheck {

namespace {

const QString kSchemeMark = QStringLiteral("://");
const QString kHttpsScheme = QStringLiteral("https");
const QString kRootPath = QStringLiteral("/");
constexpr int kHighestPort = 65535;

} // namespace

QString ServerAddress::text() const {
    const QString shown =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

std::optional<ServerAddress> serverAddress(const QString& typed, int defaultPort) {
    const QString text = typed.trimmed();
    const auto withPort = [](const QString& host, int port) -> std::optional<ServerAddress> {
        if (host.isEmpty() || port < 1 || port > kHighestPort)
            return std::nullopt;
        return ServerAddress{host, port};
    };
    const QHostAddress bare(text);
    if (!text.startsWith(QLatin1Char('[')) && !bare.isNull() &&
        bare.protocol() == QAbstractSocket::IPv6Protocol)
        return withPort(text, defaultPort);
    // Everything else is read as the host and port of an https address.
    const bool whole = text.contains(kSchemeMark);
    const QUrl url(whole ? text : kHttpsScheme + kSchemeMark + text, QUrl::StrictMode);
    const QString authority =
        text.section(kSchemeMark, whole ? 1 : 0, whole ? 1 : 0).section(QLatin1Char('/'), 0, 0);
    const bool bareHasMore = !whole && (url.hasQuery() || url.hasFragment() ||
                                        (!url.path().isEmpty() && url.path() != kRootPath));
    if (!url.isValid() || url.scheme().compare(kHttpsScheme, Qt::CaseInsensitive) != 0 ||
        !url.userInfo().isEmpty() || authority.endsWith(QLatin1Char(':')) || bareHasMore)
        return std::nullopt;
    return withPort(url.host(QUrl::EncodeUnicode), url.port(defaultPort));
}

} // namespace CertificateCheck
