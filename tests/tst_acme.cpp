#include "PebbleFixture.h"
#include "TestSupport.h"
#include "uAcme.h"
#include "uCertwrightCommon.h"
#include "uReloadCommand.h"
#include "uRenewal.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// The user of an issuance that asks nothing.
class SilentUser : public ToolSteps::StepUser {
  public:
    QString askPassPhrases(PassPhraseUse) override { return {}; }
    bool mayReplace(const QString&, bool) override { return false; }
    void tell(const QString&) override {}
};

// Certificates from Pebble, the ACME authority's test server, on loopback, through the real
// `certwright acme` and `renew` commands with the real lego and openssl. Each issuance is
// proven by serving the files with openssl s_server to an s_client that trusts Pebble's root
// alone and checks the name.
class TestAcme : public QObject {
    Q_OBJECT

    PebbleFixture pebble{300};
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
    void verifyServed(const QStringList& serverFiles, const QStringList& names) {
        QProcess server;
        const int port = startTlsServer(
            server, QStringList{"-naccept", QString::number(names.size())} + serverFiles);
        QVERIFY(port);
        for (const QString& name : names) {
            QProcess client;
            client.start("openssl", {"s_client", "-connect", "127.0.0.1:" + QString::number(port),
                                     "-servername", name, "-verify_return_error",
                                     "-verify_hostname", name, "-CAfile", pebble.root()});
            client.closeWriteChannel();
            QVERIFY(client.waitForFinished(20000));
            const QString said = QString::fromLocal8Bit(client.readAll());
            QVERIFY2(client.exitCode() == 0 && said.contains("Verify return code: 0 (ok)"),
                     qPrintable(name + ": " + said + QString::fromLocal8Bit(server.readAll())));
        }
        QVERIFY(server.waitForFinished(10000));
    }

