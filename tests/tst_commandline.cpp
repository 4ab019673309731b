#include "TestAuthority.h"
#include "TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
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
//   "json PATH VALUE"     the JSON report's value at PATH ("key/bits", "chain/0/subject").
// "%A" is the folder of the throw-away authority, "%S" and "%N" the ports of a server that
// sends its chain and of one that sends its certificate alone.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir inputs;
    TestAuthority authority;
    QProcess withChain;
    QProcess withoutChain;
    QString withChainPort;
    QString withoutChainPort;

    // An openssl s_server on 127.0.0.1 that serves the sound certificate; its port, or empty.
    QString startServer(QProcess& server, const QString& more) {
        const int port = startTlsServer(
            server, splitCommandLine("-www -cert %A/sound.crt -key %A/sound.key " + more)
                        .replaceInStrings("%A", authority.folder()));
        return port ? QString::number(port) : QString();
    }

    QString in(const QString& name) const { return inputs.path() + QLatin1Char('/') + name; }

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
            << splitCommandLine(files + "sound.crt --key %A/sound.key --write-chain %A/sound.key")
            << QByteArray() << QStringList() << 1 << QStringList{"was read by the check"}
            << QStringList{"problems "};
        row("check: two inputs", "check --cert %A/sound.crt --pfx %A/aes.pfx", 2, {"Give one of"});
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
            {"self", Leaf{sound.extensions, sound.newKey, -1, 365, "sha1", true}}};
        for (const auto& [name, leaf] : leaves)
            QVERIFY2(authority.issue(name, leaf), name);
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
        withChainPort = startServer(withChain, "-cert_chain %A/inter.crt");
        withoutChainPort = startServer(withoutChain, "");
        QVERIFY(!withChainPort.isEmpty() && !withoutChainPort.isEmpty());
    }

    void cleanupTestCase() {
        for (QProcess* server : {&withChain, &withoutChain}) {
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
        QTest::newRow("unknown option")
            << QStringList{"request", "--domian", "x.test"} << QByteArray() << QStringList() << 2
            << QStringList{"domian"} << QStringList{"absent x.test.key"};
        QTest::newRow("pass:TEXT refused")
            << request.mid(0, 7) + QStringList{"--passout", "pass:secret"} << QByteArray()
            << QStringList() << 2 << QStringList{"every user"}
            << QStringList{"absent www.shop.test.key"};
        QTest::newRow("missing --domain")
            << QStringList{"selfsign", "--out", "%O"} << QByteArray() << QStringList() << 2
            << QStringList{"--domain"} << QStringList();
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
                .replace(QStringLiteral("%N"), withoutChainPort);
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
        const QJsonObject report =
            QJsonDocument::fromJson(command.readAllStandardOutput()).object();
        QCOMPARE(command.exitCode(), status);
        for (const QString& error : errors)
            QVERIFY2(said.contains(error), qPrintable(said));
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
            } else if (kind == QLatin1String("kept")) {
                QCOMPARE(fileContent(file), QByteArray("old content\n"));
            } else {
                QVERIFY2(!QFile::exists(file), qPrintable(check));
            }
        }
        // Nothing of the step's own stays behind.
        QCOMPARE(QDir(out.path()).entryList({"__*"}, QDir::Files | QDir::Hidden), QStringList());
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
