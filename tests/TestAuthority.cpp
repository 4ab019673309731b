#include "TestAuthority.h"

#include "TestCoreSupport.h"

#include <QFile>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

const char* const kRequestProperty = "request";
const QString kNewKey = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes");

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
    valid = run("req -x509 " + kNewKey +
                " -keyout %A/root.key -subj \"/CN=Check Root\" -days "
                "3650 -config %A/authority.cnf -extensions authority -out %A/root.crt") &&
            run("req -new " + kNewKey +
                " -keyout %A/inter.key -subj \"/CN=Check Intermediate\" "
                "-config %A/authority.cnf -out %A/inter.csr") &&
            run("x509 -req -in %A/inter.csr -CA %A/root.crt -CAkey %A/root.key -days 3650 "
                "-extfile %A/authority.cnf -extensions authority -out %A/inter.crt");
    for (const QString& name : {QStringLiteral("root"), QStringLiteral("inter")}) {
        run(QString("x509 -in %A/%1.crt -outform DER -out %A/%1.cer").arg(name));
        web.serve(name + QStringLiteral(".cer"), fileContent(file(name + ".cer")));
    }
}

bool TestAuthority::issue(const QString& name, const Leaf& leaf) {
    writeFileContent(
        file(name + ".ext"),
        "[leaf]\nauthorityInfoAccess = caIssuers;URI:" + web.url(leaf.issuerAddress).toUtf8() +
            '\n' + leaf.extensions.join(QLatin1Char('\n')).toUtf8() + '\n');
    return run(QString("req -new -nodes %1 -keyout %A/%2.key -subj /CN=%3 -config "
                       "%A/authority.cnf -out %A/%2.csr")
                   .arg(leaf.newKey, name, leaf.subject)) &&
           run(QString("ca -batch -config %A/authority.cnf -rand_serial -notext -in %A/%1.csr -out "
                       "%A/%1.crt -startdate %2 -enddate %3 -md %4 -extfile %A/%1.ext -extensions "
                       "leaf -keyfile %A/%5.key ")
                   .arg(name, certificateDate(leaf.fromDays), certificateDate(leaf.untilDays),
                        leaf.digest, leaf.selfSigned ? name : leaf.issuer) +
               (leaf.selfSigned ? QStringLiteral("-selfsign")
                                : "-cert %A/" + leaf.issuer + ".crt"));
}

bool TestAuthority::intermediate(const QString& name, qint64 fromDays, qint64 untilDays,
                                 bool newKey) {
    return (!newKey ||
            run("req -new " + kNewKey + " -keyout %A/" + name +
                ".key -subj \"/CN=Check Intermediate\" -config %A/authority.cnf -out %A/" + name +
                ".csr")) &&
           run(QString("ca -batch -config %A/authority.cnf -rand_serial -notext -in %A/%1.csr -out "
                       "%A/%2.crt -startdate %3 -enddate %4 -extfile %A/authority.cnf -extensions "
                       "authority -md sha256 -cert %A/root.crt -keyfile %A/root.key")
                   .arg(newKey ? name : QStringLiteral("inter"), name, certificateDate(fromDays),
                        certificateDate(untilDays)));
}

bool TestAuthority::run(const QString& commandLine) const {
    int status = -1;
    runOpenSSL(splitCommandLine(commandLine).replaceInStrings("%A", dir.path()), &status);
    return status == 0;
}
