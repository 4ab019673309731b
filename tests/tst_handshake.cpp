#include "CertificateWizardDriver.h"
#include "KeyAndCertificateFixtures.h"
#include "TestSupport.h"
#include "uGenerateCSRForm.h"
#include "uSelfSignForm.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>

#include <memory>

namespace {

// Which of the twin wizards a row drives.
enum class Kind { Request, SelfSigned };

const QString kPassPhrase = "correct horse";
constexpr int kServerStartMilliseconds = 15000;
constexpr int kClientMilliseconds = 20000;

// A TLS server on a loopback port that serves a key and its certificate with the real tool
// and answers an HTTP GET with a status page; it is killed when the object goes.
class LoopbackServer {
  public:
    LoopbackServer(const QString& certificate, const QString& key, const QString& passPhrase) {
        // Port 0 lets the system pick a free port, which the server announces once it listens.
        QStringList arguments = {"s_server",  "-accept", "127.0.0.1:0", "-cert",
                                 certificate, "-key",    key,           "-www"};
        if (!passPhrase.isEmpty())
            arguments << "-pass"
                      << "pass:" + passPhrase;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(OPENSSL_TOOL, arguments);
        const QRegularExpression accepting("^ACCEPT 127\\.0\\.0\\.1:(\\d+)\\s*$",
                                           QRegularExpression::MultilineOption);
        const QDeadlineTimer deadline(kServerStartMilliseconds);
        while (!deadline.hasExpired()) {
            const bool running = process.state() != QProcess::NotRunning;
            process.waitForReadyRead(100);
            log += QString::fromLocal8Bit(process.readAll());
            const auto match = accepting.match(log);
            if (match.hasMatch()) {
                listeningPort = match.captured(1).toInt();
                return;
            }
            if (!running)
                return;
        }
    }
    ~LoopbackServer() {
        process.kill();
        process.waitForFinished();
    }

    // The port on which the server listens; 0 when it did not start.
    int port() const { return listeningPort; }
    // What the server wrote while it started.
    QString output() const { return log; }

  private:
    QProcess process;
    QString log;
    int listeningPort = 0;
};

bool isAddress(const QString& host) {
    return !QHostAddress(host).isNull();
}

// Runs a client to its end (or kills it after the time limit); returns its exit code, -1
// when it did not end by itself, and its output in *log.
int runClient(const QString& program, const QStringList& arguments, QString* log) {
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(program, arguments);
    client.closeWriteChannel();
    const bool ended = client.waitForFinished(kClientMilliseconds);
    if (!ended)
        client.kill();
    client.waitForFinished();
    *log = program + ' ' + arguments.join(' ') + '\n' + QString::fromLocal8Bit(client.readAll()) +
           client.errorString();
    return ended && client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
}

// curl asks for the server's page under the host name (or address), trusting only the given
// certificate; true when it got the page.
bool curlAccepts(int port, const QString& host, const QString& trusted, QString* log) {
    const QString authority = host + ':' + QString::number(port);
    QStringList arguments = {"--silent",   "--show-error", "--noproxy", "*",
                             "--max-time", "10",           "--cacert",  trusted};
    if (!isAddress(host))
        arguments << "--resolve" << authority + ":127.0.0.1";
    arguments << "https://" + authority + '/';
    return runClient("curl", arguments, log) == 0 && log->contains("<HTML>");
}

// The tool's own client connects and checks the certificate for the host name (or
// address), trusting only the given certificate; true when the handshake succeeded.
bool sClientAccepts(int port, const QString& host, const QString& trusted, QString* log) {
    QStringList arguments = {"s_client", "-connect", "127.0.0.1:" + QString::number(port),
                             "-CAfile",  trusted,    "-verify_return_error"};
    if (isAddress(host))
        arguments << "-verify_ip" << host;
    else
        arguments << "-servername" << host << "-verify_hostname" << host;
    return runClient(OPENSSL_TOOL, arguments, log) == 0 &&
           log->contains("Verify return code: 0 (ok)");
}

} // namespace

Q_DECLARE_METATYPE(Kind)

