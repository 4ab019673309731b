#include "TestAuthority.h"
#include "TestSupport.h"
#include "uCertificateCheck.h"
#include "uRenewal.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// The commands run by the real executable, with the real tool. Each row gives the arguments
// ("%F" is the folder of the inputs, "%O" a fresh output folder), standard input, the exit
// status, texts that standard error must hold, and checks of what was made:
//   "opens FILE PASS"     the key opens with PASS ("-": a plain key) and with no other;
//   "names FILE TEXT"     the request or certificate carries the subjectAltName TEXT;
//   "order FILE CN,CN.."  the certificates of the PEM or PKCS#12 file (under "bundlepass"),
//                         in order;
//   "days FILE N"         the certificate's term;
//   "kept FILE"           the file that stood there before is untouched;
//   "absent FILE"         nothing was made there;
//   "problems ID,ID.."    the ids of the problems that the JSON report names, in order;
//   "json PATH VALUE"     the JSON report's value at PATH ("key/bits", "chain/0/subject");
//   "private FILE"        the file's mode is 0600;
//   "asn1 FILE TEXT"      the file's ASN.1 structure names TEXT;
//   "serve KIND FILE"     nginx, apache, haproxy or iis starts from the files named FILE.* on
//                         loopback, and curl and s_client reach it trusting the test's root alone;
//   "pfx FILE TEXT"       what pkcs12 -info says of the .pfx (under "new-pass-1") holds TEXT.
// "%A" is the folder of the throw-away authority, "%S" and "%N" the ports of a server that
// sends its chain and of one that sends its certificate alone.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir inputs;
    TestAuthority authority;
    QProcess withChain;
    QProcess withoutChain;
    QProcess longChain;
    QString withChainPort;
    QString withoutChainPort;
    QString longChainPort;
    QTcpServer stalled; // accepts connections and never answers

    // An openssl s_server on 127.0.0.1 that serves the sound certificate; its port, or empty.
    QString startServer(QProcess& server, const QString& more) {
        const int port = startTlsServer(
            server, splitCommandLine("-www -cert %A/sound.crt -key %A/sound.key " + more)
                        .replaceInStrings("%A", authority.folder()));
        return port ? QString::number(port) : QString();
    }

    QString in(const QString& name) const { return inputs.path() + QLatin1Char('/') + name; }

    // Each server from the files, in the foreground with a configuration, pid and log of its
    // own: "%T" its folder, "%B" the files' base path, "%P" the port.
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

    // The server of the kind starts from the files at the base path, and curl and s_client
    // both reach it and trust its chain by the test's root alone.
    void serve(const QString& kind, const QString& base) {
        QTemporaryDir own;
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const QString port = QString::number(probe.serverPort());
        probe.close();
        const auto place = [&](QString text) {
            return text.replace("%T", own.path()).replace("%B", base).replace("%P", port);
        };
        writeFileContent(own.filePath("pass"), "new-pass-1\n");
        writeProgram(own.filePath("pass.sh"), "#!/bin/sh\necho new-pass-1\n");
        runOpenSSL(splitCommandLine(place("pkcs12 -in %B.pfx -passin pass:new-pass-1 -cacerts "
                                          "-nokeys -out %T/chain.pem")));
        QProcess server;
        for (const Server& known : kServers)
            if (kind == known.kind) {
                writeFileContent(own.filePath("server.conf"), place(known.configuration).toUtf8());
                const QStringList words = splitCommandLine(place(known.command));
                server.start(words.first(), words.mid(1));
            }
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.closeWriteChannel();
        const auto end = qScopeGuard([&server] {
            server.terminate();
            if (!server.waitForFinished(10000))
                server.kill();
            server.waitForFinished();
        });
        bool listening = false;
        for (int tries = 0; !listening && server.waitForStarted() && tries < 100; ++tries) {
            QTcpSocket socket; // closed at once: the tool's server serves one client at a time
            socket.connectToHost(QHostAddress::LocalHost, port.toUShort());
            listening = socket.waitForConnected(200);
            QThread::msleep(listening ? 0 : 100);
        }
        QVERIFY2(listening, server.readAll() + fileContent(own.filePath("error.log")));
        QProcess curl;
        curl.start("curl",
                   {"-sS", "-o", "/dev/null", "--cacert", authority.file("root.crt"), "--capath",
                    own.path(), "--resolve", kTestHost + ":" + port + ":127.0.0.1",
                    "https://" + kTestHost + ":" + port + "/"});
        QVERIFY(curl.waitForFinished(20000));
        QVERIFY2(curl.exitCode() == 0, curl.readAllStandardError().constData());
        int status = -1;
        const QString said =
            runOpenSSL(splitCommandLine("s_client -connect 127.0.0.1:" + port + " -servername " +
                                        kTestHost + " -verify_return_error -verify_hostname " +
                                        kTestHost + " -no-CApath -no-CAstore -CAfile")
                           << authority.file("root.crt"),
                       &status, true);
        QVERIFY2(status == 0 && said.contains("Verify return code: 0 (ok)"), qPrintable(said));
    }

    // The common names of the certificates of a PEM or PKCS#12 file, in the file's order.
    static QString certificateOrder(const QString& file) {
        QTemporaryDir scratch;
        QString pem = file;
        if (file.endsWith(QLatin1String(".pfx"))) {
            pem = scratch.filePath("all.pem");
            runOpenSSL(
                {"pkcs12", "-in", file, "-nokeys", "-passin", "pass:bundlepass", "-out", pem});
        }
        runOpenSSL({"crl2pkcs7", "-nocrl", "-certfile", pem, "-out", scratch.filePath("all.p7")});
        const QString printed =
            runOpenSSL({"pkcs7", "-in", scratch.filePath("all.p7"), "-print_certs", "-noout"});
        static const QRegularExpression subject(QStringLiteral("subject=.*CN ?= ?([^,\\n]+)"));
        QStringList names;
        for (auto match = subject.globalMatch(printed); match.hasNext();)
            names << match.next().captured(1).trimmed();
        return names.join(QLatin1Char(','));
    }

    static bool keyOpens(const QString& key, const QString& pass) {
        int status = -1;
        runOpenSSL({"pkey", "-in", key, "-noout", "-passin", "pass:" + pass}, &status);
        return status == 0;
    }

    // Each problem with a certificate that has it, and sound ones that have none.
    void checkRows() {
        const QString files = "check --chain %A/inter.crt --ca-file %A/root.crt --json --name " +
                              kTestHost + " --cert %A/";
        const QString server = "check --ca-file %A/root.crt --json ";
        const auto row = [](const char* name, const QString& arguments, int status,
                            const QStringList& checks, const QByteArray& input = {}) {
            QTest::newRow(name) << splitCommandLine(arguments) << input << QStringList() << status
                                << (status == 2 ? checks : QStringList())
                                << (status == 2 ? QStringList() : checks);
        };
        row("check: sound, every field", files + "sound.crt --key %A/sound.key", 0,
            {"problems ", "json subject CN=" + kTestHost, "json names/0 " + kTestHost,
             "json issuer CN=Check Intermediate", "json key/type EC", "json key/bits 256",
             "json signature ecdsa-with-SHA256", "json daysLeft 364",
             "json chain/0/subject CN=Check Intermediate", "json chain/0/issuer CN=Check Root"});
        row("check: key-mismatch", files + "sound.crt --key %A/soon.key", 1,
            {"problems key-mismatch"});
        row("check: expired", files + "expired.crt", 1, {"problems expired"});
        row("check: not-yet-valid", files + "future.crt", 1, {"problems not-yet-valid"});
        row("check: expires-soon", files + "soon.crt", 1,
            {"problems expires-soon", "json daysLeft 9"});
        row("check: name-mismatch", files + "sound.crt --name other.check.test", 1,
            {"problems name-mismatch"});
        row("check: name-mismatch, an address", files + "sound.crt --name 127.0.0.1", 1,
            {"problems name-mismatch"});
        row("check: no-subject-alt-name", files + "nosan.crt", 1, {"problems no-subject-alt-name"});
        row("check: chain-incomplete", "check --ca-file %A/root.crt --json --cert %A/sound.crt", 1,
            {"problems chain-incomplete"});
        row("check: chain-order", files + "inter.crt --chain %A/sound.crt", 1,
            {"problems chain-order"});
        row("check: untrusted-root, reordered",
            "check --json --cert %A/sound.crt --chain %A/root.crt --chain %A/inter.crt "
            "--write-chain %O/chain.pem",
            1,
            {"problems chain-order,untrusted-root",
             "order chain.pem www.check.test,Check Intermediate,Check Root"});
        row("check: untrusted-root, self-signed with SHA-1", files + "self.crt", 1,
            {"problems untrusted-root"});
        row("check: weak-key, rsa", files + "rsa1024.crt", 1, {"problems weak-key"});
        row("check: weak-key, ec", files + "ec224.crt", 1, {"problems weak-key"});
        row("check: sound rsa", files + "rsa2048.crt --key %A/rsa2048.key", 0,
            {"problems ", "json key/type RSA", "json key/bits 2048"});
        // Qt reads no Ed25519 key: the tool gives the certificate's.
        row("check: sound ed25519", files + "ed25519.crt --key %A/ed25519.key", 0, {"problems "});
        row("check: key-mismatch, ed25519", files + "ed25519.crt --key %A/sound.key", 1,
            {"problems key-mismatch"});
        row("check: weak-signature", files + "sha1.crt", 1, {"problems weak-signature"});
        row("check: not-server-certificate, usage", files + "client.crt", 1,
            {"problems not-server-certificate"});
        row("check: name-mismatch and not-server-certificate",
            files + "client.crt --name other.check.test", 1,
            {"problems name-mismatch,not-server-certificate"});
        row("check: not-server-certificate, authority", files + "ca.crt", 1,
            {"problems not-server-certificate"});
        row("check: pfx, aes", server + "--name www.check.test --pfx %A/aes.pfx --passin stdin", 0,
            {"problems ", "json pfxProfile aes256-sha256"}, "bundlepass\n");
        row("check: pfx, 3des", server + "--pfx %A/3des.pfx --passin stdin", 0,
            {"problems ", "json pfxProfile 3des-sha1"}, "bundlepass\n");
        row("check: server that sends its chain", server + kTestHost + ":%S --connect 127.0.0.1:%S",
            0, {"problems ", "json chain/0/subject CN=Check Intermediate"});
        row("check: server without its chain, mended",
            server + kTestHost + ":%N --connect 127.0.0.1:%N --write-chain %O/chain.pem", 1,
            {"problems chain-incomplete", "order chain.pem www.check.test,Check Intermediate"});
        row("check: the server name is checked", server + "localhost:%S --connect 127.0.0.1:%S", 1,
            {"problems name-mismatch"});
        row("check: no server there", server + "127.0.0.1:1", 2, {"cannot be reached"});
        row("check: not a certificate", "check --cert %A/index.txt", 2, {"holds no certificate"});
        row("check: a key that does not open", "check --cert %F/server.crt --key %F/server.key", 2,
            {"pass phrase is wrong"});
        QTest::newRow("check: the chain never replaces an input")
            << splitCommandLine(files +
                                "sound.crt --key %A/sound.key --write-chain %A/sound.key --force")
            << QByteArray() << QStringList() << 1 << QStringList{"was read by the check"}
            << QStringList{"problems "};
        row("check: two inputs", "check --cert %A/sound.crt --pfx %A/aes.pfx", 2, {"Give one of"});
        // Every certificate of the chain is judged, and a chain is written only once it verifies.
        const QString sound = " --json --name " + kTestHost + " --cert %A/sound.crt";
        const QString written = " --write-chain %O/chain.pem";
        row("check: expired intermediate, no chain written",
            "check --ca-file %A/root.crt --chain %A/old-inter.crt" + sound + written, 1,
            {"problems expired", "json problems/0/certificate CN=Check Intermediate",
             "absent chain.pem"});
        row("check: issuer that is no authority, no chain written",
            "check --ca-file %A/root.crt --json --name leaf.check.test --cert %A/under-leaf.crt "
            "--chain %A/sound.crt --chain %A/inter.crt" +
                written,
            1,
            {"problems invalid-chain", "json problems/0/certificate CN=" + kTestHost,
             "absent chain.pem"});
        row("check: intermediate of the right name and another key, mended",
            "check --ca-file %A/root.crt --chain %A/rekeyed-inter.crt" + sound + written, 1,
            {"problems chain-incomplete", "order chain.pem www.check.test,Check Intermediate",
             "verifies chain.pem"});
        row("check: fetched issuer of another key, no chain written",
            "check --ca-file %A/root.crt --json --name " + kTestHost + " --cert %A/misled.crt" +
                written,
            1, {"problems chain-incomplete", "absent chain.pem"});
        row("check: a root that the server does not send", "check --chain %A/inter.crt" + sound, 1,
            {"problems untrusted-root"});
        row("check: a six-day certificate with half its days left", files + "fresh.crt", 0,
            {"problems "});
        row("check: expires-soon within the days given", files + "sound.crt --warn-days 400", 1,
            {"problems expires-soon"});
        row("check: a server that never answers", server + "--timeout 1 127.0.0.1:%T", 2,
            {"did not complete the TLS handshake within 1 seconds"});
        QTest::newRow("check: many servers, the worst status")
            << splitCommandLine(server +
                                "--parallel 2 --timeout 2 127.0.0.1:%T --hosts %F/hosts.txt")
            << QByteArray() << QStringList() << 2 << QStringList()
            << QStringList{"hosts 127.0.0.1:%T=error," + kTestHost + ":%S=," + kTestHost +
                           ":%N=chain-incomplete"};
        row("check: --connect with several servers", server + "--connect 127.0.0.1:1 a.test b.test",
            2, {"--connect goes with one server"});
        row("check: more than 20 certificates", "check --cert %A/many.pem", 2, {"at most 20"});
        row("check: a server that sends more than 64 KiB",
            server + kTestHost + ":%L --connect 127.0.0.1:%L", 2, {"at most 20"});
        // The chain file is replaced only with --force, and then whole.
        const QString chain = files + "sound.crt --write-chain %O/chain.pem";
        QTest::newRow("check: an existing chain file is kept without --force")
            << splitCommandLine(chain) << QByteArray() << QStringList{"chain.pem"} << 1
            << QStringList{"chain.pem\" exists; use --force to replace it."}
            << QStringList{"kept chain.pem"};
        QTest::newRow("check: --force replaces the chain file")
            << splitCommandLine(chain + " --force") << QByteArray() << QStringList{"chain.pem"} << 0
            << QStringList{"The chain was written to"}
            << QStringList{"problems ", "order chain.pem www.check.test,Check Intermediate"};
        row("check: --force without --write-chain", files + "sound.crt --force", 2,
            {"--force goes with --write-chain."});
        // A server's address as a browser shows it; its port is 443 unless it names one.
        row("check: an https address",
            server + "https://" + kTestHost + ":%S/ --connect 127.0.0.1:%S", 0,
            {"problems ", "json names/0 " + kTestHost});
        row("check: an https address is port 443", server + "https://127.0.0.1", 2,
            {"127.0.0.1:443:"});
        row("check: an https address with a path", server + "https://127.0.0.1:1/shop/", 2,
            {"127.0.0.1:1:"});
        row("check: an IPv6 address with its port", server + "[::1]:1", 2, {"[::1]:1:"});
        row("check: another scheme", server + "http://" + kTestHost + "/", 2,
            {"is not HOST[:PORT] or https://HOST[:PORT]/"});
        row("check: a port out of range", server + kTestHost + ":65536", 2, {"is not HOST[:PORT]"});
    }

    // What an authority sent, installed for each server; a failure keeps the earlier files.
    void installRows() {
        const QString encrypted = "install --key %A/sound.enc.key --passin file:%F/keypass.txt ";
        const QString plain = "install --key %A/sound.key --out %O ";
        const QString trusted = "--out %O --ca-file %A/root.crt ";
        const QString base = kTestHost;
        const QStringList earlier = {base + ".key", base + ".fullchain.pem"};
        const QStringList kept = {"kept " + earlier[0], "kept " + earlier[1],
                                  "absent " + base + ".pem"};
        const auto row = [](const char* name, const QString& arguments, const QStringList& existing,
                            int status, const QStringList& errors, const QStringList& checks) {
            QTest::newRow(name) << splitCommandLine(arguments) << QByteArray() << existing << status
                                << errors << checks;
        };
        row("install: nginx, a PKCS#7 answer and a triple-DES key",
            encrypted + trusted + "--cert %A/sound.p7b --for nginx", {}, 0, {},
            {"serve nginx " + base, "opens " + base + ".key -", "private " + base + ".key"});
        row("install: apache, a PEM chain in reverse order with its root",
            plain + "--cert %A/reversed.pem --for apache", {}, 0, {}, {"serve apache " + base});
        row("install: haproxy, a lone certificate, its intermediate from CA Issuers",
            plain + trusted + "--cert %A/sound.crt --for haproxy", {}, 0, {},
            {"serve haproxy " + base, "private " + base + ".pem", "opens " + base + ".pem -"});
        row("install: iis and indy, for older Windows, with a friendly name",
            encrypted + trusted +
                "--cert %A/sound.p7b --for iis --for indy --legacy "
                "--friendly-name Shop --passout file:%F/newpass.txt",
            {}, 0, {},
            {"serve iis " + base, "pfx " + base + ".pfx friendlyName: Shop",
             "pfx " + base + ".pfx pbeWithSHA1And3-KeyTripleDES-CBC", "opens key.pem new-pass-1",
             "order root.pem Check Intermediate"});
        row("install: nginx and apache, the key encrypted",
            plain + "--cert %A/reversed.pem --for nginx --for apache --encrypt-key --passout "
                    "file:%F/newpass.txt",
            {}, 0, {"ssl_password_file", "SSLPassPhraseDialog"},
            {"opens " + base + ".key new-pass-1", "asn1 " + base + ".key aes-256-cbc",
             "private " + base + ".key", "serve nginx " + base, "serve apache " + base});
        row("install: haproxy cannot read an encrypted key",
            plain + "--cert %A/sound.crt --for haproxy --encrypt-key --passout stdin", {}, 2,
            {"--encrypt-key cannot go with --for haproxy"}, {"absent " + base + ".pem"});
        row("install: the key of another certificate",
            "install --key %A/soon.key " + trusted +
                "--cert %A/sound.crt --for nginx "
                "--for haproxy --force",
            earlier, 1, {"The key %A/soon.key is not the key of the certificate CN=" + base + "."},
            kept);
        row("install: a chain that does not verify up to a trusted root",
            plain + "--cert %A/sound.crt --for nginx --for haproxy --force", earlier, 1,
            {"is not proven", "[chain-incomplete]"}, kept);
        row("install: existing files without --force",
            plain + trusted + "--cert %A/sound.crt --for nginx --for haproxy", earlier, 1,
            {"use --force"}, kept);
        row("install: existing files replaced with --force",
            plain + trusted + "--cert %A/sound.p7b --for nginx --force", earlier, 0, {},
            {"serve nginx " + base});
    }

  private slots:
    void initTestCase() {
        // A root, an intermediate signed by it, and a server key and certificate signed by the
        // intermediate; a bundle of all three.
        QVERIFY(makeKey(in("root.key"), QString()));
        QVERIFY(makeKey(in("inter.key"), QString()));
        QVERIFY(makeKey(in("server.key"), QStringLiteral("keypass")));
        runOpenSSL({"req", "-x509", "-new", "-key", in("root.key"), "-subj", "/CN=Root", "-out",
                    in("root.crt")});
        writeFileContent(in("ca.ext"), "basicConstraints=CA:TRUE\n");
        for (const auto& [name, key, pass, issuer, ext] :
             {std::tuple{"inter", "inter.key", "", "root", true},
              std::tuple{"server", "server.key", "keypass", "inter", false}}) {
            runOpenSSL({"req", "-new", "-key", in(key), "-passin", QStringLiteral("pass:") + pass,
                        "-subj", QStringLiteral("/CN=") + name, "-out", in("req.csr")});
            QStringList signing = {"x509",   "-req",
                                   "-in",    in("req.csr"),
                                   "-CA",    in(QString::fromLatin1(issuer) + ".crt"),
                                   "-CAkey", in(QString::fromLatin1(issuer) + ".key"),
                                   "-out",   in(QString::fromLatin1(name) + ".crt")};
            if (ext)
                signing << "-extfile" << in("ca.ext");
            runOpenSSL(signing);
        }
        writeFileContent(in("chain.pem"),
                         fileContent(in("inter.crt")) + fileContent(in("root.crt")));
        int status = -1;
        runOpenSSL({"pkcs12", "-export", "-inkey", in("server.key"), "-in", in("server.crt"),
                    "-certfile", in("chain.pem"), "-passin", "pass:keypass", "-passout",
                    "pass:bundlepass", "-out", in("server.pfx")},
                   &status);
        QCOMPARE(status, 0);
        writeFileContent(in("keypass.txt"), "keypass\nignored second line\n");
        writeFileContent(in("newpass.txt"), "new-pass-1\n");

        // One certificate for each problem, and sound ones.
        QVERIFY(authority.isValid());
        using Leaf = TestAuthority::Leaf;
        const QString caUsage = "basicConstraints=critical,CA:TRUE";
        const QString rsa = "-newkey rsa:1024";
        const QString ec224 = "-newkey ec -pkeyopt ec_paramgen_curve:P-224";
        const QString rsa2048 = "-newkey rsa:2048";
        const Leaf sound;
        const std::pair<const char*, Leaf> leaves[] = {
            {"sound", sound},
            {"expired", Leaf{sound.extensions, sound.newKey, -60, -1}},
            {"future", Leaf{sound.extensions, sound.newKey, 10, 400}},
            // A third of its 90 days left, and less than 30: it expires soon.
            {"soon", Leaf{sound.extensions, sound.newKey, -80, 10}},
            {"nosan", Leaf{{sound.extensions.last()}}},
            {"client", Leaf{{sound.extensions.first(), "extendedKeyUsage=clientAuth"}}},
            {"ca", Leaf{{sound.extensions.first(), caUsage}}},
            {"rsa1024", Leaf{sound.extensions, rsa}},
            {"ec224", Leaf{sound.extensions, ec224}},
            {"rsa2048", Leaf{sound.extensions, rsa2048}},
            {"ed25519", Leaf{sound.extensions, "-newkey ed25519"}},
            {"sha1", Leaf{sound.extensions, sound.newKey, -1, 365, "sha1"}},
            // Half of its six days left: not soon for its lifetime.
            {"fresh", Leaf{sound.extensions, sound.newKey, -3, 3}},
            // Issued by a server's certificate, which is no authority.
            {"under-leaf", Leaf{{"subjectAltName=DNS:leaf.check.test", sound.extensions.last()},
                                sound.newKey,
                                -1,
                                365,
                                "sha256",
                                false,
                                "sound",
                                "leaf.check.test"}},
            // Its "CA Issuers" serves an intermediate of the right name and another key.
            {"misled", Leaf{sound.extensions, sound.newKey, -1, 365, "sha256", false, "inter",
                            kTestHost, "rekeyed-inter.cer"}},
            {"self", Leaf{sound.extensions, sound.newKey, -1, 365, "sha1", true}}};
        QVERIFY(authority.intermediate("old-inter", -400, -30, false) &&
                authority.intermediate("rekeyed-inter", -1, 365, true));
        runOpenSSL({"x509", "-in", authority.file("rekeyed-inter.crt"), "-outform", "DER", "-out",
                    authority.file("rekeyed-inter.cer")});
        authority.web.serve("rekeyed-inter.cer", fileContent(authority.file("rekeyed-inter.cer")));
        for (const auto& [name, leaf] : leaves)
            QVERIFY2(authority.issue(name, leaf), name);
        // More certificates than a chain has: 21 in a file, more than 64 KiB from a server.
        for (const auto& [name, copies] : {std::pair{"many.pem", 21}, std::pair{"long.pem", 90}})
            writeFileContent(authority.file(name),
                             fileContent(authority.file("inter.crt")).repeated(copies));
        for (const auto& [name, protection] :
             {std::pair{"aes", ""},
              std::pair{"3des", "-certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1"}}) {
            runOpenSSL(splitCommandLine(QString("pkcs12 -export -inkey %A/sound.key -in "
                                                "%A/sound.crt -certfile %A/inter.crt -passout "
                                                "pass:bundlepass -out %A/%1.pfx %2")
                                            .arg(name, protection))
                           .replaceInStrings("%A", authority.folder()),
                       &status);
            QCOMPARE(status, 0);
        }
        // What authorities send: a PKCS#7, a chain in reverse order; a key of a request.
        for (const char* line :
             {"crl2pkcs7 -nocrl -certfile %A/sound.crt -certfile %A/inter.crt -outform DER -out "
              "%A/sound.p7b",
              "pkey -in %A/sound.key -des-ede3-cbc -passout pass:keypass -out %A/sound.enc.key"})
            QCOMPARE((runOpenSSL(splitCommandLine(line).replaceInStrings("%A", authority.folder()),
                                 &status),
                      status),
                     0);
        writeFileContent(authority.file("reversed.pem"),
                         fileContent(authority.file("root.crt")) +
                             fileContent(authority.file("inter.crt")) +
                             fileContent(authority.file("sound.crt")));
        withChainPort = startServer(withChain, "-cert_chain %A/inter.crt");
        withoutChainPort = startServer(withoutChain, "");
        longChainPort = startServer(longChain, "-cert_chain %A/long.pem");
        QVERIFY(!withChainPort.isEmpty() && !withoutChainPort.isEmpty() &&
                !longChainPort.isEmpty() && stalled.listen(QHostAddress::LocalHost));
        writeFileContent(in("hosts.txt"),
                         QString("# the servers of the test\n%1:%2 127.0.0.1:%2\n\n"
                                 "%1:%3 127.0.0.1:%3 # without its chain\n")
                             .arg(kTestHost, withChainPort, withoutChainPort)
                             .toUtf8());
    }

    void cleanupTestCase() {
        for (QProcess* server : {&withChain, &withoutChain, &longChain}) {
            server->kill();
            server->waitForFinished();
        }
    }

    void commands_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("existing"); // made in %O before the run
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<QStringList>("checks");

        const QStringList request = {"request",  "--domain",      "www.shop.test",
                                     "--domain", "api.shop.test", "--out",
                                     "%O",       "--passout",     "stdin"};
        const QStringList pfx = {"pfx",
                                 "--key",
                                 "%F/server.key",
                                 "--cert",
                                 "%F/server.crt",
                                 "--chain",
                                 "%F/inter.crt",
                                 "--chain",
                                 "%F/root.crt",
                                 "--out",
                                 "%O/site.pfx",
                                 "--passin",
                                 "file:%F/keypass.txt",
                                 "--passout",
                                 "stdin"};
        QTest::newRow("request, several names, ec384")
            << request + QStringList{"--key-type", "ec384", "--org", "Acme"}
            << QByteArray("req-pass-1\n") << QStringList() << 0 << QStringList()
            << QStringList{"opens www.shop.test.key req-pass-1",
                           "names www.shop.test.csr DNS:www.shop.test, DNS:shop.test, "
                           "DNS:api.shop.test"};
        QTest::newRow("selfsign, wildcard, rsa3072, term")
            << QStringList{"selfsign", "--domain", "*.shop.test", "--key-type", "rsa3072", "--days",
                           "10",       "--out",    "%O",          "--country",  "DE"}
            << QByteArray() << QStringList() << 0 << QStringList()
            << QStringList{"opens wildcard.shop.test.key -",
                           "names wildcard.shop.test.cer DNS:*.shop.test, DNS:shop.test",
                           "days wildcard.shop.test.cer 10"};
        QTest::newRow("pfx with the chain in order")
            << pfx + QStringList{"--name", "Site"} << QByteArray("bundlepass\n") << QStringList()
            << 0 << QStringList() << QStringList{"order site.pfx server,inter,Root"};
        QTest::newRow("pem from a pfx")
            << QStringList{"pem",   "--pfx",     "%F/server.pfx",       "--passin",
                           "stdin", "--passout", "file:%F/newpass.txt", "--out",
                           "%O"}
            << QByteArray("bundlepass\n") << QStringList() << 0 << QStringList()
            << QStringList{"opens key.pem new-pass-1", "order cert.pem server",
                           "order root.pem inter,Root"};
        QTest::newRow("pem from a key, certificate and chain")
            << QStringList{"pem",
                           "--key",
                           "%F/server.key",
                           "--cert",
                           "%F/server.crt",
                           "--chain",
                           "%F/inter.crt",
                           "--chain",
                           "%F/root.crt",
                           "--passin",
                           "file:%F/keypass.txt",
                           "--passout",
                           "stdin",
                           "--out",
                           "%O"}
            << QByteArray("new-pass-2\n") << QStringList() << 0 << QStringList()
            << QStringList{"opens key.pem new-pass-2", "order root.pem inter,Root"};
        QTest::newRow("pfx: the chain sorted, its intermediate fetched from CA Issuers")
            << splitCommandLine("pfx --key %A/sound.key --cert %A/sound.crt --chain %A/root.crt "
                                "--out %O/s.pfx --passout stdin")
            << QByteArray("bundlepass\n") << QStringList() << 0 << QStringList()
            << QStringList{"order s.pfx www.check.test,Check Intermediate,Check Root"};
        QTest::newRow("pem: the key of another certificate")
            << splitCommandLine("pem --key %A/soon.key --cert %A/sound.crt --chain %A/inter.crt "
                                "--chain %A/root.crt --passout stdin --out %O")
            << QByteArray("new-pass-2\n") << QStringList() << 1
            << QStringList{"soon.key is not the key of the certificate CN=www.check.test."}
            << QStringList{"absent key.pem", "absent cert.pem"};
        QTest::newRow("pfx: a chain that does not verify up to a trusted root")
            << splitCommandLine("pfx --key %A/sound.key --cert %A/sound.crt --chain %A/inter.crt "
                                "--out %O/s.pfx --passout stdin")
            << QByteArray("bundlepass\n") << QStringList() << 1
            << QStringList{"is not proven", "[untrusted-root]"} << QStringList{"absent s.pfx"};
        installRows();
        QTest::newRow("unknown option")
            << QStringList{"request", "--domian", "x.test"} << QByteArray() << QStringList() << 2
            << QStringList{"domian"} << QStringList{"absent x.test.key"};
        QTest::newRow("unknown command")
            << QStringList{"reqeust", "--domain", "x.test"} << QByteArray() << QStringList() << 2
            << QStringList{"\"reqeust\" is not a command",
                           "request, selfsign, pfx, pem, check, install, acme, renew"}
            << QStringList{"absent x.test.key"};
        QTest::newRow("an option first")
            << QStringList{"--domain", "x.test", "request"} << QByteArray() << QStringList() << 2
            << QStringList{"\"--domain\" is not a command"} << QStringList{"absent x.test.key"};
        QTest::newRow("pass:TEXT refused")
            << request.mid(0, 7) + QStringList{"--passout", "pass:secret"} << QByteArray()
            << QStringList() << 2 << QStringList{"every user"}
            << QStringList{"absent www.shop.test.key"};
        QTest::newRow("missing --domain")
            << QStringList{"selfsign", "--out", "%O"} << QByteArray() << QStringList() << 2
            << QStringList{"--domain"} << QStringList();
        QTest::newRow("--help-all is no help: nothing is made")
            << QStringList{"selfsign", "--domain", "x.test", "--out", "%O", "--help-all"}
            << QByteArray() << QStringList() << 2 << QStringList{"Unknown option 'help-all'."}
            << QStringList{"absent x.test.key"};
        QTest::newRow("unreadable input")
            << QStringList{"pfx",   "--key",    "%F/none.key", "--cert", "%F/server.crt",
                           "--out", "%O/x.pfx", "--passout",   "stdin"}
            << QByteArray("bundlepass\n") << QStringList() << 2 << QStringList{"none.key"}
            << QStringList{"absent x.pfx"};
        QTest::newRow("wrong passin")
            << QStringList{"pem",   "--pfx",     "%F/server.pfx",       "--passin",
                           "stdin", "--passout", "file:%F/newpass.txt", "--out",
                           "%O"}
            << QByteArray("wrong\n") << QStringList() << 1
            << QStringList{"Error running process.  Make sure that your password is correct.\n"
                           "The pass phrase is wrong"}
            << QStringList{"absent key.pem", "absent cert.pem"};
        QTest::newRow("pass phrase too short")
            << request << QByteArray("abc\n") << QStringList() << 1
            << QStringList{"at least 4 characters"} << QStringList{"absent www.shop.test.key"};
        QTest::newRow("folder that others can change")
            << QStringList{"selfsign", "--domain", "x.test", "--out", "/tmp"} << QByteArray()
            << QStringList() << 1 << QStringList{"can be changed by other users"} << QStringList();
        QTest::newRow("existing output without --force")
            << pfx << QByteArray("bundlepass\n") << QStringList{"site.pfx"} << 1
            << QStringList{"The file \"site.pfx\" exists; use --force to replace it."}
            << QStringList{"kept site.pfx"};
        QTest::newRow("existing outputs with --force")
            << request + QStringList{"--force"} << QByteArray("req-pass-3\n")
            << QStringList{"www.shop.test.key", "www.shop.test.csr"} << 0 << QStringList()
            << QStringList{"opens www.shop.test.key req-pass-3"};
        QTest::newRow("acme: a reload program that is not in the current folder")
            << splitCommandLine("acme --domain x.test --email a@x.test --standalone --out %O --for "
                                "nginx --reload ./reload.sh")
            << QByteArray() << QStringList() << 2
            << QStringList{"\"./reload.sh\" of the reload command does not exist"} << QStringList();
        QTest::newRow("acme: a pre-hook that only a shell could run")
            << splitCommandLine("acme --domain x.test --email a@x.test --standalone --out %O --for "
                                "nginx --pre-hook ./stop.sh;start.sh")
            << QByteArray() << QStringList() << 2
            << QStringList{"--pre-hook: The pre-hook holds \";\", which only a shell"}
            << QStringList();
        const QString dnsAcme = "acme --domain *.x.test --email a@x.test --out %O --for nginx ";
        QTest::newRow("acme: --dns together with --webroot")
            << splitCommandLine(dnsAcme + "--dns exec --dns-script %F/server.crt --webroot %O")
            << QByteArray() << QStringList() << 2
            << QStringList{"Give either --webroot DIR or --standalone", "Or give --dns KIND"}
            << QStringList();
        QTest::newRow("acme: an unknown kind of DNS validation")
            << splitCommandLine(dnsAcme + "--dns route53") << QByteArray() << QStringList() << 2
            << QStringList{"--dns: \"route53\" is not a kind of DNS validation"} << QStringList();
        QTest::newRow("acme: a TSIG secret for a DNS script")
            << splitCommandLine(dnsAcme + "--dns exec --dns-script %F/server.crt --tsig-secret "
                                          "env:HOME")
            << QByteArray() << QStringList() << 2
            << QStringList{"--tsig-secret belongs to --dns rfc2136 only."} << QStringList();
        QTest::newRow("acme: a DNS resolver without --dns")
            << splitCommandLine("acme --domain x.test --email a@x.test --out %O --for nginx "
                                "--standalone --dns-resolver 127.0.0.1")
            << QByteArray() << QStringList() << 2
            << QStringList{"--dns-resolver belongs to --dns exec or --dns rfc2136 only."}
            << QStringList();
        QTest::newRow("acme: no time to wait for the DNS record")
            << splitCommandLine(dnsAcme + "--dns exec --dns-script %F/server.crt --dns-wait 0")
            << QByteArray() << QStringList() << 2
            << QStringList{"--dns-wait: \"0\" is not a number of seconds"} << QStringList();
        QTest::newRow("acme: DNS updates without the TSIG key")
            << splitCommandLine(dnsAcme + "--dns rfc2136 --dns-server 127.0.0.1:53 --tsig-secret "
                                          "file:%F/newpass.txt")
            << QByteArray() << QStringList() << 2 << QStringList{"--tsig-key"} << QStringList();
        QTest::newRow("acme: a DNS script that cannot run")
            << splitCommandLine(dnsAcme + "--dns exec --dns-script %F/server.crt") << QByteArray()
            << QStringList() << 1
            << QStringList{"/server.crt\" is not a program that this computer can run"}
            << QStringList();
        checkRows();
        QTest::newRow("check without anything to check")
            << QStringList{"check"} << QByteArray() << QStringList() << 2
            << QStringList{"Give one of HOST[:PORT], --cert FILE or --pfx FILE."} << QStringList();
    }

    void commands() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, existing);
        QFETCH(int, status);
        QFETCH(QStringList, errors);
        QFETCH(QStringList, checks);
        QTemporaryDir out;
        const auto place = [&](QString text) {
            return text.replace(QStringLiteral("%F"), inputs.path())
                .replace(QStringLiteral("%O"), out.path())
                .replace(QStringLiteral("%A"), authority.folder())
                .replace(QStringLiteral("%S"), withChainPort)
                .replace(QStringLiteral("%N"), withoutChainPort)
                .replace(QStringLiteral("%L"), longChainPort)
                .replace(QStringLiteral("%T"), QString::number(stalled.serverPort()));
        };
        for (const QString& name : existing)
            writeFileContent(out.path() + QLatin1Char('/') + name, "old content\n");
        QStringList placed;
        for (const QString& argument : arguments)
            placed << place(argument);
        QProcess command;
        command.setWorkingDirectory(out.path());
        command.start(testPath("CERTWRIGHT_EXECUTABLE"), placed);
        command.write(input);
        command.closeWriteChannel();
        QVERIFY(command.waitForFinished(60000));
        const QString said = QString::fromLocal8Bit(command.readAllStandardError());
        const QByteArray printed = command.readAllStandardOutput();
        const QJsonObject report = QJsonDocument::fromJson(printed).object();
        QCOMPARE(command.exitCode(), status);
        for (const QString& error : errors)
            QVERIFY2(said.contains(place(error)), qPrintable(said));
        for (const QString& check : checks) {
            const QString kind = check.section(QLatin1Char(' '), 0, 0);
            const QString file =
                out.path() + QLatin1Char('/') + check.section(QLatin1Char(' '), 1, 1);
            const QString value = check.section(QLatin1Char(' '), 2);
            if (kind == QLatin1String("opens")) {
                QVERIFY2(keyOpens(file, value == QLatin1String("-") ? QString() : value),
                         qPrintable(check));
                QVERIFY2(value == QLatin1String("-") || !keyOpens(file, QStringLiteral("other")),
                         qPrintable(check));
            } else if (kind == QLatin1String("names")) {
                QVERIFY2(runOpenSSL({file.endsWith(".csr") ? "req" : "x509", "-in", file, "-noout",
                                     "-text"})
                             .contains(value),
                         qPrintable(check));
            } else if (kind == QLatin1String("order")) {
                QCOMPARE(certificateOrder(file), value);
            } else if (kind == QLatin1String("days")) {
                QCOMPARE(validityDays(file), value.toLongLong());
            } else if (kind == QLatin1String("hosts")) {
                // One JSON object a line: each server's host with its problems, or "error".
                QStringList found;
                for (const QByteArray& line : printed.split('\n')) {
                    const QJsonObject one = QJsonDocument::fromJson(line).object();
                    QStringList ids;
                    for (const QJsonValue& problem : one.value("problems").toArray())
                        ids << problem.toObject().value("id").toString();
                    if (!one.isEmpty())
                        found << one.value("host").toString() + "=" +
                                     (one.contains("error") ? QString("error") : ids.join('+'));
                }
                QCOMPARE(found.join(','), place(check.section(QLatin1Char(' '), 1)));
            } else if (kind == QLatin1String("problems")) {
                QStringList ids;
                for (const QJsonValue& problem : report.value("problems").toArray())
                    ids << problem.toObject().value("id").toString();
                QCOMPARE(ids.join(QLatin1Char(',')), check.section(QLatin1Char(' '), 1));
            } else if (kind == QLatin1String("json")) {
                QJsonValue found = report;
                for (const QString& part : check.section(QLatin1Char(' '), 1, 1).split('/'))
                    found = found.isArray() ? found.toArray().at(part.toInt())
                                            : found.toObject().value(part);
                QCOMPARE(found.toVariant().toString(), value);
            } else if (kind == QLatin1String("verifies")) {
                int verified = -1;
                runOpenSSL(
                    {"verify", "-CAfile", authority.file("root.crt"), "-untrusted", file, file},
                    &verified);
                QCOMPARE(verified, 0);
            } else if (kind == QLatin1String("private")) {
                QCOMPARE(QFileInfo(file).permissions() & 0x0fff,
                         QFile::ReadUser | QFile::WriteUser);
            } else if (kind == QLatin1String("asn1")) {
                QVERIFY2(runOpenSSL({"asn1parse", "-in", file}).contains(value), qPrintable(check));
            } else if (kind == QLatin1String("serve")) {
                serve(check.section(QLatin1Char(' '), 1, 1), out.filePath(value));
                if (QTest::currentTestFailed())
                    return;
            } else if (kind == QLatin1String("pfx")) {
                QVERIFY2(runOpenSSL({"pkcs12", "-info", "-nokeys", "-in", file, "-passin",
                                     "pass:new-pass-1"},
                                    nullptr, true)
                             .contains(value),
                         qPrintable(check));
            } else if (kind == QLatin1String("kept")) {
                QCOMPARE(fileContent(file), QByteArray("old content\n"));
            } else {
                QVERIFY2(!QFile::exists(file), qPrintable(check));
            }
        }
        // Nothing of the step's own stays behind, nor a new file that did not take its name.
        QCOMPARE(QDir(out.path()).entryList({"__*", ".*.new-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    // "certwright expiry" in a home of its own, step by step: each step is "STATUS ARGUMENTS" run
    // by the program, "chmod MODE PATH", or "record NAME DAYS-LEFT LIFETIME", a renewal record
    // whose output folder is gone, so that its renewal fails. The checks look at the last step:
    //   "out TEXT" / "err TEXT"    what it printed on standard output / error;
    //   "sources KIND,KIND.."      the JSON lines' sources, in order;
    //   "json N PATH VALUE"        a value of the Nth JSON line;
    //   "mode PATH OCTAL"          a file's mode ("%H" is the home);
    //   "ics FILE EVENTS"          the calendar holds that many events, its lines end in CRLF and
    //                              are at most 75 octets, and each certificate's two events fall on
    //                              the days that the JSON lines give.
    void expiry_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("checks");
        const QString server = "0 expiry --add " + kTestHost + ":%S";
        QTest::newRow("expiry: nothing known")
            << QStringList{"0 expiry"} << QStringList{"out No certificate is known"};
        QTest::newRow("expiry: a failed renewal, a file and a server, due first")
            << QStringList{"0 expiry --add %A/sound.crt", "0 expiry --add 127.0.0.1:%S",
                           "record r.test 10 90", "1 renew", "1 expiry --json"}
            << QStringList{"sources record,file,server",       "json 0 due true",
                           "json 0 lastRenewal/renewed false", "json 1 due false",
                           "json 2 names/0 " + kTestHost,      "json 2 daysLeft 364"};
        QTest::newRow("expiry: the list in words")
            << QStringList{"record r.test 40 90", "record s.test 1 6", "1 expiry"}
            << QStringList{"out s.test\n  where: %H/gone (renewal record)\n  expires:",
                           "out (1 days left)\n  due: now", "out last renewal: none yet",
                           "out \n\nr.test\n"};
        QTest::newRow("expiry: --add and --remove, the list private")
            << QStringList{"0 expiry --add %A/sound.crt", server,
                           "0 expiry --remove %A/../" + QFileInfo(authority.folder()).fileName() +
                               "/sound.crt",
                           "1 expiry --add https://" + kTestHost + ":%S/"}
            << QStringList{"err is watched already", "mode %H/config/certwright/watch 600",
                           "mode %H/config/certwright 700", "watched " + kTestHost + ":%S"};
        QTest::newRow("expiry: a watch list that others can change is not believed")
            << QStringList{"0 expiry --add %A/sound.crt", "chmod 0777 %H/config/certwright",
                           "1 expiry"}
            << QStringList{"err Other users could change what it lists."};
        QTest::newRow("expiry: a file that is not watched, a server without a port")
            << QStringList{"0 expiry --add " + kTestHost, "1 expiry --remove %A/sound.crt"}
            << QStringList{"err is not on the list", "watched " + kTestHost + ":443"};
        QTest::newRow("expiry: the calendar")
            << QStringList{"0 expiry --add %A/sound.crt", "record r.test 10 90",
                           "1 expiry --json --ics %H/cal.ics"}
            << QStringList{"ics cal.ics 4", "err The calendar was written to %H/cal.ics"};
        QTest::newRow("expiry: an existing calendar is kept without --force")
            << QStringList{"0 expiry --add %A/sound.crt", "0 expiry --ics %H/cal.ics",
                           "1 expiry --ics %H/cal.ics"}
            << QStringList{"err exists; use --force to replace it."};
        QTest::newRow("expiry: --force replaces the calendar")
            << QStringList{"0 expiry --add %A/sound.crt", "0 expiry --ics %H/cal.ics",
                           "0 expiry --json --ics %H/cal.ics --force"}
            << QStringList{"ics cal.ics 2"};
        QTest::newRow("expiry: expired and unreachable entries")
            << QStringList{"0 expiry --add %A/expired.crt", "0 expiry --add 127.0.0.1:%T",
                           "0 expiry --add 127.0.0.1:1", "1 expiry --json --timeout 1"}
            << QStringList{"sources server,server,file", "json 2 expired true",
                           "json 0 error The server at 127.0.0.1:%T did not complete the TLS "
                           "handshake within 1 seconds.",
                           "json 1 error No certificate could be read from 127.0.0.1:1: the "
                           "server cannot be reached or does not speak TLS there."};
        QTest::newRow("expiry: a six-day certificate at half its days is not due")
            << QStringList{"0 expiry --add %A/fresh.crt", "0 expiry --json --parallel 1"}
            << QStringList{"json 0 due false", "json 0 daysLeft 2"};
        for (const char* usage : {"--parallel 0", "--force", "--add %A/sound.crt --json",
                                  "--timeout x", "%A/sound.crt"})
            QTest::addRow("expiry: usage %s", usage)
                << QStringList{QStringLiteral("2 expiry ") + usage}
                << QStringList{"err Try \"certwright expiry --help\"."};
        for (const auto& [what, typed] : {std::pair{"a port out of range", "a.test:99999"},
                                          std::pair{"a line end", "\"%H/a\nb.pem\""}})
            QTest::addRow("expiry: neither a file nor a server, %s", what)
                << QStringList{QStringLiteral("2 expiry --add ") + typed}
                << QStringList{"err is neither a certificate file nor a server"};
    }
    void expiry() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, checks);
        QTemporaryDir home;
        const auto place = [&](QString text) {
            return text.replace("%A", authority.folder())
                .replace("%H", home.path())
                .replace("%S", withChainPort)
                .replace("%T", QString::number(stalled.serverPort()));
        };
        const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
        const QByteArray savedData = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_CONFIG_HOME", savedConfig);
            qputenv("XDG_DATA_HOME", savedData);
        });
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
        QString said;
        QByteArray printed;
        for (const QString& step : steps) {
            const QStringList words = splitCommandLine(place(step));
            if (words.first() == "chmod") {
                QCOMPARE(
                    ::chmod(QFile::encodeName(words[2]).constData(), words[1].toUInt(nullptr, 8)),
                    0);
                continue;
            }
            if (words.first() == "record") {
                const QDateTime expiry =
                    QDateTime::currentDateTimeUtc().addDays(words[2].toInt()).addSecs(3600);
                Acme::AcmeValues values;
                values.names = {words[1]};
                values.email = "admin@check.test";
                values.server = "https://127.0.0.1:1/dir";
                values.outputs = {ServerFiles::kForNginx};
                values.outFolder = home.filePath("gone");
                QVERIFY(!Renewal::writeRecord(values, expiry, expiry.addDays(-words[3].toInt()))
                             .first()
                             .isEmpty());
                continue;
            }
            QProcess command;
            command.setWorkingDirectory(home.path());
            command.start(testPath("CERTWRIGHT_EXECUTABLE"), words.mid(1));
            command.closeWriteChannel();
            QVERIFY(command.waitForFinished(60000));
            said = QString::fromLocal8Bit(command.readAllStandardError());
            printed = command.readAllStandardOutput();
            QVERIFY2(command.exitCode() == words.first().toInt(), qPrintable(step + ": " + said));
        }
        QList<QJsonObject> lines;
        for (const QByteArray& line : printed.split('\n'))
            if (const QJsonObject one = QJsonDocument::fromJson(line).object(); !one.isEmpty())
                lines << one;
        const auto value = [&lines](int at, const QString& path) {
            QJsonValue found = lines.value(at);
            for (const QString& part : path.split('/'))
                found = found.isArray() ? found.toArray().at(part.toInt())
                                        : found.toObject().value(part);
            return found.toVariant().toString();
        };
        for (const QString& check : checks) {
            const QString kind = check.section(' ', 0, 0);
            const QString rest = place(check.section(' ', 1));
            if (kind == "out" || kind == "err") {
                const QString text = kind == "out" ? QString::fromUtf8(printed) : said;
                QVERIFY2(text.contains(rest), qPrintable(text));
            } else if (kind == "sources") {
                QStringList sources;
                for (const QJsonObject& line : lines)
                    sources << line.value("source").toString();
                QCOMPARE(sources.join(','), rest);
            } else if (kind == "json") {
                QCOMPARE(value(rest.section(' ', 0, 0).toInt(), rest.section(' ', 1, 1)),
                         rest.section(' ', 2));
            } else if (kind == "mode") {
                struct stat status {};
                QCOMPARE(::stat(QFile::encodeName(rest.section(' ', 0, 0)).constData(), &status),
                         0);
                QCOMPARE(status.st_mode & 07777, rest.section(' ', 1).toUInt(nullptr, 8));
            } else if (kind == "watched") {
                QCOMPARE(fileContent(home.filePath("config/certwright/watch")),
                         rest.toUtf8() + '\n');
            } else {
                const QByteArray calendar = fileContent(home.filePath(rest.section(' ', 0, 0)));
                QVERIFY(calendar.startsWith("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"));
                QVERIFY(calendar.endsWith("END:VCALENDAR\r\n"));
                QCOMPARE(calendar.count("BEGIN:VEVENT"), rest.section(' ', 1).toInt());
                QCOMPARE(calendar.count("\n"), calendar.count("\r\n"));
                // Folded lines put back together, each event's start day by the certificate.
                QStringList days;
                for (const QByteArray& line : calendar.split('\n')) {
                    QVERIFY2(line.size() <= 76, line.constData());
                    if (line.startsWith("DTSTART;VALUE=DATE:"))
                        days << QString::fromLatin1(line.mid(19).trimmed());
                }
                QStringList expected;
                for (int at = 0; at < lines.size(); ++at)
                    for (const char* field : {"dueFrom", "notAfter"})
                        expected << QDateTime::fromString(value(at, field), Qt::ISODate)
                                        .date()
                                        .toString("yyyyMMdd");
                QCOMPARE(days, expected);
                const QString unfolded =
                    QString::fromUtf8(calendar).replace("\r\n ", "").replace("\r\n", "\n");
                QVERIFY2(unfolded.contains("SUMMARY:Renew the certificate of " + kTestHost + "\n"),
                         qPrintable(unfolded));
            }
        }
    }

    // Pass phrases typed at a terminal (a pseudo-terminal that is the command's controlling
    // terminal): asked twice and compared, never echoed, and a Ctrl-C at the prompt ends the
    // command with nothing made. Each answer is typed once the next prompt is shown and the
    // echo is off, as a person would.
    void terminalPrompt_data() {
        QTest::addColumn<QByteArrayList>("typed");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("the same twice")
            << QByteArrayList{"typed-pass-1\n", "typed-pass-1\n"} << 0 << QString();
        QTest::newRow("two different") << QByteArrayList{"typed-pass-1\n", "typed-pass-2\n"} << 1
                                       << QStringLiteral("must match");
        QTest::newRow("Ctrl-C at the second prompt")
            << QByteArrayList{"typed-pass-1\n", "\x03"} << 1 << QStringLiteral("ended by a signal");
        // Continued after Ctrl-Z, the prompt is shown again with the echo off.
        QTest::newRow("Ctrl-Z at the second prompt, then fg")
            << QByteArrayList{"typed-pass-1\n", "\x1a", "typed-pass-1\n"} << 0 << QString();
    }

    void terminalPrompt() {
        QFETCH(QByteArrayList, typed);
        QFETCH(int, status);
        QFETCH(QString, error);
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        const auto closeBoth = qScopeGuard([&] {
            ::close(terminal);
            ::close(master);
        });
        QVERIFY(terminal >= 0);
        const auto echoOff = [terminal] {
            termios state{};
            return ::tcgetattr(terminal, &state) == 0 && !(state.c_lflag & ECHO);
        };
        QTemporaryDir out;
        QProcess command;
        command.setWorkingDirectory(out.path());
        command.setChildProcessModifier([terminal] {
            ::setsid();
            ::ioctl(terminal, TIOCSCTTY, 0);
            ::dup2(terminal, STDIN_FILENO);
        });
        command.start(testPath("CERTWRIGHT_EXECUTABLE"),
                      {"request", "--domain", "www.shop.test", "--out", out.path()});
        QString said;
        for (qsizetype prompt = 1; prompt <= typed.size(); ++prompt) {
            QTRY_VERIFY_WITH_TIMEOUT(
                (said += QString::fromLocal8Bit(command.readAllStandardError()),
                 said.count(QStringLiteral("pass phrase: ")) == prompt && echoOff()),
                10000);
            const QByteArray& answer = typed.at(prompt - 1);
            QCOMPARE(::write(master, answer.constData(), answer.size()), answer.size());
            if (answer == "\x1a") {
                // Stopped (no shell above it could stop it), the echo on again, continued.
                const qint64 program = command.processId();
                const QString stat = QStringLiteral("/proc/%1/stat").arg(program);
                QCOMPARE(::kill(pid_t(program), SIGSTOP), 0);
                QTRY_VERIFY_WITH_TIMEOUT(fileContent(stat).split(' ').value(2) == "T", 10000);
                termios shell{};
                QCOMPARE(::tcgetattr(terminal, &shell), 0);
                shell.c_lflag |= ECHO;
                QCOMPARE(::tcsetattr(terminal, TCSANOW, &shell), 0);
                QCOMPARE(::kill(pid_t(program), SIGCONT), 0);
            }
        }
        QVERIFY(command.waitForFinished(60000));
        said += QString::fromLocal8Bit(command.readAllStandardError());
        QCOMPARE(command.exitCode(), status);
        QVERIFY2(said.contains(error), qPrintable(said));
        QVERIFY(!echoOff());
        // What the terminal showed holds no pass phrase.
        char shown[4096];
        const ssize_t got = ::read(master, shown, sizeof shown);
        QVERIFY(!QByteArray(shown, int(std::max<ssize_t>(got, 0))).contains("typed-pass"));
        const QString key = out.filePath(QStringLiteral("www.shop.test.key"));
        QCOMPARE(QFile::exists(key), status == 0);
        QVERIFY(status != 0 || keyOpens(key, QStringLiteral("typed-pass-1")));
        QCOMPARE(QDir(out.path()).entryList({"__*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void helpListsTheCommandsAndTheirOptions() {
        QProcess program;
        program.start(testPath("CERTWRIGHT_EXECUTABLE"), {"--help"});
        QVERIFY(program.waitForFinished(10000));
        const QString help = QString::fromLatin1(program.readAllStandardOutput());
        for (const char* command : {"request", "selfsign", "pfx", "pem", "check", "acme", "renew"})
            QVERIFY2(help.contains(QLatin1String(command)), command);
        program.start(testPath("CERTWRIGHT_EXECUTABLE"), {"pem", "--help"});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(program.readAllStandardOutput().contains("--passout <SOURCE>"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
