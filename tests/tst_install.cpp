#include "TestAuthority.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

// `certwright install` run by the real executable over what a three-tier authority sent (a
// PKCS#7, a PEM chain in reverse order with its root, a lone certificate whose intermediate
// waits at "CA Issuers" on loopback); then each server starts from the written files with a
// configuration of its own on loopback, and curl and s_client connect trusting only the test's
// root. Each row gives the arguments ("%A" the authority's folder, "%O" the output folder),
// whether earlier files stand in %O, the exit status, texts of standard error and checks:
//   "serve KIND"        nginx, apache, haproxy or iis answers from the files;
//   "private FILE"      mode 0600 and a key that opens without a pass phrase;
//   "encrypted FILE"    mode 0600 and an AES-256 key that opens with "new-pass-2" alone;
//   "pfx TEXT"          what pkcs12 -info says of the .pfx holds TEXT.
// A failed row leaves every file as it stood, byte for byte, and makes no other.
class TestInstall : public QObject {
    Q_OBJECT

    TestAuthority authority;
    QTemporaryDir noPath; // an empty folder of trusted certificates for curl

    QString a(const QString& name) const { return authority.file(name); }

    // Each server from the files, in the foreground with a configuration of its own: "%T" its
    // folder, "%B" the files' base path, "%P" the port.
    struct Server {
        const char* kind;
        const char* command;
        const char* configuration;
    };
    static inline const Server kServers[] = {
        {"nginx", "nginx -e %T/error.log -p %T -c %T/server.conf",
         "daemon off; master_process off; pid %T/pid; error_log %T/error.log; events {}\n"
         "http { access_log off; client_body_temp_path %T/1; proxy_temp_path %T/2; "
         "fastcgi_temp_path %T/3; uwsgi_temp_path %T/4; scgi_temp_path %T/5;\n"
         "server { listen 127.0.0.1:%P ssl; ssl_certificate %B.fullchain.pem; "
         "ssl_certificate_key %B.key; ssl_password_file %T/pass; } }\n"},
        {"apache", "apache2 -X -d %T -f %T/server.conf",
         "ServerRoot %T\nPidFile %T/pid\nErrorLog %T/error.log\n"
         "LoadModule mpm_prefork_module /usr/lib/apache2/modules/mod_mpm_prefork.so\n"
         "LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so\n"
         "LoadModule socache_shmcb_module /usr/lib/apache2/modules/mod_socache_shmcb.so\n"
         "LoadModule ssl_module /usr/lib/apache2/modules/mod_ssl.so\n"
         "Listen 127.0.0.1:%P\nServerName www.check.test\nUser nobody\nGroup nogroup\n"
         "SSLPassPhraseDialog exec:%T/pass.sh\nSSLEngine on\n"
         "SSLCertificateFile %B.fullchain.pem\nSSLCertificateKeyFile %B.key\n"},
        {"haproxy", "haproxy -db -f %T/server.conf",
         "defaults\n mode http\n timeout connect 5s\n timeout client 5s\n timeout server 5s\n"
         "frontend tls\n bind 127.0.0.1:%P ssl crt %B.pem\n http-request return status 200\n"},
        // The chain that the .pfx holds goes to the tool's server beside the bundle.
        {"iis",
         OPENSSL_TOOL " s_server -accept 127.0.0.1:%P -www -cert %B.pfx -key %B.pfx -pass "
                      "pass:new-pass-1 -cert_chain %T/chain.pem",
         ""},
    };

