#include "CertificateText.h"
#include "TestAuthority.h"
#include "TestCoreSupport.h"
#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"

#include <QtTest>

#include <sys/stat.h>

using namespace CertificateCheck;
using Leaf = TestAuthority::Leaf;

Q_DECLARE_METATYPE(TestAuthority::Leaf)

// The check of files, in the core alone: one certificate of the test authority for each problem,
// judged by the real tool, and the chain that the check completes from the authority's address.
class TestCertificateCheck : public QObject {
    Q_OBJECT
  private:
    TempProgramFolder program;
    TestAuthority authority;

    // The input for the certificate <name>.crt of the authority, with its chain and key files.
    CheckInput input(const QString& name, const QStringList& chain, const QString& key) const {
        CheckInput files;
        files.certificateFile = authority.file(name + ".crt");
        for (const QString& link : chain)
            files.chainFiles << authority.file(link + ".crt");
        if (!key.isEmpty())
            files.keyFile = authority.file(key + ".key");
        files.caFile = authority.file("root.crt");
        files.name = kTestHost;
        return files;
    }

    static QStringList ids(const CheckReport& report) {
        QStringList found;
        for (const CheckProblem& problem : report.problems)
            found << problem.id;
        return found;
    }

  private slots:
    void initTestCase() {
        QVERIFY(authority.isValid());
        QVERIFY(authority.issue("sound") && authority.issue("other"));
    }

    void problems_data() {
        QTest::addColumn<Leaf>("leaf");
        QTest::addColumn<QString>("certificate"); // "leaf": the one made for the row
        QTest::addColumn<QStringList>("chain");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");
        const Leaf sound;
        const QStringList inter{"inter"};
        const auto row = [](const char* id, const Leaf& leaf, const QStringList& chain,
                            const QStringList& expected, const QString& key = {},
                            const QString& name = kTestHost,
                            const QString& certificate = QStringLiteral("leaf")) {
            QTest::newRow(id) << leaf << certificate << chain << key << name << expected;
        };
        row("sound, with its key", sound, inter, {}, "leaf");
        row("key-mismatch", sound, inter, {kKeyMismatch}, "other");
        row("expired", Leaf{sound.extensions, sound.newKey, -60, -1}, inter, {kExpired});
        row("not-yet-valid", Leaf{sound.extensions, sound.newKey, 10, 400}, inter, {kNotYetValid});
        row("expires-soon", Leaf{sound.extensions, sound.newKey, -80, 10}, inter, {kExpiresSoon});
        row("name-mismatch", sound, inter, {kNameMismatch}, {}, "other.check.test");
        row("name-mismatch, an address", sound, inter, {kNameMismatch}, {}, "127.0.0.1");
        row("no-subject-alt-name", Leaf{{sound.extensions.last()}}, inter, {kNoSubjectAltName}, {},
            {});
        row("chain-incomplete", sound, {}, {kChainIncomplete});
        row("chain-order", sound, {"leaf"}, {kChainOrder}, {}, kTestHost, "inter");
        row("untrusted-root", Leaf{sound.extensions, sound.newKey, -1, 365, "sha256", true}, {},
            {kUntrustedRoot});
        row("weak-key", Leaf{sound.extensions, "-newkey rsa:1024"}, inter, {kWeakKey});
        row("weak-signature", Leaf{sound.extensions, sound.newKey, -1, 365, "sha1"}, inter,
            {kWeakSignature});
        row("not-server-certificate",
            Leaf{{sound.extensions.first(), "extendedKeyUsage=clientAuth"}}, inter,
            {kNotServerCertificate});
        // Issued by a server's certificate, which is no authority.
        row("invalid-chain",
            Leaf{{"subjectAltName=DNS:leaf.check.test", sound.extensions.last()},
                 sound.newKey,
                 -1,
                 365,
                 "sha256",
                 false,
                 "sound",
                 "leaf.check.test"},
            {"sound", "inter"}, {kInvalidChain}, {}, "leaf.check.test");
    }
    void problems() {
        QFETCH(Leaf, leaf);
        QFETCH(QString, certificate);
        QFETCH(QStringList, chain);
        QFETCH(QString, key);
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        QVERIFY(authority.issue("leaf", leaf));
        CheckInput files = input(certificate, chain, key);
        files.name = name;
        const CheckReport report = checkCertificate(files, program.context());
        QCOMPARE(ids(report), expected);
        for (const CheckProblem& problem : report.problems)
            QVERIFY(!problem.message.isEmpty() && !problem.advice.isEmpty());
        QCOMPARE(report.toText().contains(QStringLiteral("No problem found.")), expected.isEmpty());
    }

