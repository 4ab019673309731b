#include "TestAuthority.h"

#include "TestCoreSupport.h"

#include <QFile>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

const char* const kRequestProperty = "request";

QString certificateDate(qint64 days) {
    return QDateTime::currentDateTimeUtc().addDays(days).toString(
        QStringLiteral("yyyyMMddHHmmss'Z'"));
}

} // namespace

LoopbackWebServer::LoopbackWebServer() {
    thread.start();
    auto* server = new QTcpServer;
    server->moveToThread(&thread);
    QSemaphore ready;
    QMetaObject::invokeMethod(server, [this, server, &ready] {
        server->listen(QHostAddress::LocalHost, 0);
        port = server->serverPort();
        QObject::connect(&thread, &QThread::finished, server, &QObject::deleteLater);
        QObject::connect(server, &QTcpServer::newConnection, server, [this, server] {
            while (QTcpSocket* socket = server->nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request =
                        socket->property(kRequestProperty).toByteArray() + socket->readAll();
                    socket->setProperty(kRequestProperty, request);
                    if (!request.contains("\r\n\r\n"))
                        return;
                    const QString name = QString::fromLatin1(request.split(' ').value(1).mid(1));
                    QMutexLocker locker(&lock);
                    ++served;
                    const bool known = files.contains(name);
                    const QByteArray body = files.value(name);
                    socket->write((known ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                                  QByteArray("Content-Length: ") + QByteArray::number(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
        ready.release();
    });
    ready.acquire();
}

LoopbackWebServer::~LoopbackWebServer() {
    thread.quit();
    thread.wait();
}

QString LoopbackWebServer::url(const QString& name) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(port).arg(name);
}

void LoopbackWebServer::serve(const QString& name, const QByteArray& body) {
    QMutexLocker locker(&lock);
    files.insert(name, body);
}

int LoopbackWebServer::requests() const {
    QMutexLocker locker(&lock);
    return served;
}

TestAuthority::TestAuthority() {
    writeFileContent(file("index.txt"), QByteArray());
    writeFileContent(
        file("authority.cnf"),
        "[req]\ndistinguished_name = dn\n[dn]\n"
        "[authority]\nbasicConstraints = critical,CA:TRUE\n"
        "keyUsage = critical,keyCertSign,cRLSign\nsubjectKeyIdentifier = hash\n"
        "authorityInfoAccess = caIssuers;URI:" +
            web.url(QStringLiteral("root.cer")).toUtf8() +
            "\n[ca]\ndefault_ca = issuing\n[issuing]\ndatabase = " + file("index.txt").toUtf8() +
            "\nnew_certs_dir = " + dir.path().toUtf8() + "\nserial = " + file("serial").toUtf8() +
            "\npolicy = anything\nunique_subject = no\n"
            "[anything]\ncommonName = optional\n");
    int status = -1;
    runOpenSSL({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-keyout", file("root.key"), "-subj", "/CN=Check Root", "-days", "3650", "-config",
                file("authority.cnf"), "-extensions", "authority", "-out", file("root.crt")},
               &status);
    valid = status == 0;
    runOpenSSL({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                "-keyout", file("inter.key"), "-subj", "/CN=Check Intermediate", "-config",
                file("authority.cnf"), "-out", file("inter.csr")},
               &status);
    valid = valid && status == 0;
    runOpenSSL({"x509", "-req", "-in", file("inter.csr"), "-CA", file("root.crt"), "-CAkey",
                file("root.key"), "-days", "3650", "-extfile", file("authority.cnf"), "-extensions",
                "authority", "-out", file("inter.crt")},
               &status);
    valid = valid && status == 0;
    for (const QString& name : {QStringLiteral("root"), QStringLiteral("inter")}) {
        runOpenSSL(
            {"x509", "-in", file(name + ".crt"), "-outform", "DER", "-out", file(name + ".cer")});
        web.serve(name + QStringLiteral(".cer"), fileContent(file(name + ".cer")));
    }
}

bool TestAuthority::issue(const QString& name, const Leaf& leaf) {
    const QString extensions = file(name + QStringLiteral(".ext"));
    writeFileContent(extensions, "[leaf]\nauthorityInfoAccess = caIssuers;URI:" +
                                     web.url(QStringLiteral("inter.cer")).toUtf8() + '\n' +
                                     leaf.extensions.join(QLatin1Char('\n')).toUtf8() + '\n');
    int status = -1;
    runOpenSSL(QStringList{"req", "-new", "-nodes", "-keyout", file(name + ".key"), "-subj",
                           "/CN=" + kTestHost, "-config", file("authority.cnf"), "-out",
                           file(name + ".csr")} +
                   leaf.newKey,
               &status);
    if (status != 0)
        return false;
    QStringList signing{"ca",           "-batch",
                        "-config",      file("authority.cnf"),
                        "-rand_serial", "-notext",
                        "-in",          file(name + ".csr"),
                        "-out",         file(name + ".crt"),
                        "-startdate",   certificateDate(leaf.fromDays),
                        "-enddate",     certificateDate(leaf.untilDays),
                        "-md",          leaf.digest,
                        "-extfile",     extensions,
                        "-extensions",  "leaf"};
    if (leaf.selfSigned)
        signing << "-selfsign"
                << "-keyfile" << file(name + ".key");
    else
        signing << "-cert" << file("inter.crt") << "-keyfile" << file("inter.key");
    runOpenSSL(signing, &status);
    return status == 0;
}