    // What each output kind makes, proven: nginx's key and full chain serve; the .pfx holds the
    // server's certificate and its chain, and serves; key.pem opens with the pass phrase only,
    // and with cert.pem and root.pem serves.
    void proveOutputs(const QString& out, const QStringList& kinds, const QStringList& names) {
        const QString base = out + "/" + names.first();
        if (kinds.contains("nginx")) {
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
            << QStringList{"all.test", "www.all.test"} << QStringList{"nginx", "iis", "indy"}
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
        ran = certwright({"renew", "--list"});
        QVERIFY(ran.out.contains("renew.test\n  names: renew.test, www.renew.test\n  expires: "));
        QVERIFY(ran.out.contains("outputs: nginx, iis, indy in " + out.path()));
        QVERIFY2(ran.out.contains("  reload: " + QStandardPaths::findExecutable("touch") + " '" +
                                  reloaded + "'\n"),
                 qPrintable(ran.out));
        QVERIFY(QFile::remove(reloaded));
        ran = certwright({"renew", "--days", "0", "--name", "renew.test"});
        QCOMPARE(ran.status, 0);
        QVERIFY(ran.out.contains("No certificate is due"));
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
        pebble.setServed(false);
        ran = certwright({"renew", "--days", "1"});
        pebble.setServed(true);
        QVERIFY2(ran.status == 1 && ran.err.contains("renew.test: The certificate could not be "
                                                     "obtained"),
                 qPrintable(ran.err));
        for (const QString& name : outputs)
            QCOMPARE(fileContent(out.filePath(name)), before[name]);
        ran = certwright({"renew", "--name", "unknown.test"});
        QCOMPARE(ran.status, 1);
        QVERIFY(ran.err.contains("No certificate named \"unknown.test\""));
    }

    // Cancel, as the window calls it while lego waits for the authority: the run ends at once
    // and leaves nothing, neither in the folder of the outputs nor in the web root.
    void cancelEndsTheRun() {
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
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
                                         if (step.startsWith("The authority is checking"))
                                             cancel.cancel();
                                     },
                                     &cancel));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(steps.join('\n')));
        QVERIFY(steps.last().startsWith("The authority is checking"));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(challengeLeftovers(pebble.webRoot()), QStringList());
    }

    // The reload command split as by a shell, its program made absolute ("%S": the current folder
    // with reload.sh, "run me", plain.txt and sub/; "%T": touch in PATH), or refused.
    void reloadCommand_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const QString& typed, const QStringList& words,
                            const QString& error = {}) {
            QTest::newRow(name) << typed << words << error;
        };
        row("single quotes keep blanks", "touch '/x/a b'", {"%T", "/x/a b"});
        row("double quotes and their escapes", "./reload.sh \"a \\\"b\\\" \\\\ \\$c \\d 'e'\"",
            {"%S/reload.sh", "a \"b\" \\ $c \\d 'e'"});
        row("backslashes, joined parts, empty words",
            "sub/../reload.sh a\\ b \\'c\\' x'y'\"z\" '' \"\"",
            {"%S/reload.sh", "a b", "'c'", "xyz", "", ""});
        row("blanks, tabs, nothing expanded", "\t'%S/run me'   $HOME ~ *.pem\t",
            {"%S/run me", "$HOME", "~", "*.pem"});
        row("blank: no command", "  ", {});
        row("single quote not closed", "touch 'a b", {}, "single quote (') that is not closed");
        row("double quote not closed", "touch \"a b", {}, "double quote (\") that is not closed");
        row("backslash at the end", "touch a\\", {}, "ends with a backslash");
        row("a shell's operator", "touch a; rm b", {}, "holds \";\", which only a shell");
        row("a line end", "touch a\nrm b", {}, "a line end or another control character");
        row("unknown program", "no-such-program-21", {}, "is in no folder of PATH");
        row("missing relative program", "./missing.sh", {}, "\"./missing.sh\" of the reload");
        row("not executable", "./plain.txt", {}, "is not an executable file");
    }

    void reloadCommand() {
        QFETCH(QString, typed);
        QFETCH(QStringList, words);
        QFETCH(QString, error);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir("sub"));
        for (const char* name : {"reload.sh", "run me", "plain.txt"}) {
            writeFileContent(folder.filePath(name), "#!/bin/sh\n");
            QVERIFY(QFile::setPermissions(folder.filePath(name),
                                          name[0] == 'p' ? QFile::ReadOwner : QFile::ExeOwner));
        }
        try {
            const QStringList found =
                ReloadCommand::resolve(typed.replace("%S", folder.path()), folder.path());
            QVERIFY2(error.isEmpty(), qPrintable(found.join('|')));
            QCOMPARE(found, words.replaceInStrings("%S", folder.path())
                                .replaceInStrings("%T", QStandardPaths::findExecutable("touch")));
        } catch (const PageError& refused) {
            QVERIFY2(!error.isEmpty() && refused.message().contains(error),
                     qPrintable(refused.message()));
        }
    }

    // A record is replaced whole: a rewrite that fails (here at the file size limit) leaves the
    // earlier record as it was and nothing beside it.
    void recordSurvivesAFailedRewrite() {
        const QString record = writeRecord("kept.test");
        const QByteArray before = fileContent(record);
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY},
            small{rlim_t(before.size()), RLIM_INFINITY};
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QVERIFY_THROWS_EXCEPTION(PageError, writeRecord("kept.test", QString(before.size(), 'x')));
        QCOMPARE(fileContent(record), before);
        QCOMPARE(QDir(QFileInfo(record).path())
                     .entryList({"kept*", ".kept*"}, QDir::Files | QDir::Hidden),
                 QStringList{"kept.test.json"});
    }

    void termsOfServiceFromTheDirectory() {
        QVERIFY(Acme::termsOfService(pebble.directoryUrl(), pebble.caBundle()).startsWith("data:"));
        QVERIFY_THROWS_EXCEPTION(PageError, Acme::termsOfService(pebble.directoryUrl()));
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

    // Refused before any unit is written: a path with a control character, and for the system a
    // program (changed by the row's shell command: $1 the file, $2 its folder) others can change.
    void timerRefusals_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("system");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const char* change, bool system, const char* error) {
            QTest::newRow(name) << QString(change) << system << QString(error);
        };
        row("system: a second user's ACL entry on its folder", "setfacl -m u:65534:rwx \"$2\"",
            true, "an access control list lets the user \"nobody\" write to");
        row("system: the program is a second user's", "chown 65534 \"$1\"", true,
            "belongs to another user (user ID 65534)");
        for (const bool system : {false, true})
            row(system ? "system: a line end in its path" : "user: a line end in its path", "",
                system, "/a\\x0ab/certwright\" holds a line end");
    }

    void timerRefusals() {
        QFETCH(QString, change);
        QFETCH(bool, system);
        QFETCH(QString, error);
        QTemporaryDir scratch;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.path()));
        const QString program = scratch.filePath(change.isEmpty() ? "a\nb" : "bin") + "/certwright";
        QVERIFY(QDir().mkdir(QFileInfo(program).path()));
        writeFileContent(program, "");
        QCOMPARE(QProcess::execute("sh", {"-c", change, "sh", program, QFileInfo(program).path()}),
                 0);
        try {
            Renewal::installTimer(program, system);
            QFAIL("installed");
        } catch (const PageError& refused) {
            QVERIFY2(refused.message().contains(error), qPrintable(refused.message()));
        }
        QVERIFY(!QFile::exists(scratch.filePath("systemd")));
    }
};

QTEST_GUILESS_MAIN(TestAcme)
#include "tst_acme.moc"