    // The report puts the certificate into the words that the windows use too.
    void describesTheCertificate() {
        const CheckReport report =
            checkCertificate(input("sound", {"inter"}, {}), program.context());
        QCOMPARE(report.subject, "CN=" + kTestHost);
        QCOMPARE(report.names, QStringList{kTestHost});
        QCOMPARE(report.issuer, QStringLiteral("CN=Check Intermediate"));
        QCOMPARE(report.keyType, QStringLiteral("EC"));
        QCOMPARE(report.keyBits, 256);
        QCOMPARE(report.chainEntries.size(), 1);
        QCOMPARE(report.chainEntries.first().issuer, QStringLiteral("CN=Check Root"));
        QCOMPARE(report.toJson().value("daysLeft").toInt(), 364);

        // The common name comes first, the country last, however the certificate orders them.
        const TempFolder folder;
        int status = -1;
        runOpenSSL({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-keyout", folder.file("k.pem"), "-subj",
                    "/C=US/ST=Oregon/O=Acme/OU=Web/CN=shop.test", "-addext",
                    "subjectAltName=DNS:b.test,IP:192.0.2.1,DNS:a.test,email:x@a.test", "-out",
                    folder.file("c.pem")},
                   &status);
        QCOMPARE(status, 0);
        const QSslCertificate named =
            QSslCertificate::fromData(fileContent(folder.file("c.pem")), QSsl::Pem).value(0);
        using CertificateText::Name;
        QCOMPARE(CertificateText::nameText(named, Name::Subject),
                 QStringLiteral("CN=shop.test, O=Acme, OU=Web, ST=Oregon, C=US"));
        QCOMPARE(CertificateText::nameText(named, Name::Issuer),
                 CertificateText::nameText(named, Name::Subject));
        QCOMPARE(CertificateText::alternativeNames(named),
                 (QStringList{"b.test", "a.test", "192.0.2.1"}));
        QCOMPARE(CertificateText::alternativeNameEntries(named).constLast().second,
                 QStringLiteral("x@a.test"));
    }

    // A chain without its intermediate is completed from the certificate's "CA Issuers" address
    // and written only where the check read nothing.
    void completesTheChain() {
        const CheckReport report = checkCertificate(input("sound", {}, "sound"), program.context());
        const CertificateChain chain =
            completeChain(report, authority.file("root.crt"), program.context());
        QCOMPARE(chain.end, ChainEnd::TrustedRoot);
        QCOMPARE(chain.authorities.size(), 1);
        QCOMPARE(chain.authorities.first(),
                 QSslCertificate::fromData(fileContent(authority.file("inter.crt"))).value(0));

        const TempFolder out;
        writeCompleteChain(report, out.file("chain.pem"), authority.file("root.crt"),
                           program.context(), false);
        QCOMPARE(QSslCertificate::fromData(fileContent(out.file("chain.pem"))).size(), 2);
        QVERIFY_THROWS_EXCEPTION(PageError, writeCompleteChain(report, authority.file("sound.key"),
                                                               authority.file("root.crt"),
                                                               program.context(), true));
        QVERIFY(fileContent(authority.file("sound.key")).contains("PRIVATE KEY"));
    }

    // One reader of a server address for the window and the command: the connection's
    // "HOST:PORT", or nothing for a text that is no server address.
    void serverAddressAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("defaultPort");
        QTest::addColumn<QString>("connection");
        const auto row = [](const char* typed, int port, const char* connection) {
            QTest::addRow("%s, %d", typed, port) << QString(typed) << port << QString(connection);
        };
        row(" www.shop.test ", 443, "www.shop.test:443");
        row("www.shop.test:8443", 443, "www.shop.test:8443");
        row("192.0.2.1", 0, "");
        row("192.0.2.1:1", 0, "192.0.2.1:1");
        row("2001:db8::1", 443, "[2001:db8::1]:443");
        row("[2001:db8::1]:8443", 443, "[2001:db8::1]:8443");
        row("https://www.shop.test/", 443, "www.shop.test:443");
        row("HTTPS://www.shop.test:8443/shop/?x=1", 443, "www.shop.test:8443");
        row("http://www.shop.test/", 443, "");
        row("www.shop.test/shop", 443, "");
        row("user@www.shop.test", 443, "");
        row("www.shop.test:", 443, "");
        row("www.shop.test:65536", 443, "");
        row("www.shop.test:0", 443, "");
        row("", 443, "");
    }
    void serverAddressAsTyped() {
        QFETCH(QString, typed);
        QFETCH(int, defaultPort);
        QFETCH(QString, connection);
        const auto address = serverAddress(typed, defaultPort);
        QCOMPARE(address ? address->text() : QString(), connection);
    }

    // A file that the tool would open by its name is refused at once when it is a FIFO, which
    // would hold the tool up until something writes to it.
    void refusesAFifoForTheTool_data() {
        QTest::addColumn<QString>("which");
        for (const char* which : {"key", "pfx", "ca"})
            QTest::newRow(which) << QString(which);
    }
    void refusesAFifoForTheTool() {
        QFETCH(QString, which);
        const TempFolder folder;
        const QString fifo = folder.file("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        CheckInput files = input("sound", {"inter"}, {});
        (which == "key" ? files.keyFile : which == "ca" ? files.caFile : files.pfxFile) = fifo;
        QElapsedTimer timer;
        timer.start();
        try {
            checkCertificate(files, program.context());
            QFAIL("a FIFO was taken");
        } catch (const PageError& error) {
            QVERIFY2(error.message().contains("not a regular file"), qPrintable(error.message()));
        }
        QVERIFY(timer.elapsed() < 5000);
    }
};

QTEST_GUILESS_MAIN(TestCertificateCheck)
#include "tst_certificatecheck.moc"
