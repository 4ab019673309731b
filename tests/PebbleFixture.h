#pragma once

#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

// The ACME authority's own test server on loopback: Pebble (its HTTPS certificate made here with
// openssl; its default rejection of some nonces on) and pebble-challtestsrv, whose DNS answers
// 127.0.0.1 for every name. A web server of the test, in the test's own event loop, serves a web
// root on Pebble's HTTP-01 port while setServed(true).
class PebbleFixture : public QObject {
    Q_OBJECT

  public:
    // validitySeconds: the term of the certificates that Pebble issues.
    explicit PebbleFixture(int validitySeconds);
    ~PebbleFixture() override;

    // Empty when both servers run and answer; else what went wrong. With dnsServer
    // (127.0.0.1:PORT) Pebble looks names and records up there instead of at challtestsrv.
    QString start(const QString& dnsServer = QString());
    QString directoryUrl() const;
    QString caBundle() const; // Pebble's HTTPS certificate and root(): the CA file of the authority
    QString root() const;     // the root that signs what Pebble issues, fetched from Pebble
    QString webRoot() const;  // the folder that the test's web server serves
    int httpPort() const { return ports[2]; }
    // challtestsrv's DNS server, and the address of its API that sets and clears TXT records.
    QString dnsAddress() const { return QStringLiteral("127.0.0.1:") + QString::number(ports[3]); }
    QString challengeManagement() const {
        return QStringLiteral("http://127.0.0.1:") + QString::number(ports[4]);
    }
    // Whether the web server listens; when it does not, connections are refused.
    void setServed(bool on);
    QString path(const QString& name) const { return folder.filePath(name); }

  private:
    void answer();

    QTemporaryDir folder;
    int validity;
    int ports[5] = {}; // ACME, management, HTTP-01, DNS, challenge management
    QProcess pebble;
    QProcess challenges;
    QTcpServer web;
};

// A free TCP port on 127.0.0.1.
int freeLoopbackPort();
