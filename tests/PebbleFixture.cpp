#include "PebbleFixture.h"

#include "TestCoreSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>

namespace {

constexpr int kReadyWaitMs = 20000;
constexpr int kPollMs = 100;

bool answers(int port) {
    QTcpSocket probe;
    probe.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    return probe.waitForConnected(kPollMs);
}

} // namespace

int freeLoopbackPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

PebbleFixture::PebbleFixture(int validitySeconds) : validity(validitySeconds) {
    connect(&web, &QTcpServer::newConnection, this, &PebbleFixture::answer);
}

PebbleFixture::~PebbleFixture() {
    for (QProcess* server : {&pebble, &challenges}) {
        server->terminate();
        server->waitForFinished(5000);
    }
}

QString PebbleFixture::start(const QString& dnsServer) {
    for (int& port : ports)
        port = freeLoopbackPort();
    QDir(folder.path()).mkpath(QStringLiteral("www"));
    int status = -1;
    runOpenSSL({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-keyout", path("pebble.key"), "-out", path("pebble.pem"), "-days", "2", "-subj",
                "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"},
               &status);
    if (status != 0)
        return QStringLiteral("openssl could not make Pebble's certificate");
    const auto loopback = [this](int index) {
        return QStringLiteral("127.0.0.1:") + QString::number(ports[index]);
    };
    QJsonObject config{{"listenAddress", loopback(0)},
                       {"managementListenAddress", loopback(1)},
                       {"certificate", path("pebble.pem")},
                       {"privateKey", path("pebble.key")},
                       {"httpPort", ports[2]},
                       {"tlsPort", freeLoopbackPort()},
                       {"ocspResponderURL", ""},
                       {"externalAccountBindingRequired", false},
                       {"certificateValidityPeriod", validity}};
    writeFileContent(path("pebble.json"), QJsonDocument(QJsonObject{{"pebble", config}}).toJson());
    challenges.start(QStringLiteral("pebble-challtestsrv"),
                     {"-dns01", loopback(3), "-http01", "", "-https01", "", "-tlsalpn01", "",
                      "-management", loopback(4), "-defaultIPv6", "", "-defaultIPv4", "127.0.0.1"});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("PEBBLE_VA_ALWAYS_VALID"));
    environment.remove(QStringLiteral("PEBBLE_WFE_NONCEREJECT"));
    environment.insert(QStringLiteral("PEBBLE_VA_NOSLEEP"), QStringLiteral("1"));
    // A validation is made every time: a failure must not pass for an earlier success.
    environment.insert(QStringLiteral("PEBBLE_AUTHZREUSE"), QStringLiteral("0"));
    pebble.setProcessEnvironment(environment);
    pebble.setProcessChannelMode(QProcess::MergedChannels);
    pebble.start(QStringLiteral("pebble"), {"-config", path("pebble.json"), "-dnsserver",
                                            dnsServer.isEmpty() ? loopback(3) : dnsServer});
    for (int waited = 0; !answers(ports[0]) || !answers(ports[1]) || !answers(ports[4]);
         waited += kPollMs) {
        if (waited > kReadyWaitMs)
            return QStringLiteral("Pebble did not start: ") + pebble.readAll();
        QThread::msleep(kPollMs);
    }
    QProcess fetch;
    fetch.start(QStringLiteral("curl"),
                {"-sSf", "--cacert", path("pebble.pem"), "-o", path("root.pem"),
                 QStringLiteral("https://") + loopback(1) + "/roots/0"});
    if (!fetch.waitForFinished(kReadyWaitMs) || fetch.exitCode() != 0)
        return QStringLiteral("Pebble's root could not be fetched: ") +
               QString::fromLocal8Bit(fetch.readAllStandardError());
    QFile bundle(path("bundle.pem"));
    if (!bundle.open(QIODevice::WriteOnly) ||
        bundle.write(fileContent(path("pebble.pem")) + fileContent(path("root.pem"))) < 0)
        return QStringLiteral("The CA file could not be written: ") + bundle.errorString();
    bundle.close();
    setServed(true);
    return web.isListening() ? QString() : web.errorString();
}

QString PebbleFixture::directoryUrl() const {
    return QStringLiteral("https://127.0.0.1:") + QString::number(ports[0]) + "/dir";
}

QString PebbleFixture::caBundle() const {
    return path("bundle.pem");
}
QString PebbleFixture::root() const {
    return path("root.pem");
}
QString PebbleFixture::webRoot() const {
    return path("www");
}

void PebbleFixture::setServed(bool on) {
    if (!on)
        web.close();
    else if (!web.isListening())
        web.listen(QHostAddress::LocalHost, quint16(ports[2]));
}

// One GET a connection: the file under the web root, or 404.
void PebbleFixture::answer() {
    while (QTcpSocket* client = web.nextPendingConnection()) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, client, [this, client] {
            const QByteArray request = client->peek(client->bytesAvailable());
            if (!request.contains("\r\n\r\n"))
                return;
            client->readAll();
            const QString target = QString::fromLatin1(request.split(' ').value(1));
            QFile file(webRoot() + target);
            QByteArray reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
            if (!target.contains(QLatin1String("..")) && file.open(QIODevice::ReadOnly)) {
                const QByteArray body = file.readAll();
                reply = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                        "\r\n\r\n" + body;
            }
            client->write(reply);
            client->disconnectFromHost();
        });
    }
}