// What the certificate wizards make with their defaults passes the handshake of real clients
// for the names it was made for, and only for those.
class TestHandshake : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY2(!QStandardPaths::findExecutable("curl").isEmpty(),
                 "curl is missing; tools/setup.sh installs it");
        QVERIFY(authority.isReady());
    }

    void madeCertificatesPassTheHandshake_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QStringList>("accepted");
        QTest::addColumn<QStringList>("refused");
        const auto rows = [](const char* name, const QString& domain, const QStringList& accepted,
                             const QStringList& refused) {
            for (const Kind kind : {Kind::Request, Kind::SelfSigned})
                QTest::addRow("%s: %s", kind == Kind::Request ? "request" : "self-signed", name)
                    << kind << domain << accepted << refused;
        };
        rows("www", "www.shop.test", {"www.shop.test", "shop.test"}, {"other.test", "a.shop.test"});
        rows("wildcard", "*.shop.test", {"a.shop.test", "shop.test"},
             {"a.b.shop.test", "other.test"});
        rows("IP address", "127.0.0.1", {"127.0.0.1"}, {"localhost"});
        rows("outside ASCII", QString::fromUtf8("bücher.test"), {"xn--bcher-kva.test"},
             {"other.test"});
    }

    // The request is signed by an authority of the test's own, as a certificate authority
    // would sign it; the self-signed certificate is trusted as it is.
    void madeCertificatesPassTheHandshake() {
        QFETCH(Kind, kind);
        QFETCH(QString, domain);
        QFETCH(QStringList, accepted);
        QFETCH(QStringList, refused);
        TempProgramFolder program;
        TempFolder out;
        TypedSubject subject;
        subject.keySize.clear();
        subject.domain = domain;
        std::unique_ptr<TCertificateWizard> wizard;
        if (kind == Kind::Request)
            wizard = std::make_unique<TfrmGenerateCSR>(nullptr);
        else
            wizard = std::make_unique<TfrmSelfSign>(nullptr);
        wizard->show();
        fillPages(*wizard, subject, out.path());
        {
            ModalScript script(kind == Kind::Request
                                   ? QVector<ModalScript::Action>{enterPassPhrases("", kPassPhrase)}
                                   : QVector<ModalScript::Action>{});
            clickNext(*wizard);
            QCOMPARE(script.remaining(), 0);
        }
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsFinished));

        const QString base = QString(domain).replace("*", "wildcard");
        const QString key = out.file(base + ".key");
        QCOMPARE(keyBits(key, kPassPhrase), 2048);
        QString certificate = out.file(base + ".cer");
        QString trusted = certificate;
        QString passPhrase;
        if (kind == Kind::Request) {
            const QString request = out.file(base + ".csr");
            QVERIFY(runOpenSSL({"req", "-in", request, "-noout", "-text"})
                        .contains("Requested Extensions:\n                X509v3 Subject "
                                  "Alternative Name: "));
            certificate = out.file("signed.cer");
            QVERIFY(authority.signRequest(request, certificate));
            trusted = authority.certificate();
            passPhrase = kPassPhrase;
        }

        LoopbackServer server(certificate, key, passPhrase);
        QVERIFY2(server.port() > 0, qPrintable(server.output()));
        QString log;
        for (const QString& host : accepted) {
            QVERIFY2(curlAccepts(server.port(), host, trusted, &log), qPrintable(log));
            QVERIFY2(sClientAccepts(server.port(), host, trusted, &log), qPrintable(log));
        }
        // The name is what fails: the connection itself works.
        for (const QString& host : refused) {
            QVERIFY2(!curlAccepts(server.port(), host, trusted, &log), qPrintable(log));
            QVERIFY2(log.contains("subject name matches"), qPrintable(log));
            QVERIFY2(!sClientAccepts(server.port(), host, trusted, &log), qPrintable(log));
            QVERIFY2(log.contains("mismatch"), qPrintable(log));
        }
    }

  private:
    // The system's TLS clients refuse an authority whose key has fewer than 2048 bits.
    TestAuthority authority{2048};
};

QTEST_MAIN(TestHandshake)
#include "tst_handshake.moc"
