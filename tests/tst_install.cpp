#include "TestAuthority.h"
#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

// `certwright install` run by the real executable over what a three-tier authority sent (a
// PKCS#7, a PEM chain in reverse order with its root, a lone certificate whose intermediate
// waits at "CA Issuers" on loopback); then each server starts from the written files with a
// configuration of its own on loopback, and curl and s_client connect trusting only the test's
// root. Each row gives the arguments ("%A" the authority's folder, "%O" the output folder),
// standard input, the files that stand in %O before, the exit status, texts of standard error
// and checks:
//   "serve KIND"        nginx, apache, haproxy or iis answers from the files;
//   "private FILE"      mode 0600 and a key that opens without a pass phrase;
//   "encrypted FILE"    an AES-256 key that opens with "new-pass-2" alone;
//   "pfx TEXT"          what pkcs12 -info says of the .pfx holds TEXT.
// A failed row leaves every file as it stood, byte for byte, and makes no other.
class TestInstall : public QObject {
    Q_OBJECT

    TestAuthority authority;
    QTemporaryDir noPath; // an empty folder of trusted certificates for curl

    QString a(const QString& name) const { return authority.file(name); }

    static int freePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    static bool listens(int port) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        return socket.waitForConnected(200);
    }

    // The server of the kind from the files in the folder, run as a foreground process with its
    // configuration, pid and logs in `own`; the port it listens on, 0 when it did not start.
    int startServer(QProcess& server, const QString& kind, const QString& out, const QString& own) {
        const int port = freePort();
        const QString base = out + "/" + kTestHost;
        QString configuration;
        QStringList arguments;
        QString program;
        if (kind == "nginx") {
            QString paths;
            for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
                paths += QString("%1_temp_path %2/%1;\n").arg(temp, own);
            const bool encrypted =
                runOpenSSL({"pkey", "-in", base + ".key", "-passin", "pass:"}, nullptr).isEmpty();
            writeFileContent(own + "/pass", "new-pass-2\n");
            configuration = QString("daemon off; master_process off; pid %1/pid; error_log "
                                    "%1/error.log;\nevents {}\nhttp { access_log off; %2"
                                    "server { listen 127.0.0.1:%3 ssl; ssl_certificate "
                                    "%4.fullchain.pem; ssl_certificate_key %4.key; %5"
                                    "location / { return 200 \"ok\"; } } }\n")
                                .arg(own, paths)
                                .arg(port)
                                .arg(base, encrypted ? "ssl_password_file " + own + "/pass;" : "");
            program = "nginx";
            arguments = {"-e", own + "/error.log", "-p", own, "-c", own + "/server.conf"};
        } else if (kind == "apache") {
            const QString modules = "/usr/lib/apache2/modules/mod_%1.so\n";
            writeProgram(own + "/pass.sh", "#!/bin/sh\necho new-pass-2\n");
            configuration =
                QString("ServerRoot %1\nPidFile %1/pid\nErrorLog %1/error.log\n").arg(own);
            for (const char* module : {"mpm_prefork", "authz_core", "socache_shmcb", "ssl"})
                configuration += QString("LoadModule %1_module ").arg(module) + modules.arg(module);
            configuration += QString("Listen 127.0.0.1:%1\nServerName %2\nUser nobody\nGroup "
                                     "nogroup\nSSLPassPhraseDialog exec:%3/pass.sh\nSSLEngine "
                                     "on\nSSLCertificateFile %4.fullchain.pem\n"
                                     "SSLCertificateKeyFile %4.key\n")
                                 .arg(port)
                                 .arg(kTestHost, own, base);
            program = "apache2";
            arguments = {"-X", "-d", own, "-f", own + "/server.conf"};
        } else if (kind == "haproxy") {
            configuration = QString("defaults\n mode http\n timeout connect 5s\n timeout client "
                                    "5s\n timeout server 5s\nfrontend tls\n bind 127.0.0.1:%1 "
                                    "ssl crt %2.pem\n http-request return status 200\n")
                                .arg(port)
                                .arg(base);
            program = "haproxy";
            arguments = {"-db", "-f", own + "/server.conf"};
        } else {
            // The chain that the .pfx holds, handed to the tool's server beside the bundle.
            runOpenSSL({"pkcs12", "-in", base + ".pfx", "-passin", "pass:new-pass-1", "-cacerts",
                        "-nokeys", "-out", own + "/chain.pem"});
            program = OPENSSL_TOOL;
            arguments = {"s_server",
                         "-accept",
                         QString("127.0.0.1:%1").arg(port),
                         "-www",
                         "-cert",
                         base + ".pfx",
                         "-key",
                         base + ".pfx",
                         "-pass",
                         "pass:new-pass-1",
                         "-cert_chain",
                         own + "/chain.pem"};
        }
        writeFileContent(own + "/server.conf", configuration.toUtf8());
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(program, arguments);
        server.closeWriteChannel();
        server.waitForStarted();
        for (int tries = 0; tries < 100 && server.state() == QProcess::Running; ++tries) {
            if (listens(port))
                return port;
            QThread::msleep(100);
        }
        qWarning("%s: %s %s", qPrintable(kind), server.readAll().constData(),
                 fileContent(own + "/error.log").constData());
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

    static QStringList filesIn(const QString& folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden);
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
    }

    void install_data() {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<QStringList>("checks");
        const QString encrypted = "install --key %A/site.enc.key --passin file:%A/keypass.txt ";
        const QString plain = "install --key %A/site.key --out %O ";
        const QStringList nginxFiles = {kTestHost + ".key", kTestHost + ".fullchain.pem",
                                        kTestHost + ".pem"};
        addRow("nginx: a PKCS#7 answer and a triple-DES key",
               encrypted + "--cert %A/site.p7b --ca-file %A/root.crt --for nginx --out %O",
               QByteArray(), QStringList(), 0, QStringList(),
               QStringList{"serve nginx", "private " + kTestHost + ".key"});
        addRow("apache: a PEM chain in reverse order with its root",
               plain + "--cert %A/reversed.pem --for apache", QByteArray(), QStringList(), 0,
               QStringList(), QStringList{"serve apache"});
        addRow("haproxy: a lone certificate, its intermediate from CA Issuers",
               plain + "--cert %A/site.crt --ca-file %A/root.crt --for haproxy", QByteArray(),
               QStringList(), 0, QStringList(),
               QStringList{"serve haproxy", "private " + kTestHost + ".pem"});
        addRow("iis and indy, for older Windows, with a friendly name",
               encrypted + "--cert %A/site.p7b --ca-file %A/root.crt --for iis --for indy "
                           "--legacy --friendly-name Shop --passout stdin --out %O",
               QByteArray("new-pass-1\n"), QStringList(), 0, QStringList(),
               QStringList{"serve iis", "pfx friendlyName: Shop", "pfx pbeWithSHA1And3-KeyTripleDES-CBC"});
        addRow("nginx and apache with the key encrypted",
               plain + "--cert %A/reversed.pem --for nginx --for apache --encrypt-key "
                       "--passout stdin",
               QByteArray("new-pass-2\n"), QStringList(), 0,
               QStringList{"ssl_password_file", "SSLPassPhraseDialog"},
               QStringList{"encrypted " + kTestHost + ".key", "serve nginx", "serve apache"});
        addRow("haproxy cannot read an encrypted key",
               plain + "--cert %A/site.crt --for haproxy --encrypt-key --passout stdin",
               QByteArray("new-pass-2\n"), QStringList(), 2,
               QStringList{"--encrypt-key cannot go with --for haproxy"}, QStringList());
        addRow("the key of another certificate",
               "install --key %A/other.key --out %O --cert %A/site.crt --ca-file %A/root.crt "
               "--for nginx --for haproxy --force",
               QByteArray(), nginxFiles, 1,
               QStringList{
                   "The key %A/other.key is not the key of the certificate CN=" + kTestHost + "."},
               QStringList());
        addRow("a chain that does not verify up to a trusted root",
               plain + "--cert %A/site.crt --for nginx --for haproxy --force", QByteArray(),
               nginxFiles, 1, QStringList{"does not verify", "[chain-incomplete]"}, QStringList());
        addRow("existing files without --force",
               plain + "--cert %A/site.crt --ca-file %A/root.crt --for nginx --for haproxy",
               QByteArray(), nginxFiles, 1, QStringList{"use --force"}, QStringList());
        addRow("existing files with --force",
               plain + "--cert %A/site.p7b --ca-file %A/root.crt --for nginx --force", QByteArray(),
               nginxFiles.mid(0, 2), 0, QStringList(), QStringList{"serve nginx"});
    }

    void install() {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, existing);
        QFETCH(int, status);
        QFETCH(QStringList, errors);
        QFETCH(QStringList, checks);
        QTemporaryDir out;
        const auto place = [&](QString text) {
            return text.replace("%A", authority.folder()).replace("%O", out.path());
        };
        for (const QString& name : existing)
            writeFileContent(out.filePath(name), "old content " + name.toUtf8() + "\n");
        QProcess command;
        command.setWorkingDirectory(out.path());
        command.start(testPath("CERTWRIGHT_EXECUTABLE"), splitCommandLine(place(arguments)));
        command.write(input);
        command.closeWriteChannel();
        QVERIFY(command.waitForFinished(60000));
        const QString said = QString::fromLocal8Bit(command.readAllStandardError());
        QVERIFY2(command.exitCode() == status, qPrintable(said));
        for (const QString& error : errors)
            QVERIFY2(said.contains(place(error)), qPrintable(said));
        if (status != 0) {
            existing.sort();
            QCOMPARE(filesIn(out.path()), existing);
            for (const QString& name : existing)
                QCOMPARE(fileContent(out.filePath(name)), "old content " + name.toUtf8() + "\n");
        }
        for (const QString& check : checks) {
            const QString kind = check.section(' ', 0, 0);
            const QString value = check.section(' ', 1);
            const QString file = out.filePath(value);
            if (kind == "serve") {
                QTemporaryDir own;
                QProcess server;
                const int port = startServer(server, value, out.path(), own.path());
                QVERIFY2(port != 0, qPrintable(check));
                connectTrustingTheRoot(port);
                server.terminate();
                QVERIFY(server.waitForFinished(10000) || (server.kill(), server.waitForFinished()));
            } else if (kind == "private") {
                struct stat status {};
                QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
                QCOMPARE(status.st_mode & 0777, mode_t(0600));
                int opened = -1;
                runOpenSSL({"pkey", "-in", file, "-passin", "pass:", "-noout"}, &opened);
                QCOMPARE(opened, 0);
            } else if (kind == "encrypted") {
                int opened = -1;
                runOpenSSL({"pkey", "-in", file, "-passin", "pass:new-pass-2", "-noout"}, &opened);
                QCOMPARE(opened, 0);
                runOpenSSL({"pkey", "-in", file, "-passin", "pass:other", "-noout"}, &opened);
                QVERIFY(opened != 0);
                QVERIFY(fileContent(file).contains("BEGIN ENCRYPTED PRIVATE KEY"));
                QVERIFY(runOpenSSL({"asn1parse", "-in", file}).contains("aes-256-cbc"));
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
