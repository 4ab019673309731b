#include "PebbleFixture.h"
#include "TestAuthority.h"
#include "TestSupport.h"
#include "uAcme.h"
#include "uCertwrightCommon.h"
#include "uReloadCommand.h"
#include "uRenewal.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// The user of an issuance that asks nothing.
class SilentUser : public ToolSteps::StepUser {
  public:
    PassPhrases askPassPhrases(PassPhraseUse) override { return {}; }
    bool mayReplace(const QString&, bool) override { return false; }
    void tell(const QString&) override {}
};

// Knot, the authoritative DNS server, as the test's own process on a free loopback port: the zone
// dns.test, which the TSIG key "certwright." may update.
class KnotServer {
  public:
    ~KnotServer() {
        knotd.terminate();
        knotd.waitForFinished(5000);
    }
    QString start() {
        port = freeLoopbackPort();
        int status = -1;
        secret = runOpenSSL({"rand", "-base64", "32"}, &status).trimmed();
        if (status != 0)
            return "openssl could not make the TSIG secret";
        writeFileContent(folder.filePath("dns.test.zone"),
                         "$ORIGIN dns.test.\n$TTL 60\n@ SOA ns hostmaster 1 3600 600 86400 60\n"
                         "@ NS ns\nns A 127.0.0.1\n@ A 127.0.0.1\n");
        const QByteArray where = folder.path().toUtf8();
        writeFileContent(
            folder.filePath("knot.conf"),
            "server:\n  rundir: \"" + where + "\"\n  listen: 127.0.0.1@" +
                QByteArray::number(port) + "\nlog:\n  - target: stderr\n    any: info\n" +
                "database:\n  storage: \"" + where + "/db\"\nkey:\n  - id: certwright.\n" +
                "    algorithm: hmac-sha256\n    secret: " + secret.toUtf8() +
                "\nacl:\n  - id: update\n    key: certwright.\n    action: update\n" +
                "zone:\n  - domain: dns.test\n    storage: \"" + where +
                "\"\n    file: dns.test.zone\n    acl: update\n    zonefile-sync: -1\n" +
                "    journal-content: none\n");
        QDir(folder.path()).mkpath("db");
        knotd.setProcessChannelMode(QProcess::MergedChannels);
        knotd.start("knotd", {"-c", folder.filePath("knot.conf")});
        for (int waited = 0; waited < 20000; waited += 100) {
            QTcpSocket probe;
            probe.connectToHost("127.0.0.1", quint16(port));
            if (probe.waitForConnected(100))
                return QString();
            QThread::msleep(100);
        }
        return "knotd did not start: " + QString::fromLocal8Bit(knotd.readAll());
    }
    QString address() const { return "127.0.0.1:" + QString::number(port); }

    QTemporaryDir folder;
    QProcess knotd;
    QString secret;
    int port = 0;
};

// Certificates from Pebble, the ACME authority's test server, on loopback, through the real
// `certwright acme` and `renew` commands with the real lego and openssl. Each issuance is
// proven by serving the files with openssl s_server to an s_client that trusts Pebble's root
// alone and checks the name.
class TestAcme : public QObject {
    Q_OBJECT

    PebbleFixture pebble{300};
    // Started for the first row that updates Knot: Pebble looks names up there.
    KnotServer knot;
    std::unique_ptr<PebbleFixture> knotAuthority;
    QTemporaryDir data; // XDG_DATA_HOME of the commands: lego's state and the records
    const QString passPhrase = QStringLiteral("acme-pass-1");

    struct Ran {
        int status = -1;
        QString out;
        QString err;
    };

    // Runs certwright while this event loop keeps the test's web server answering.
    Ran certwright(const QStringList& arguments, const QStringList& prefix = {},
                   const QProcessEnvironment& extra = {}) {
        QProcess command;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", data.path());
        environment.insert(extra);
        command.setProcessEnvironment(environment);
        QSignalSpy finished(&command, &QProcess::finished);
        const QStringList line =
            prefix + QStringList{testPath("CERTWRIGHT_EXECUTABLE")} + arguments;
        command.start(line.first(), line.mid(1));
        command.closeWriteChannel();
        if (!finished.wait(120000))
            command.kill();
        return {command.exitCode(), QString::fromLocal8Bit(command.readAllStandardOutput()),
                QString::fromLocal8Bit(command.readAllStandardError())};
    }

    QStringList acmeArguments(const QStringList& names, const QString& out) const {
        QStringList arguments = {"acme", "--email", "admin@example.com", "--agree-tos"};
        arguments << "--webroot" << pebble.webRoot() << "--server" << pebble.directoryUrl();
        arguments << "--out" << out;
        for (const QString& name : names)
            arguments << "--domain" << name;
        return arguments;
    }

    // The key and certificates, served by s_server, satisfy an s_client that trusts Pebble's
    // root alone and checks each name.
    void verifyServed(const QStringList& serverFiles, const QStringList& names,
                      const QString& root = QString()) {
        QProcess server;
        const int port = startTlsServer(
            server, QStringList{"-naccept", QString::number(names.size())} + serverFiles);
        QVERIFY(port);
        for (const QString& name : names) {
            QProcess client;
            client.start("openssl",
                         {"s_client", "-connect", "127.0.0.1:" + QString::number(port),
                          "-servername", name, "-verify_return_error", "-verify_hostname", name,
                          "-CAfile", root.isEmpty() ? pebble.root() : root});
            client.closeWriteChannel();
            QVERIFY(client.waitForFinished(20000));
            const QString said = QString::fromLocal8Bit(client.readAll());
            QVERIFY2(client.exitCode() == 0 && said.contains("Verify return code: 0 (ok)"),
                     qPrintable(name + ": " + said + QString::fromLocal8Bit(server.readAll())));
        }
        QVERIFY(server.waitForFinished(10000));
    }