    // Starts the server of the kind from the files in `out`; the port it listens on, or 0.
    static int startServer(QProcess& server, const QString& kind, const QString& out,
                           const QString& own) {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const int port = probe.serverPort();
        probe.close();
        const auto place = [&](QString text) {
            return text.replace("%T", own)
                .replace("%B", out + "/" + kTestHost)
                .replace("%P", QString::number(port));
        };
        writeFileContent(own + "/pass", "new-pass-2\n");
        writeProgram(own + "/pass.sh", "#!/bin/sh\necho new-pass-2\n");
        runOpenSSL(splitCommandLine(place("pkcs12 -in %B.pfx -passin pass:new-pass-1 -cacerts "
                                          "-nokeys -out %T/chain.pem")));
        for (const Server& known : kServers)
            if (kind == known.kind) {
                writeFileContent(own + "/server.conf", place(known.configuration).toUtf8());
                const QStringList words = splitCommandLine(place(known.command));
                server.start(words.first(), words.mid(1));
            }
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.closeWriteChannel();
        server.waitForStarted();
        for (int tries = 0; tries < 100 && server.state() == QProcess::Running; ++tries) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (socket.waitForConnected(200))
                return port;
            QThread::msleep(100);
        }
        qWarning("%s: %s", server.readAll().constData(), fileContent(own + "/error.log").data());
        return 0;
    }

    // curl and s_client both reach the server and trust its chain, by the test's root alone.
    void connectTrustingTheRoot(int port) {
        QProcess curl;
        const QString address = QString("https://%1:%2/").arg(kTestHost).arg(port);
        curl.start("curl",
                   {"-sS", "-o", "/dev/null", "--cacert", a("root.crt"), "--capath", noPath.path(),
                    "--resolve", QString("%1:%2:127.0.0.1").arg(kTestHost).arg(port), address});
        QVERIFY(curl.waitForFinished(20000));
        QVERIFY2(curl.exitCode() == 0, curl.readAllStandardError().constData());
        int status = -1;
        const QString said =
            runOpenSSL({"s_client", "-connect", QString("127.0.0.1:%1").arg(port), "-servername",
                        kTestHost, "-verify_return_error", "-verify_hostname", kTestHost, "-CAfile",
                        a("root.crt"), "-no-CApath", "-no-CAstore"},
                       &status, true);
        QVERIFY2(status == 0 && said.contains("Verify return code: 0 (ok)"), qPrintable(said));
    }

  private slots:
    void initTestCase() {
        QVERIFY(authority.isValid());
        QVERIFY(authority.issue("site"));
        QVERIFY(authority.issue("other"));
        int status = -1;
        runOpenSSL({"crl2pkcs7", "-nocrl", "-certfile", a("site.crt"), "-certfile", a("inter.crt"),
                    "-outform", "DER", "-out", a("site.p7b")},
                   &status);
        QCOMPARE(status, 0);
        writeFileContent(a("reversed.pem"), fileContent(a("root.crt")) +
                                                fileContent(a("inter.crt")) +
                                                fileContent(a("site.crt")));
        // Keys of requests are encrypted with triple DES.
        runOpenSSL({"pkey", "-in", a("site.key"), "-des-ede3-cbc", "-passout", "pass:keypass",
                    "-out", a("site.enc.key")},
                   &status);
        QCOMPARE(status, 0);
        writeFileContent(a("keypass.txt"), "keypass\n");
        writeFileContent(a("new1.txt"), "new-pass-1\n");
        writeFileContent(a("new2.txt"), "new-pass-2\n");
    }

    void install_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("existing"); // the nginx and HAProxy files stand in %O before
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errors"); // texts of standard error, "|" between
        QTest::addColumn<QString>("checks"); // "|" between; "%H" the host name
        const QString encrypted = "install --key %A/site.enc.key --passin file:%A/keypass.txt ";
        const QString plain = "install --key %A/site.key ";
        const QString trusted = "--out %O --ca-file %A/root.crt ";
        addRow("nginx: a PKCS#7 answer and a triple-DES key",
               encrypted + trusted + "--cert %A/site.p7b --for nginx", false, 0, QString(),
               QString("serve nginx|private %H.key"));
        addRow("apache: a PEM chain in reverse order with its root",
               plain + "--out %O --cert %A/reversed.pem --for apache", false, 0, QString(),
               QString("serve apache"));
        addRow("haproxy: a lone certificate, its intermediate from CA Issuers",
               plain + trusted + "--cert %A/site.crt --for haproxy", false, 0, QString(),
               QString("serve haproxy|private %H.pem"));
        addRow("iis and indy, for older Windows, with a friendly name",
               encrypted + trusted +
                   "--cert %A/site.p7b --for iis --for indy --legacy "
                   "--friendly-name Shop --passout file:%A/new1.txt",
               false, 0, QString(),
               QString("serve iis|pfx friendlyName: Shop|pfx pbeWithSHA1And3-KeyTripleDES-CBC"));
        addRow("nginx and apache with the key encrypted",
               plain + "--out %O --cert %A/reversed.pem --for nginx --for apache --encrypt-key "
                       "--passout file:%A/new2.txt",
               false, 0, QString("ssl_password_file|SSLPassPhraseDialog"),
               QString("encrypted %H.key|serve nginx|serve apache"));
        addRow("haproxy cannot read an encrypted key",
               plain + trusted + "--cert %A/site.crt --for haproxy --encrypt-key", false, 2,
               QString("--encrypt-key cannot go with --for haproxy"), QString());
        addRow("the key of another certificate",
               "install --key %A/other.key " + trusted + "--cert %A/site.crt --for nginx --force",
               true, 1, "The key %A/other.key is not the key of the certificate CN=" + kTestHost,
               QString());
        addRow("a chain that does not verify up to a trusted root",
               plain + "--out %O --cert %A/site.crt --for nginx --for haproxy --force", true, 1,
               QString("does not verify|[chain-incomplete]"), QString());
        addRow("existing files without --force",
               plain + trusted + "--cert %A/site.crt --for nginx --for haproxy", true, 1,
               QString("use --force"), QString());
        addRow("existing files with --force",
               plain + trusted + "--cert %A/site.p7b --for nginx --force", true, 0, QString(),
               QString("serve nginx"));
    }

    void install() {
        QFETCH(QString, arguments);
        QFETCH(bool, existing);
        QFETCH(int, status);
        QFETCH(QString, errors);
        QFETCH(QString, checks);
        QTemporaryDir out;
        const auto place = [&](QString text) {
            return text.replace("%A", authority.folder())
                .replace("%O", out.path())
                .replace("%H", kTestHost);
        };
        const QStringList before = existing ? QStringList{kTestHost + ".fullchain.pem",
                                                          kTestHost + ".key", kTestHost + ".pem"}
                                            : QStringList();
        for (const QString& name : before)
            writeFileContent(out.filePath(name), "old content " + name.toUtf8() + "\n");
        QProcess command;
        command.setWorkingDirectory(out.path());
        command.start(testPath("CERTWRIGHT_EXECUTABLE"), splitCommandLine(place(arguments)));
        QVERIFY(command.waitForFinished(60000));
        const QString said = QString::fromLocal8Bit(command.readAllStandardError());
        QVERIFY2(command.exitCode() == status, qPrintable(said));
        for (const QString& error : errors.split('|', Qt::SkipEmptyParts))
            QVERIFY2(said.contains(place(error)), qPrintable(said));
        if (status != 0) {
            QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), before);
            for (const QString& name : before)
                QCOMPARE(fileContent(out.filePath(name)), "old content " + name.toUtf8() + "\n");
        }
        for (const QString& check : checks.split('|', Qt::SkipEmptyParts)) {
            const QString kind = check.section(' ', 0, 0);
            const QString value = check.section(' ', 1);
            const QString file = out.filePath(place(value));
            if (kind == "serve") {
                QTemporaryDir own;
                QProcess server;
                const int port = startServer(server, value, out.path(), own.path());
                QVERIFY2(port != 0, qPrintable(check));
                connectTrustingTheRoot(port);
                server.terminate();
                QVERIFY(server.waitForFinished(10000) || (server.kill(), server.waitForFinished()));
            } else if (kind == "private" || kind == "encrypted") {
                const QString pass = kind == "private" ? "pass:" : "pass:new-pass-2";
                int opened = -1;
                runOpenSSL({"pkey", "-in", file, "-passin", pass, "-noout"}, &opened);
                QCOMPARE(opened, 0);
                runOpenSSL({"pkey", "-in", file, "-passin", "pass:other", "-noout"}, &opened);
                QCOMPARE(opened != 0, kind == "encrypted");
                QCOMPARE(QFileInfo(file).permissions() & 0x0fff,
                         QFile::ReadUser | QFile::WriteUser);
                QVERIFY(kind == "private" ||
                        runOpenSSL({"asn1parse", "-in", file}).contains("aes-256-cbc"));
            } else {
                const QString info =
                    runOpenSSL({"pkcs12", "-info", "-in", out.filePath(kTestHost + ".pfx"),
                                "-passin", "pass:new-pass-1", "-nokeys"},
                               nullptr, true);
                QVERIFY2(info.contains(value), qPrintable(info));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
