#include "TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// The commands run by the real executable, with the real tool. Each row gives the arguments
// ("%F" is the folder of the inputs, "%O" a fresh output folder), standard input, the exit
// status, texts that standard error must hold, and checks of what was made:
//   "opens FILE PASS"     the key opens with PASS ("-": a plain key) and with no other;
//   "names FILE TEXT"     the request or certificate carries the subjectAltName TEXT;
//   "order FILE CN,CN.."  the certificates of the PEM or PKCS#12 file (under "bundlepass"),
//                         in order;
//   "days FILE N"         the certificate's term;
//   "kept FILE"           the file that stood there before is untouched;
//   "absent FILE"         nothing was made there.
class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir inputs;

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
        QTest::newRow("not yet available")
            << QStringList{"check"} << QByteArray() << QStringList() << 2
            << QStringList{"not yet available"} << QStringList();
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
                .replace(QStringLiteral("%O"), out.path());
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
            } else if (kind == QLatin1String("kept")) {
                QCOMPARE(fileContent(file), QByteArray("old content\n"));
            } else {
                QVERIFY2(!QFile::exists(file), qPrintable(check));
            }
        }
        // Nothing of the step's own stays behind.
        QCOMPARE(QDir(out.path()).entryList({"__*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void helpListsTheCommandsAndTheirOptions() {
        QProcess program;
        program.start(testPath("CERTWRIGHT_EXECUTABLE"), {"--help"});
        QVERIFY(program.waitForFinished(10000));
        const QString help = QString::fromLatin1(program.readAllStandardOutput());
        for (const char* command : {"request", "selfsign", "pfx", "pem"})
            QVERIFY2(help.contains(QLatin1String(command)), command);
        program.start(testPath("CERTWRIGHT_EXECUTABLE"), {"pem", "--help"});
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(program.readAllStandardOutput().contains("--passout <SOURCE>"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