    // What each output kind makes, proven: the key and full chain of nginx and Apache serve, and
    // so does HAProxy's one file, the chain before the key; the .pfx holds the server's
    // certificate and its chain, and serves; key.pem opens with the pass phrase only, and with
    // cert.pem and root.pem serves.
    void proveOutputs(const QString& out, const QStringList& kinds, const QStringList& names) {
        const QString base = out + "/" + names.first();
        if (kinds.contains("haproxy")) {
            const QByteArray combined = fileContent(base + ".pem");
            QCOMPARE(statOf(base + ".pem").st_mode, mode_t(S_IFREG | 0600));
            QCOMPARE(combined.count("BEGIN CERTIFICATE"), 2);
            QVERIFY(combined.indexOf("BEGIN PRIVATE KEY") >
                    combined.lastIndexOf("END CERTIFICATE"));
            verifyServed(
                {"-cert", base + ".pem", "-cert_chain", base + ".pem", "-key", base + ".pem"},
                names);
        }
        if (kinds.contains("nginx") || kinds.contains("apache")) {
            QCOMPARE(statOf(base + ".key").st_mode, mode_t(S_IFREG | 0600));
            verifyServed({"-cert", base + ".fullchain.pem", "-cert_chain", base + ".fullchain.pem",
                          "-key", base + ".key"},
                         names);
        }
        if (kinds.contains("iis")) {
            const QString all = out + "/all.tmp";
            int status = -1;
            runOpenSSL({"pkcs12", "-in", base + ".pfx", "-passin", "pass:" + passPhrase, "-nodes",
                        "-out", all},
                       &status);
            QCOMPARE(status, 0);
            QCOMPARE(fileContent(all).count("BEGIN CERTIFICATE"), 2);
            verifyServed({"-cert", all, "-cert_chain", all, "-key", all}, names);
            QFile::remove(all);
        }
        if (kinds.contains("indy")) {
            for (const auto& [pass, opens] :
                 {std::pair{passPhrase, 0}, std::pair{QString("x"), 1}}) {
                int status = -1;
                runOpenSSL({"pkey", "-in", out + "/key.pem", "-noout", "-passin", "pass:" + pass},
                           &status);
                QCOMPARE(status != 0, bool(opens));
            }
            verifyServed({"-cert", out + "/cert.pem", "-cert_chain", out + "/root.pem", "-key",
                          out + "/key.pem", "-pass", "pass:" + passPhrase},
                         names);
        }
    }

    // The data folder of the records written here; its blank is quoted in the units.
    QTemporaryDir records{QDir::tempPath() + "/tst_acme records-XXXXXX"};

