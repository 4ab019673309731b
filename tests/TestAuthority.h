#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

// A web server on 127.0.0.1 and a free port that answers GET with the files it was given, on a
// thread of its own, so that it answers while a test waits for a child process.
class LoopbackWebServer {
  public:
    LoopbackWebServer();
    ~LoopbackWebServer();
    // "http://127.0.0.1:<port>/<name>"
    QString url(const QString& name) const;
    void serve(const QString& name, const QByteArray& body);

  private:
    QThread thread;
    mutable QMutex lock;
    QMap<QString, QByteArray> files;
    quint16 port = 0;
};

// The host name that the certificates of the authority are made for.
inline const QString kTestHost = QStringLiteral("www.check.test");

// A throw-away three-tier authority: "Check Root" signs "Check Intermediate", which issues the
// certificates of a test. Each issued certificate names the intermediate's certificate, served
// from a LoopbackWebServer, as its "CA Issuers"; the intermediate names the root's.
class TestAuthority {
  public:
    TestAuthority();
    bool isValid() const { return valid; }
    QString file(const QString& name) const { return dir.filePath(name); }
    QString folder() const { return dir.path(); }

    // How one certificate is made; the defaults give a sound server certificate.
    struct Leaf {
        QStringList extensions = {QStringLiteral("subjectAltName=DNS:") + kTestHost,
                                  QStringLiteral("extendedKeyUsage=serverAuth")};
        QString newKey = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:P-256");
        qint64 fromDays = -1;
        qint64 untilDays = 365;
        QString digest = QStringLiteral("sha256");
        bool selfSigned = false;
        QString issuer = QStringLiteral("inter");            // the certificate and key that sign it
        QString subject = kTestHost;                         // its common name
        QString issuerAddress = QStringLiteral("inter.cer"); // its "CA Issuers", served
    };
    // Makes <name>.key and <name>.crt; true when both were made.
    bool issue(const QString& name, const Leaf& leaf);
    bool issue(const QString& name) { return issue(name, Leaf()); }
    // Makes <name>.crt, "Check Intermediate" once more, signed by the root for the days given:
    // of the intermediate's own key, or of a new one (<name>.key).
    bool intermediate(const QString& name, qint64 fromDays, qint64 untilDays, bool newKey);

    LoopbackWebServer web;

  private:
    // Runs the tool with the words of the line, "%A" standing for the authority's folder.
    bool run(const QString& commandLine) const;
    QTemporaryDir dir;
    bool valid = false;
};