    // A record that is not due, written by this process into records.
    QString writeRecord(const QString& name, const QString& friendlyName = {}) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(records.path()));
        Acme::AcmeValues values;
        values.names = {name};
        values.outputs = {"nginx"};
        values.friendlyName = friendlyName;
        return Renewal::writeRecord(values, QDateTime::currentDateTimeUtc().addDays(90)).first();
    }

    static struct stat statOf(const QString& path) {
        struct stat status {};
        ::lstat(QFile::encodeName(path).constData(), &status);
        return status;
    }

    static QStringList challengeLeftovers(const QString& webRoot) {
        return QDir(webRoot + "/.well-known/acme-challenge").entryList(QDir::Files | QDir::Hidden);
    }

  private slots:
    void initTestCase() {
        const QString problem = pebble.start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        writeFileContent(pebble.path("pass.txt"), passPhrase.toUtf8() + "\n");
    }

    // Each row issues for fresh names, so that Pebble cannot reuse an earlier validation.
    void issuance_data() {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("kinds"); // --for
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("served");       // the web root is served on Pebble's port
        QTest::addColumn<bool>("ordinaryUser"); // run as nobody, the web root root's own
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");

        const QStringList trusted = {"--ca-bundle", "%P"};
        QTest::newRow("nginx, two names")
            << QStringList{"www.nginx.test", "nginx.test"} << QStringList{"nginx"} << trusted
            << true << false << 0 << QString();
        QTest::newRow("iis, rsa2048, older Windows")
            << QStringList{"iis.test", "www.iis.test"} << QStringList{"iis"}
            << trusted + QStringList{"--key-type", "rsa2048", "--legacy"} << true << false << 0
            << QString();
        QTest::newRow("indy, ec384")
            << QStringList{"indy.test", "api.indy.test"} << QStringList{"indy"}
            << trusted + QStringList{"--key-type", "ec384"} << true << false << 0 << QString();
        QTest::newRow("every kind and the reload command")
            << QStringList{"all.test", "www.all.test"}
            << QStringList{"nginx", "apache", "haproxy", "iis", "indy"}
            << trusted + QStringList{"--reload", "touch \"%O/reloaded file\""} << true << false << 0
            << QString();
        QTest::newRow("web root not served")
            << QStringList{"down.test"} << QStringList{"nginx", "indy"} << trusted << false << false
            << 1
            << "The authority could not reach http://down.test:%H/.well-known/acme-challenge/…: "
               "connection refused. Does down.test point at this server, and is port %H open?";
        QTest::newRow("authority not trusted")
            << QStringList{"trust.test"} << QStringList{"nginx"} << QStringList() << true << false
            << 1 << "HTTPS certificate at %D is not trusted";
        QTest::newRow("terms not agreed")
            << QStringList{"terms.test"} << QStringList{"nginx"}
            << trusted + QStringList{"--no-agree"} << true << false << 2 << "--agree-tos";
        QTest::newRow("wildcard") << QStringList{"*.wild.test"} << QStringList{"nginx"} << trusted
                                  << true << false << 1 << "only through DNS records";
        // Another user may write the home above the data folder, where lego keeps the keys.
        QTest::newRow("data folder shared through an ACL")
            << QStringList{"shared.test"} << QStringList{"nginx"}
            << trusted + QStringList{"--shared-home"} << true << false << 1
            << "cannot be used for this program's data: an access control list lets the user "
               "\"nobody\" write to";
        QTest::newRow("web root not writable")
            << QStringList{"user.test"} << QStringList{"nginx"} << QStringList() << true << true
            << 1 << "This program cannot write .well-known/acme-challenge/";
    }

    void issuance() {
        QFETCH(QStringList, names);
        QFETCH(QStringList, kinds);
        QFETCH(QStringList, extra);
        QFETCH(bool, served);
        QFETCH(bool, ordinaryUser);
        QFETCH(int, status);
        QFETCH(QString, error);
        QTemporaryDir out;
        QStringList arguments = acmeArguments(names, out.path());
        if (extra.removeAll("--no-agree"))
            arguments.removeAll("--agree-tos");
        const bool sharedHome = extra.removeAll("--shared-home");
        for (const QString& kind : kinds)
            arguments << "--for" << kind;
        if (kinds.contains("iis") || kinds.contains("indy"))
            arguments << "--passout"
                      << "file:" + pebble.path("pass.txt");
        for (QString argument : extra)
            arguments << argument.replace("%P", pebble.caBundle()).replace("%O", out.path());
        // An earlier output that a failure must leave as it was.
        const QString earlier = out.filePath(names.first() + ".key");
        writeFileContent(earlier, "earlier key\n");
        QStringList prefix;
        QProcessEnvironment environment;
        QTemporaryDir home;
        QTemporaryDir rootsWebRoot;
        if (sharedHome) {
            QVERIFY(QProcess::execute("setfacl", {"-m", "u:nobody:rwx", home.path()}) == 0);
            environment.insert("XDG_DATA_HOME", home.path() + "/data");
        }
        if (ordinaryUser) {
            // nobody's own folders; a web root that stays root's, which nobody may only read.
            for (const QString& folder : {out.path(), home.path()})
                QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
            QVERIFY(QFile::setPermissions(rootsWebRoot.path(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther));
            arguments[arguments.indexOf(pebble.webRoot())] = rootsWebRoot.path();
            for (const char* variable : {"XDG_DATA_HOME", "XDG_RUNTIME_DIR", "HOME"})
                environment.insert(variable, home.path());
            prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        }
        arguments << "--force";
        pebble.setServed(served);
        const Ran ran = certwright(arguments, prefix, environment);
        pebble.setServed(true);
        QVERIFY2(ran.status == status, qPrintable(ran.err));
        error.replace("%H", QString::number(pebble.httpPort()))
            .replace("%D", pebble.directoryUrl());
        QVERIFY2(ran.err.contains(error), qPrintable(ran.err));
        QCOMPARE(challengeLeftovers(pebble.webRoot()), QStringList());
        if (status != 0) {
            QCOMPARE(fileContent(earlier), QByteArray("earlier key\n"));
            QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{QFileInfo(earlier).fileName()});
            return;
        }
        QVERIFY(ran.err.contains("The authority is checking http://" + names.first() +
                                 "/.well-known/acme-challenge/…"));
        proveOutputs(out.path(), kinds, names);
        QCOMPARE(QFile::exists(out.filePath("reloaded file")),
                 extra.contains("touch \"%O/reloaded file\""));
        QCOMPARE(QDir(out.path()).entryList({"__*", ".certwright*"}, QDir::Files | QDir::Hidden),
                 QStringList());
    }

    // A wildcard and its bare name through a DNS record: set by a script through challtestsrv's
    // API, or by updates to Knot with a TSIG key (Pebble then looks the records up at Knot). The
    // record keeps what a renewal needs, the TSIG secret in a private file beside it.
    void dnsValidation_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("script, a wildcard and its bare name")
            << "exec" << QStringList{"*.exec.test", "exec.test"}
            << QStringList{"--dns-resolver", "%R"} << 0 << QString();
        // Debian's lego 4 cannot wait instead of asking: refused before anything is ordered.
        QTest::newRow("script without resolver")
            << "exec" << QStringList{"wait.exec.test"} << QStringList() << 1
            << "does not offer --dns.propagation-wait";
        QTest::newRow("updates at Knot, a wildcard and its bare name, renewed")
            << "rfc2136" << QStringList{"*.dns.test", "dns.test"} << QStringList() << 0
            << QString();
        QTest::newRow("updates at Knot, a wrong TSIG secret")
            << "rfc2136" << QStringList{"wrong.dns.test"}
            << QStringList{"--tsig-secret", "env:WRONG_SECRET"} << 1
            << "The DNS server refused to update the record for wrong.dns.test: bad "
               "authentication. Please check the TSIG key's name, secret and algorithm";
    }
    void dnsValidation() {
        QFETCH(QString, kind);
        QFETCH(QStringList, names);
        QFETCH(QStringList, extra);
        QFETCH(int, status);
        QFETCH(QString, error);
        PebbleFixture* authority = &pebble;
        QTemporaryDir out;
        // Records of their own, which name files that go with the folder: the other tests'
        // renewals of every record must not meet them.
        QProcessEnvironment home;
        home.insert("XDG_DATA_HOME", out.filePath("data"));
        QProcessEnvironment environment = home;
        QStringList arguments = {"--dns", kind};
        if (kind == "exec") {
            const QString script = out.filePath("set-record.sh");
            writeFileContent(
                script,
                "#!/bin/sh\necho \"$1 $2\" >> \"$0.log\"\ncase $1 in\n"
                "present) curl -sSf -d \"{\\\"host\\\":\\\"$2\\\",\\\"value\\\":\\\"$3\\\"}\" " +
                    pebble.challengeManagement().toUtf8() +
                    "/set-txt;;\ncleanup) curl -sSf -d \"{\\\"host\\\":\\\"$2\\\"}\" " +
                    pebble.challengeManagement().toUtf8() + "/clear-txt;;\nesac\n");
            QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
            arguments << "--dns-script" << script;
        } else {
            if (!knotAuthority) {
                const QString problem = knot.start();
                QVERIFY2(problem.isEmpty(), qPrintable(problem));
                knotAuthority = std::make_unique<PebbleFixture>(300);
                const QString started = knotAuthority->start(knot.address());
                QVERIFY2(started.isEmpty(), qPrintable(started));
            }
            authority = knotAuthority.get();
            environment.insert("TSIG_SECRET", knot.secret);
            environment.insert("WRONG_SECRET", "d3JvbmcgVFNJRyBzZWNyZXQgZm9yIHRoZSB0ZXN0Lg==");
            arguments << "--dns-server" << knot.address() << "--tsig-key"
                      << "certwright.";
            if (!extra.contains("--tsig-secret"))
                arguments << "--tsig-secret"
                          << "env:TSIG_SECRET";
        }
        for (const QString& argument : extra)
            arguments << QString(argument).replace("%R", pebble.dnsAddress());
        arguments << "--email"
                  << "admin@example.com"
                  << "--agree-tos"
                  << "--server" << authority->directoryUrl() << "--ca-bundle"
                  << authority->caBundle() << "--out" << out.path() << "--for"
                  << "nginx";
        for (const QString& name : names)
            arguments << "--domain" << name;
        Ran ran = certwright(QStringList{"acme"} + arguments, {}, environment);
        QVERIFY2(ran.status == status && ran.err.contains(error), qPrintable(ran.err));
        const QString base = out.path() + "/" + QString(names.first()).replace("*", "wildcard");
        if (status != 0) {
            QVERIFY(!QFile::exists(base + ".key"));
            return;
        }
        QStringList served = names;
        served.replaceInStrings("*", "any");
        verifyServed({"-cert", base + ".fullchain.pem", "-cert_chain", base + ".fullchain.pem",
                      "-key", base + ".key"},
                     served, authority->root());
        if (kind == "exec") {
            const QByteArray calls = fileContent(out.filePath("set-record.sh.log"));
            QCOMPARE(calls.count("present _acme-challenge.exec.test."), 2);
            QCOMPARE(calls.count("cleanup _acme-challenge.exec.test."), 2);
            return;
        }
        const QString record =
            out.filePath("data/certwright/renewals/") + QFileInfo(base).fileName();
        QCOMPARE(statOf(record + ".tsig").st_mode, mode_t(S_IFREG | 0600));
        QCOMPARE(fileContent(record + ".tsig"), knot.secret.toUtf8());
        ran = certwright({"renew", "--list"}, {}, home);
        QVERIFY2(ran.out.contains("challenge: a DNS record updated at " + knot.address() +
                                  " with the TSIG key certwright."),
                 qPrintable(ran.out));
        // The renewal reads the secret back from its file: the environment has it no longer.
        const QByteArray before = fileContent(base + ".fullchain.pem");
        ran = certwright({"renew", "--all", "--name", names.first()}, {}, home);
        QVERIFY2(ran.status == 0, qPrintable(ran.err + ran.out));
        QVERIFY(fileContent(base + ".fullchain.pem") != before);
        verifyServed({"-cert", base + ".fullchain.pem", "-cert_chain", base + ".fullchain.pem",
                      "-key", base + ".key"},
                     served, authority->root());
    }

    // Pebble's certificates last five minutes: a renewal for those that end within a day makes
    // a new certificate and replaces every output with one made from it.
    void renewalReplacesEveryOutput() {
        QTemporaryDir out;
        const QStringList names = {"renew.test", "www.renew.test"};
        const QStringList outputs = {"renew.test.key", "renew.test.fullchain.pem",
                                     "renew.test.pfx", "key.pem",
                                     "cert.pem",       "root.pem"};
        const QString reloaded = out.filePath("reloaded file");
        Ran ran = certwright(acmeArguments(names, out.path()) +
                             QStringList{"--ca-bundle", pebble.caBundle(), "--for", "nginx",
                                         "--for", "iis", "--for", "indy", "--passout",
                                         "file:" + pebble.path("pass.txt"), "--reload",
                                         "touch '" + reloaded + "'"});
        QVERIFY2(ran.status == 0, qPrintable(ran.err));
        QMap<QString, QByteArray> before;
        QMap<QString, ino_t> inodes;
        for (const QString& name : outputs) {
            before[name] = fileContent(out.filePath(name));
            inodes[name] = statOf(out.filePath(name)).st_ino;
        }
        const QString records = data.path() + "/certwright/renewals/";
        for (const char* record : {"renew.test.json", "renew.test.pass"})
            QCOMPARE(statOf(records + record).st_mode, mode_t(S_IFREG | 0600));
        // lego's state, its account key among it, is the user's alone.
        for (QDirIterator state(data.path() + "/certwright/acme", QDir::Files,
                                QDirIterator::Subdirectories);
             state.hasNext();)
            QVERIFY2((statOf(state.next()).st_mode & 077) == 0, qPrintable(state.filePath()));
        ran = certwright({"renew", "--list"});
        QVERIFY(ran.out.contains("renew.test\n  names: renew.test, www.renew.test\n  expires: "));
        QVERIFY(ran.out.contains("outputs: nginx, iis, indy in " + out.path()));
        // Its own lines: the short-lived certificates of the other cases may be due by now.
        const QString listed = ran.out.mid(ran.out.indexOf("renew.test\n  names:"))
                                   .section(QRegularExpression("\n(?! )"), 0, 0);
        QVERIFY2(ran.out.contains(" UTC (0 days left)\n") && !listed.contains("due: now") &&
                     ran.out.contains("challenge: files in the web root " + pebble.webRoot()) &&
                     ran.out.contains("last renewal: none yet"),
                 qPrintable(ran.out));
        QVERIFY2(ran.out.contains("  reload: " + QStandardPaths::findExecutable("touch") + " '" +
                                  reloaded + "'\n"),
                 qPrintable(ran.out));
        QVERIFY(QFile::remove(reloaded));
        // Due by its lifetime: a five-minute certificate only when less than 100 seconds are left.
        for (const QStringList& lifetime : {QStringList{"--days", "0"}, QStringList()}) {
            ran = certwright(QStringList{"renew", "--name", "renew.test"} + lifetime);
            QVERIFY2(ran.status == 0 && ran.out.contains("No certificate is due"),
                     qPrintable(ran.out + ran.err));
        }
        // A dry run obtains and proves a certificate, and changes no file, record or reload.
        const QByteArray recorded = fileContent(records + "renew.test.json");
        ran = certwright({"renew", "--dry-run", "--all", "--name", "renew.test"});
        QVERIFY2(ran.status == 0 && ran.out.contains("renew.test would renew"),
                 qPrintable(ran.err));
        QVERIFY(!QFile::exists(reloaded) && fileContent(records + "renew.test.json") == recorded);
        for (const QString& name : outputs)
            QCOMPARE(statOf(out.filePath(name)).st_ino, inodes[name]);
        ran = certwright({"renew", "--days", "1", "--name", "renew.test"});
        QVERIFY2(ran.status == 0 && ran.out.contains("Renewed renew.test."), qPrintable(ran.err));
        QVERIFY(QFile::exists(reloaded));
        // The authorities' certificates stay the same; their file is made anew all the same.
        for (const QString& name : outputs)
            QVERIFY2(statOf(out.filePath(name)).st_ino != inodes[name] &&
                         (name == "root.pem" || fileContent(out.filePath(name)) != before[name]),
                     qPrintable(name));
        proveOutputs(out.path(), {"nginx", "iis", "indy"}, names);
        // A renewal that fails leaves every output as it was, and says which certificate.
        for (const QString& name : outputs)
            before[name] = fileContent(out.filePath(name));
        // Each failure is one line of standard error that names its certificate (others' records
        // fail here too), an error for the journal when it is the journal's stream.
        const auto oneLineEach = [](const QString& err, const QString& priority) {
            static const QRegularExpression line("^[*a-z0-9.-]+: [^\\n]+$");
            const QStringList lines = err.split('\n', Qt::SkipEmptyParts);
            return err.contains("\n" + priority +
                                "renew.test: The certificate could not be obtained") &&
                   std::all_of(lines.begin(), lines.end(), [&](const QString& each) {
                       return each.startsWith(priority) &&
                              line.match(each.mid(priority.size())).hasMatch();
                   });
        };
        pebble.setServed(false);
        ran = certwright({"renew", "--dry-run", "--all"});
        QVERIFY2(ran.status == 1 && oneLineEach("\n" + ran.err, ""), qPrintable(ran.err));
        ran = certwright(
            {"renew", "--days", "1"},
            {"sh", "-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec \"$0\" \"$@\""});
        pebble.setServed(true);
        QVERIFY2(ran.status == 1 && oneLineEach("\n" + ran.err, "<3>"), qPrintable(ran.err));
        for (const QString& name : outputs)
            QCOMPARE(fileContent(out.filePath(name)), before[name]);
        ran = certwright({"renew", "--list"});
        QVERIFY2(ran.out.contains(" UTC, failed: The certificate could not be obtained"),
                 qPrintable(ran.out));
        // A record written before the start was kept is taken for a 90-day certificate's: due
        // 30 days before its end. Its renewal keeps the start.
        QJsonObject json =
            QJsonDocument::fromJson(fileContent(records + "renew.test.json")).object();
        QVERIFY(QDateTime::fromString(json.take("notBefore").toString(), Qt::ISODate).isValid());
        QFile record(records + "renew.test.json");
        QVERIFY(record.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                record.write(QJsonDocument(json).toJson()) > 0);
        record.close();
        // Named: the short-lived certificates of the other cases fall due while this one runs.
        ran = certwright({"renew", "--name", "renew.test"});
        QVERIFY2(ran.status == 0 && ran.out.contains("Renewed renew.test."), qPrintable(ran.err));
        json = QJsonDocument::fromJson(fileContent(records + "renew.test.json")).object();
        QVERIFY(json.contains("notBefore") && json.value("lastRenewed").toBool());
        ran = certwright({"renew", "--name", "unknown.test"});
        QCOMPARE(ran.status, 1);
        QVERIFY(ran.err.contains("No certificate named \"unknown.test\""));
    }

    // The pre-hook and the post-hook run around lego whatever its end ("%L": a log that each
    // hook adds its word to; "%K": the program that holds the port), are recorded, and run again
    // on renewal. Without them, a port that is taken is named with the program that holds it.
    void hooksAroundTheValidation_data() {
        QTest::addColumn<QString>("holder"); // of Pebble's HTTP port: "openssl", "test" or none
        QTest::addColumn<bool>("served");    // the web root is served (with --webroot)
        QTest::addColumn<QString>("preHook");
        QTest::addColumn<QString>("postHook");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("error");
        const QString pre = "sh -c 'echo pre >> %L'";
        const QString post = "sh -c 'echo post >> %L'";
        QTest::newRow("the pre-hook frees the port for the temporary server")
            << "openssl" << false << "sh -c 'echo pre >> %L; kill %K 2>/dev/null; true'" << post
            << 0 << "pre post reload" << QString();
        QTest::newRow("a failing pre-hook stops the issuance, the post-hook runs")
            << QString() << true << "sh -c 'echo pre >> %L; echo port is busy; exit 3'" << post << 1
            << "pre post"
            << "The command before the validation (--pre-hook) \"%S -c 'echo pre >> %L; echo "
               "port is busy; exit 3'\" failed: it ended with status 3. No certificate was "
               "ordered.\nport is busy";
        QTest::newRow("the post-hook runs after a failed validation")
            << QString() << false << pre << post << 1 << "pre post"
            << "could not reach";
        QTest::newRow("a failing post-hook is reported, the certificate made")
            << QString() << true << pre << "sh -c 'echo post >> %L; exit 4'" << 1
            << "pre post reload"
            << "The command after the validation (--post-hook) \"%S -c 'echo post >> %L; exit "
               "4'\" failed: it ended with status 4.";
        QTest::newRow("port held by this test, no hooks")
            << "test" << true << QString() << QString() << 1 << QString()
            << "The program \"tst_acme\" (process %P) already uses port %H, so the temporary web "
               "server could not start. Choose the web root that it serves instead (--webroot), "
               "or stop it for the validation with a command before it (--pre-hook)";
        QTest::newRow("port held by another program, no hooks")
            << "openssl" << false << QString() << QString() << 1 << QString()
            << "The program \"openssl\" (process %K) already uses port %H";
    }
    void hooksAroundTheValidation() {
        QFETCH(QString, holder);
        QFETCH(bool, served);
        QFETCH(QString, preHook);
        QFETCH(QString, postHook);
        QFETCH(int, status);
        QFETCH(QString, log);
        QFETCH(QString, error);
        pebble.setServed(served && holder != "openssl");
        const auto serve = qScopeGuard([this] { pebble.setServed(true); });
        QProcess held;
        if (holder == "openssl") {
            held.start("openssl", {"s_server", "-nocert", "-accept",
                                   "127.0.0.1:" + QString::number(pebble.httpPort())});
            QTRY_VERIFY_WITH_TIMEOUT(
                [this] {
                    QTcpSocket probe;
                    probe.connectToHost(QHostAddress::LocalHost, quint16(pebble.httpPort()));
                    return probe.waitForConnected(200);
                }(),
                10000);
        }
        QTemporaryDir out;
        // Records of their own, which the other tests' renewals do not meet.
        QTemporaryDir home;
        QProcessEnvironment environment;
        environment.insert("XDG_DATA_HOME", home.path());
        const QString logPath = out.filePath("log");
        const qint64 holderId = held.processId();
        const QString sh = QStandardPaths::findExecutable("sh");
        const auto fill = [&](QString text) {
            return text.replace("%L", logPath)
                .replace("%K", QString::number(holderId))
                .replace("%P", QString::number(QCoreApplication::applicationPid()))
                .replace("%H", QString::number(pebble.httpPort()))
                .replace("%S", sh);
        };
        const QString name =
            QString(QTest::currentDataTag()).remove(QRegularExpression("[^a-z]")).left(40) +
            ".test";
        QStringList arguments =
            acmeArguments({name}, out.path()) +
            QStringList{"--ca-bundle", pebble.caBundle(), "--for",
                        "nginx",       "--reload",        fill("sh -c 'echo reload >> %L'")};
        if (!holder.isEmpty()) {
            arguments.removeAt(arguments.indexOf("--webroot") + 1);
            arguments.replaceInStrings("--webroot", "--standalone");
            arguments << "--http-port" << QString::number(pebble.httpPort());
        }
        if (!preHook.isEmpty())
            arguments << "--pre-hook" << fill(preHook) << "--post-hook" << fill(postHook);
        Ran ran = certwright(arguments, {}, environment);
        held.kill();
        held.waitForFinished();
        QVERIFY2(ran.status == status && ran.err.contains(fill(error)), qPrintable(ran.err));
        QCOMPARE(QString(fileContent(logPath)).simplified(), log);
        QCOMPARE(QFile::exists(out.filePath(name + ".fullchain.pem")), log.contains("reload"));
        if (status != 0)
            return;
        ran = certwright({"renew", "--list"}, {}, environment);
        QVERIFY2(ran.out.contains("  pre-hook: " + sh + " -c '") &&
                     ran.out.contains("  post-hook: " + fill(sh + " -c 'echo post >> %L'")),
                 qPrintable(ran.out));
        ran = certwright({"renew", "--all", "--name", name}, {}, environment);
        QVERIFY2(ran.status == 0, qPrintable(ran.err));
        QCOMPARE(QString(fileContent(logPath)).simplified(), log + " " + log);
    }

    // Cancel, as the window calls it while lego waits for the authority: the run ends at once
    // and leaves nothing, neither in the folder of the outputs nor in the web root.
    void cancelEndsTheRun_data() {
        QTest::addColumn<bool>("linked");
        QTest::newRow("cancelled") << false;
        // The web root's owner puts a link to another user's folder in place of the challenge
        // folder while lego runs: the files there stay.
        QTest::newRow("challenge folder replaced by a link") << true;
    }
    void cancelEndsTheRun() {
        QFETCH(bool, linked);
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        QTemporaryDir victim;
        const QStringList victimFiles = {"AbCdEf_-0123456789", "notes.txt"};
        for (const QString& name : victimFiles)
            writeFileContent(victim.filePath(name), "the victim's\n");
        const QString challenges = pebble.webRoot() + "/.well-known/acme-challenge";
        const QString moved = challenges + ".moved";
        // The web root serves the other tests: it is put back however this one ends.
        const auto putBack = qScopeGuard([&] {
            if (QFileInfo(challenges).isSymLink() && QFile::remove(challenges))
                QDir().rename(moved, challenges);
        });
        const TempProgramFolder program;
        QTemporaryDir out;
        Acme::AcmeValues values;
        values.names = {"cancel.test"};
        values.email = "admin@example.com";
        values.server = pebble.directoryUrl();
        values.caBundle = pebble.caBundle();
        values.webRoot = pebble.webRoot();
        values.outputs = {"nginx"};
        values.outFolder = out.path();
        Acme::Cancel cancel;
        QStringList steps;
        SilentUser user;
        QElapsedTimer timer;
        timer.start();
        QVERIFY_THROWS_EXCEPTION(SilentAbort,
                                 Acme::obtain(
                                     values, user, program.context(),
                                     [&](const QString& step, double) {
                                         steps << step;
                                         if (!step.startsWith("The authority is checking"))
                                             return;
                                         if (linked && !QFile::exists(moved))
                                             QVERIFY(QFile::rename(challenges, moved) &&
                                                     QFile::link(victim.path(), challenges));
                                         cancel.cancel();
                                     },
                                     &cancel));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(steps.join('\n')));
        QVERIFY(steps.last().startsWith("The authority is checking"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        // The victim's files stay (lego itself may have written its answer through the link).
        for (const QString& name : victimFiles)
            QCOMPARE(fileContent(victim.filePath(name)), QByteArray("the victim's\n"));
        if (linked) {
            // lego's answer went from the folder that was checked, not from the link's.
            QCOMPARE(QDir(moved).entryList(QDir::Files | QDir::Hidden), QStringList());
            QVERIFY(QFile::remove(challenges) && QDir().rmdir(moved));
        }
        QCOMPARE(challengeLeftovers(pebble.webRoot()), QStringList());
    }

    // What lego leaves is proven before it replaces anything: a certificate for other names,
    // for another key, or without the chain to a trusted root fails, and the earlier files
    // stay. lego is played by a script that leaves the test's files as an authority's answer.
    void authorityAnswerIsProven_data() {
        QTest::addColumn<QString>("certificate"); // of the test authority's names, joined
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("error");
        QTest::newRow("other names") << "other.crt+inter.crt"
                                     << "other.key"
                                     << "It names other.test, but proven.test was ordered.";
        QTest::newRow("another key") << "proven.crt+inter.crt"
                                     << "other.key"
                                     << "Its public key is not the one of the new key";
        QTest::newRow("without its chain")
            << "proven.crt"
            << "proven.key"
            << "Its chain is not proven up to a root that this computer (or the CA file) "
               "trusts: unable to get local issuer certificate.";
    }
    void authorityAnswerIsProven() {
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, error);
        TestAuthority authority;
        TestAuthority::Leaf other;
        other.extensions[0] = "subjectAltName=DNS:other.test";
        TestAuthority::Leaf proven;
        proven.extensions[0] = "subjectAltName=DNS:proven.test";
        QVERIFY(authority.isValid() && authority.issue("other", other) &&
                authority.issue("proven", proven));
        QByteArray sent;
        for (const QString& part : certificate.split('+'))
            sent += fileContent(authority.file(part));
        writeFileContent(authority.file("sent.crt"), sent);
        QTemporaryDir fake;
        writeFileContent(
            fake.filePath("lego"),
            "#!/bin/sh\n[ $# -eq 1 ] && exit 0\nwhile [ $# -gt 1 ]; do [ \"$1\" = --path ] && "
            "state=$2; "
            "shift; done\nmkdir -p \"$state/certificates\"\ncd \"$state/certificates\"\n"
            "cp \"$SENT/sent.crt\" proven.test.crt\ncp \"$SENT/" +
                key.toUtf8() +
                "\" proven.test.key\ncp \"$SENT/inter.crt\" "
                "proven.test.issuer.crt\n");
        QVERIFY(QFile::setPermissions(fake.filePath("lego"), QFile::ReadOwner | QFile::ExeOwner));
        QTemporaryDir out;
        writeFileContent(out.filePath("proven.test.key"), "earlier key\n");
        QProcessEnvironment environment;
        environment.insert("PATH", fake.path() + ":" + qgetenv("PATH"));
        environment.insert("SENT", authority.folder());
        const Ran ran = certwright(
            acmeArguments({"proven.test"}, out.path()) +
                QStringList{"--ca-bundle", authority.file("root.crt"), "--for", "nginx", "--force"},
            {}, environment);
        QVERIFY2(ran.status == 1 &&
                     ran.err.contains("The authority sent a certificate that is "
                                      "not the one ordered") &&
                     ran.err.contains(error),
                 qPrintable(ran.err));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"proven.test.key"});
        QCOMPARE(fileContent(out.filePath("proven.test.key")), QByteArray("earlier key\n"));
    }

    // A lego whose help lacks a flag that the issuance needs is refused with its version and
    // the flag before anything is asked or ordered: it is never run to order.
    void legoThatCannotBeDrivenIsRefused() {
        QTemporaryDir fake;
        QProcess real;
        real.start("lego", {"--help"});
        QVERIFY(real.waitForFinished(20000));
        writeFileContent(fake.filePath("help.txt"),
                         real.readAll().replace("--http.webroot", "--http.root"));
        writeFileContent(fake.filePath("lego"),
                         "#!/bin/sh\ncase $1 in\n--help) cat '" +
                             fake.filePath("help.txt").toUtf8() +
                             "';;\n--version) echo 'lego version 5.0.0 linux/amd64';;\n"
                             "*) touch \"$0.ran\";;\nesac\n");
        QVERIFY(QFile::setPermissions(fake.filePath("lego"), QFile::ReadOwner | QFile::ExeOwner));
        QTemporaryDir out;
        QProcessEnvironment environment;
        environment.insert("PATH", fake.path() + ":" + qgetenv("PATH"));
        const Ran ran =
            certwright(acmeArguments({"undriven.test"}, out.path()) +
                           QStringList{"--ca-bundle", pebble.caBundle(), "--for", "nginx"},
                       {}, environment);
        QVERIFY2(ran.status == 1 &&
                     ran.err.contains("This program cannot drive the installed lego (" +
                                      fake.filePath("lego") + ", version 5.0.0).") &&
                     ran.err.contains("does not offer --http.webroot, which this program needs"),
                 qPrintable(ran.err));
        QVERIFY(!QFile::exists(fake.filePath("lego.ran")));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Two issuances never share lego's files: while another run holds the state's lock, the
    // command waits, says so, and goes on once it is free.
    void aSecondIssuanceWaits() {
        const QString lock = data.path() + "/certwright/acme/issuance.lock";
        QVERIFY(QDir().mkpath(QFileInfo(lock).path()));
        writeFileContent(lock, QByteArray());
        auto held = std::make_unique<HeldLock>(lock);
        QVERIFY(held->locked);
        QTemporaryDir out;
        QProcess command;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", data.path());
        command.setProcessEnvironment(environment);
        command.start(testPath("CERTWRIGHT_EXECUTABLE"),
                      acmeArguments({"wait.test"}, out.path()) +
                          QStringList{"--ca-bundle", pebble.caBundle(), "--for", "nginx"});
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (said += command.readAllStandardError()).contains("Waiting for another"),
            said.constData(), 20000);
        QCOMPARE(command.state(), QProcess::Running);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList());
        held.reset();
        QSignalSpy finished(&command, &QProcess::finished);
        QVERIFY(finished.wait(120000));
        QVERIFY2(command.exitCode() == 0, command.readAllStandardError().constData());
        proveOutputs(out.path(), {"nginx"}, {"wait.test"});
    }

    void termsOfServiceFromTheDirectory() {
        QVERIFY(Acme::termsOfService(pebble.directoryUrl(), pebble.caBundle()).startsWith("data:"));
        QVERIFY_THROWS_EXCEPTION(PageError, Acme::termsOfService(pebble.directoryUrl()));
    }

    // What an authority sends reaches the terminal with its control characters spelled out:
    // escape sequences in the terms-of-service address can neither erase nor rewrite the
    // prompt. The command asks at a terminal (script's), and No ends it.
    void termsPromptShowsNoControlCharacters() {
        QTemporaryDir served;
        const QByteArray directory = "{\"meta\":{\"termsOfService\":\"https://tos.test/\\u001b"
                                     "[2K\\u001b[1AAgreed.\\r\\u202e\\u0085\"}}";
        writeFileContent(served.filePath("directory"), "HTTP/1.0 200 OK\r\nContent-Length: " +
                                                           QByteArray::number(directory.size()) +
                                                           "\r\n\r\n" + directory);
        QProcess server;
        server.setWorkingDirectory(served.path());
        const int port =
            startTlsServer(server, {"-HTTP", "-naccept", "1", "-cert", pebble.caBundle(), "-key",
                                    pebble.path("pebble.key")});
        QVERIFY(port);
        QTemporaryDir out;
        QStringList arguments = acmeArguments({"tos.test"}, out.path());
        arguments.removeAll("--agree-tos");
        arguments[arguments.indexOf("--server") + 1] =
            "https://127.0.0.1:" + QString::number(port) + "/directory";
        arguments += QStringList{"--for", "nginx", "--ca-bundle", pebble.caBundle()};
        QString line = testPath("CERTWRIGHT_EXECUTABLE");
        for (const QString& argument : arguments)
            line += " '" + argument + "'";
        QProcess terminal;
        terminal.start("script", {"--quiet", "--return", "--command", line, "/dev/null"});
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += QString::fromUtf8(terminal.readAllStandardOutput())).contains("[y/N]"), 30000);
        terminal.write("n\n");
        QVERIFY(terminal.waitForFinished(30000));
        said += QString::fromUtf8(terminal.readAllStandardOutput());
        QCOMPARE(terminal.exitCode(), 1);
        QVERIFY2(said.contains("https://tos.test/\\x1b[2K\\x1b[1AAgreed.\\x0d\\u202e\\u0085\r\n"),
                 qPrintable(said));
        // Nothing but the terminal's own line ends is a control character.
        QVERIFY(!QString(said).remove("\r\n").contains(QRegularExpression("[\\p{Cc}\\p{Cf}]")));
        QVERIFY(QDir(out.path()).isEmpty());
        QTRY_COMPARE(server.state(), QProcess::NotRunning);
    }

    // The units of the daily renewal are valid for systemd; without a user instance they are
    // written but not enabled, and the command says so and how to enable them. The service, run
    // with its own environment alone, finds the records of the run that installed it; without
    // that environment it fails and says where it looked.
    void timerFilesPassVerification() {
        QTemporaryDir config;
        QTemporaryDir runtime;
        writeRecord("timer.test");
        QProcessEnvironment environment;
        environment.insert("XDG_CONFIG_HOME", config.path());
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("XDG_DATA_HOME", records.path());
        const Ran ran = certwright({"renew", "--install-timer"}, {}, environment);
        QCOMPARE(ran.status, 0);
        QVERIFY2(ran.out.contains("not enabled: no systemd user instance runs. Enable it with: "
                                  "systemctl --user enable --now certwright-renew.timer"),
                 qPrintable(ran.out));
        const QString units = config.path() + "/systemd/user/";
        const QByteArray timer = fileContent(units + "certwright-renew.timer");
        for (const char* line :
             {"OnCalendar=daily\n", "RandomizedDelaySec=1h\n", "Persistent=true\n"})
            QVERIFY2(timer.contains(line), line);
        const QString service = fileContent(units + "certwright-renew.service");
        const QString assigned = service.section("\nEnvironment=", 1).section('\n', 0, 0);
        const QStringList command =
            ReloadCommand::split(service.section("\nExecStart=", 1).section('\n', 0, 0));
        QCOMPARE(command.value(1), "renew");
        for (const bool named : {true, false}) {
            QProcess run;
            run.start("env", QStringList{"-i"} +
                                 (named ? ReloadCommand::split(assigned) : QStringList()) +
                                 command);
            QVERIFY(run.waitForFinished(30000));
            const QString said = run.readAllStandardOutput() + run.readAllStandardError();
            QVERIFY2(run.exitCode() == (named ? 0 : 1) &&
                         said.contains(named ? "No certificate is due for renewal (recorded in \"" +
                                                   records.path() + "/certwright/renewals/\": "
                                             : "No renewal records were found in \"/") &&
                         said.contains("timer.test") == named,
                     qPrintable(said));
        }
        QProcess verify;
        verify.start("systemd-analyze", {"verify", units + "certwright-renew.service",
                                         units + "certwright-renew.timer"});
        QVERIFY(verify.waitForFinished(30000));
        QVERIFY2(verify.exitCode() == 0, verify.readAllStandardError().constData());
    }
};

QTEST_GUILESS_MAIN(TestAcme)
#include "tst_acme.moc"
