#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"
#include "uPassPhraseFiles.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>

using namespace OpenSSLCommands;

Q_DECLARE_METATYPE(PfxProtection)

namespace {

// A program folder and an export folder whose paths hold blanks, as "Program Files" does; the
// program folder holds the tool and answers ProgramFolder() while this lives.
class Folders {
  public:
    explicit Folders(bool withTool = true,
                     const QString& exportName = QStringLiteral("export folder"))
        : prog(root.path() + QStringLiteral("/program files/")),
          folder(root.path() + QLatin1Char('/') + exportName + QLatin1Char('/')) {
        QDir().mkpath(prog);
        QDir().mkpath(folder);
        if (withTool)
            QFile::link(QStringLiteral(OPENSSL_TOOL), prog + kToolName);
        setProgramFolderForTesting(prog);
    }
    ~Folders() { setProgramFolderForTesting(QString()); }
    ToolContext context() const { return {prog, prog, false, prog}; }
    QTemporaryDir root;
    const QString prog;
    const QString folder;
};

const QString kBase = QStringLiteral("wildcard.shop.test");
const QString kSubject = QStringLiteral("C = DE, ST = Bavaria, L = Munich, O = Example Shop, "
                                        "CN = *.shop.test, emailAddress = admin@shop.test");
const QByteArray kConfiguration = "[ req ]\r\n"
                                  "prompt = no\r\n"
                                  "distinguished_name = subject\r\n"
                                  "[ subject ]\r\n"
                                  "C = DE\r\n"
                                  "ST = Bavaria\r\n"
                                  "L = Munich\r\n"
                                  "O = Example Shop\r\n"
                                  "CN = *.shop.test\r\n"
                                  "emailAddress = admin@shop.test\r\n";

int exitCodeOf(const QStringList& arguments) {
    int code = -1;
    runOpenSSL(arguments, &code);
    return code;
}

QString pass(const QString& phrase) {
    return QStringLiteral("pass:") + phrase;
}

// The key in unencrypted PKCS#8 form, or empty when it does not open with the pass phrase.
QString plainKey(const QString& path, const QString& passPhrase) {
    int code = -1;
    const QString key = runOpenSSL({"pkey", "-in", path, "-passin", pass(passPhrase)}, &code);
    return code == 0 ? key : QString();
}

bool isEncrypted(const QString& keyPath) {
    return fileContent(keyPath).contains("ENCRYPTED");
}

// The value of one line of `openssl x509 -noout ...` output ("subject=...").
QString field(const QString& output, const QString& name) {
    for (const QString& line : output.split('\n'))
        if (line.startsWith(name + '='))
            return line.mid(name.size() + 1);
    return QString();
}

int certificateCount(const QString& path) {
    return int(fileContent(path).count("-----BEGIN CERTIFICATE-----"));
}

QString fingerprint(const QString& certificatePath) {
    return runOpenSSL({"x509", "-in", certificatePath, "-noout", "-fingerprint", "-sha256"});
}

const QString kKeyPass = QStringLiteral("key pass");

// The inputs of the bundle runs, made directly with the tool in the export folder: a key
// encrypted under kKeyPass and a self-signed certificate for it, both named with blanks.
struct SourcePair {
    QString key;
    QString cert;
};

// Makes the source pair; both paths are empty when the tool failed.
SourcePair makeKeyAndCertificate(const Folders& folders) {
    const QString key = folders.folder + "my key.key";
    const QString cert = folders.folder + "my cert.cer";
    const QString configuration = folders.folder + "subject.cnf";
    writeFileContent(configuration, kConfiguration);
    const bool made =
        exitCodeOf({"genrsa", "-aes128", "-passout", pass(kKeyPass), "-out", key, "1024"}) == 0 &&
        exitCodeOf({"req", "-new", "-x509", "-days", "10", "-config", configuration, "-key", key,
                    "-passin", pass(kKeyPass), "-out", cert}) == 0;
    return made ? SourcePair{key, cert} : SourcePair{};
}

// Writes the pass-phrase files that the bundle runs read.
void writePassPhrases(const QString& current, const QString& fresh) {
    writePassPhrases(PassPhraseFolder(), {current, fresh});
}

// Every function, given the same values in the same order as its parameters.
struct Invocation {
    const char* name;
    std::function<QStringList(const QStringList&)> build;
    QStringList values;
};

QVector<Invocation> invocations() {
    const QString prog = QStringLiteral("/p/");
    const QString folder = QStringLiteral("/e f/");
    const QString key = QStringLiteral("/k/my key.key");
    const QString cert = QStringLiteral("/k/my cert.cer");
    const QString pfx = QStringLiteral("/o/site.pfx");
    const QString name = QStringLiteral("My Site");
    return {
        {"make encrypted key",
         [](const QStringList& v) { return makeEncryptedKey(v[0], v[1], v[2], v[3]); },
         {prog, folder, kBase, QStringLiteral("2048")}},
        {"make request",
         [](const QStringList& v) { return makeRequest(v[0], v[1], v[2]); },
         {prog, folder, kBase}},
        {"make plain key",
         [](const QStringList& v) { return makePlainKey(v[0], v[1], v[2]); },
         {folder, kBase, QStringLiteral("2048")}},
        {"make encrypted elliptic-curve key",
         [](const QStringList& v) { return makeEncryptedEcKey(v[0], v[1], v[2], v[3]); },
         {prog, folder, kBase, kCurveP256}},
        {"make plain elliptic-curve key",
         [](const QStringList& v) { return makePlainEcKey(v[0], v[1], v[2]); },
         {folder, kBase, kCurveP384}},
        {"make self-signed certificate",
         [](const QStringList& v) { return makeSelfSignedCertificate(v[0], v[1], v[2]); },
         {folder, kBase, QStringLiteral("365")}},
        {"export PFX",
         [](const QStringList& v) {
             return exportPfx(v[0], v[1], v[2], v[3], v[4], PfxProtection::Current);
         },
         {prog, key, cert, pfx, name}},
        {"export PFX for older Windows",
         [](const QStringList& v) {
             return exportPfx(v[0], v[1], v[2], v[3], v[4], PfxProtection::OlderWindows);
         },
         {prog, key, cert, pfx, name}},
        {"extract key from PFX",
         [](const QStringList& v) { return extractKeyFromPfx(v[0], v[1], v[2]); },
         {prog, pfx, folder}},
        {"extract certificate from PFX",
         [](const QStringList& v) { return extractCertificateFromPfx(v[0], v[1], v[2]); },
         {prog, pfx, folder}},
        {"export temporary bundle",
         [](const QStringList& v) { return exportTemporaryBundle(v[0], v[1], v[2], v[3], v[4]); },
         {prog, key, cert, folder, name}},
        {"extract key from temporary bundle",
         [](const QStringList& v) { return extractKeyFromTemporaryBundle(v[0], v[1]); },
         {prog, folder}},
        {"extract certificate from temporary bundle",
         [](const QStringList& v) { return extractCertificateFromTemporaryBundle(v[0], v[1]); },
         {prog, folder}},
        {"plain key copy",
         [](const QStringList& v) { return plainKeyCopy(v[0], v[1], v[2]); },
         {prog, key, QStringLiteral("/e f/site.key")}},
        {"encrypted key copy",
         [](const QStringList& v) { return encryptedKeyCopy(v[0], v[1], v[2]); },
         {prog, key, QStringLiteral("/e f/site.key")}},
        {"certificates copy",
         [](const QStringList& v) { return certificatesCopy(v[0], v[1]); },
         {cert, QStringLiteral("/e f/site.fullchain.pem")}},
        {"first certificate copy",
         [](const QStringList& v) { return firstCertificateCopy(v[0], v[1]); },
         {cert, QStringLiteral("/e f/__leaf.tmp")}},
        {"certificates and key copy",
         [](const QStringList& v) { return certificatesAndKeyCopy(v[0], v[1]); },
         {cert, QStringLiteral("/e f/site.pem")}},
        {"print public key", [](const QStringList& v) { return printPublicKey(v[0]); }, {key}},
        {"verify issued server certificate",
         [](const QStringList& v) { return verifyServerCertificate(v[0], v[1]); },
         {cert, QStringLiteral("/k/ca file.pem")}},
        {"verify issued server certificate with the system's roots",
         [](const QStringList& v) { return verifyServerCertificate(v[0], QString()); },
         {cert}},
        {"server certificates with a server name",
         [](const QStringList& v) { return serverCertificates(v[0], v[1]); },
         {QStringLiteral("[2001:db8::1]:8443"), QStringLiteral("www.shop.test")}},
        {"server certificates of an address",
         [](const QStringList& v) { return serverCertificates(v[0], QString()); },
         {QStringLiteral("192.0.2.1:443")}},
        {"certificates of a PEM bundle",
         [](const QStringList& v) { return bundleCertificates(v[0], true, v[1]); },
         {QStringLiteral("/e f/bundle.p7"), QStringLiteral("/e f/out.pem")}},
        {"certificates of a DER bundle",
         [](const QStringList& v) { return bundleCertificates(v[0], false, v[1]); },
         {QStringLiteral("/e f/bundle.p7"), QStringLiteral("/e f/out.pem")}},
        {"public key of a key",
         [](const QStringList& v) { return publicKeyOfKey(v[0], v[1], v[2]); },
         {prog, key, QStringLiteral("/e f/key.pub")}},
        {"public key of a certificate",
         [](const QStringList& v) { return publicKeyOfCertificate(v[0], v[1]); },
         {cert, QStringLiteral("/e f/cert.pub")}},
        {"certificates and protection of a PFX",
         [](const QStringList& v) { return pfxCertificatesAndProtection(v[0], v[1], v[2]); },
         {prog, pfx, QStringLiteral("/e f/pfx.pem")}},
        {"judge a server chain",
         [](const QStringList& v) { return judgeServerChain(v[0], v[1], v[2]); },
         {cert, QStringLiteral("/e f/chain.pem"), QStringLiteral("/e f/ca.pem")}},
        {"judge a server certificate without chain or CA file",
         [](const QStringList& v) { return judgeServerChain(v[0], QString(), QString()); },
         {cert}},
        {"judge a certificate alone for a host name",
         [](const QStringList& v) { return judgeCertificateAlone(v[0], v[1], false); },
         {cert, QStringLiteral("www.shop.test")}},
        {"judge a certificate alone for an address",
         [](const QStringList& v) { return judgeCertificateAlone(v[0], v[1], true); },
         {cert, QStringLiteral("192.0.2.1")}},
        {"judge a certificate alone without a name",
         [](const QStringList& v) { return judgeCertificateAlone(v[0], QString(), false); },
         {cert}},
        {"judge a signature",
         [](const QStringList& v) { return judgeSignature(v[0], v[1]); },
         {QStringLiteral("/e f/issuer.pem"), cert}},
        {"judge a chain to write",
         [](const QStringList& v) { return judgeChainToWrite(v[0], v[1]); },
         {QStringLiteral("/e f/written.pem"), QStringLiteral("/e f/ca.pem")}},
        {"judge a chain to write against the system's roots",
         [](const QStringList& v) { return judgeChainToWrite(v[0], QString()); },
         {QStringLiteral("/e f/written.pem")}},
    };
}

} // namespace

// The argument vectors of the tool, argument for argument as the runner read them from the
// command lines of earlier versions, and what the real tool makes of each when the runner
// hands it over.
class TestToolContract : public QObject {
    Q_OBJECT
  private slots:
    void commandLinesAreExact_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("expected");
        const QStringList expected = {
            R"(genrsa -des3 -passout file:"/p/passnew.txt" -out "/e f/wildcard.shop.test.key" 2048)",
            R"(req -new -config "/e f/__config.tmp" -key "/e f/wildcard.shop.test.key" -out "/e f/wildcard.shop.test.csr" -passin file:"/p/passnew.txt")",
            R"(genrsa -out "/e f/wildcard.shop.test.key" 2048)",
            R"(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -aes256 -pass file:"/p/passnew.txt" -out "/e f/wildcard.shop.test.key")",
            R"(genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out "/e f/wildcard.shop.test.key")",
            R"(req -new -x509 -nodes -sha256 -days 365 -config "/e f/__config.tmp" -key "/e f/wildcard.shop.test.key" -out "/e f/wildcard.shop.test.cer")",
            R"(pkcs12 -export -inkey "/k/my key.key" -in "/k/my cert.cer" -out "/o/site.pfx" -name "My Site" -password file:"/p/passnew.txt" -passin file:"/p/passcurrent.txt")",
            R"(pkcs12 -export -inkey "/k/my key.key" -in "/k/my cert.cer" -out "/o/site.pfx" -name "My Site" -password file:"/p/passnew.txt" -passin file:"/p/passcurrent.txt" -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1)",
            R"(pkcs12 -in "/o/site.pfx" -nocerts -out "/e f/key.pem" -password file:"/p/passcurrent.txt" -passout file:"/p/passnew.txt")",
            R"(pkcs12 -in "/o/site.pfx" -clcerts -nokeys -out "/e f/cert.pem" -password file:"/p/passcurrent.txt")",
            R"(pkcs12 -export -inkey "/k/my key.key" -in "/k/my cert.cer" -out "/e f/__tmp.p12" -name "My Site" -passout file:"/p/passnew.txt" -passin file:"/p/passcurrent.txt")",
            R"(pkcs12 -nocerts -in "/e f/__tmp.p12" -out "/e f/key.pem" -passin file:"/p/passcurrent.txt" -passout file:"/p/passnew.txt")",
            R"(pkcs12 -clcerts -nokeys -in "/e f/__tmp.p12" -out "/e f/cert.pem" -passin file:"/p/passnew.txt")",
            R"(pkey -in "/k/my key.key" -passin file:"/p/passcurrent.txt" -out "/e f/site.key")",
            R"(pkey -in "/k/my key.key" -passin file:"/p/passcurrent.txt" -aes256 -passout file:"/p/passnew.txt" -out "/e f/site.key")",
            R"(storeutl -certs -out "/e f/site.fullchain.pem" "/k/my cert.cer")",
            R"(x509 -in "/k/my cert.cer" -out "/e f/__leaf.tmp")",
            R"(storeutl -out "/e f/site.pem" "/k/my cert.cer")",
            R"(pkey -in "/k/my key.key" -pubout)",
            R"(verify -purpose sslserver -CAfile "/k/ca file.pem" -untrusted "/k/my cert.cer" "/k/my cert.cer")",
            R"(verify -purpose sslserver -untrusted "/k/my cert.cer" "/k/my cert.cer")",
            R"(s_client -connect [2001:db8::1]:8443 -showcerts -verify_quiet -servername www.shop.test)",
            R"(s_client -connect 192.0.2.1:443 -showcerts -verify_quiet)",
            R"(pkcs7 -inform PEM -in "/e f/bundle.p7" -print_certs -out "/e f/out.pem")",
            R"(pkcs7 -inform DER -in "/e f/bundle.p7" -print_certs -out "/e f/out.pem")",
            R"(pkey -in "/k/my key.key" -passin file:"/p/passcurrent.txt" -pubout -out "/e f/key.pub")",
            R"(x509 -in "/k/my cert.cer" -noout -pubkey -out "/e f/cert.pub")",
            R"(pkcs12 -info -nokeys -in "/o/site.pfx" -passin file:"/p/passcurrent.txt" -out "/e f/pfx.pem")",
            R"(verify -auth_level 0 -no_check_time -purpose sslserver -CAfile "/e f/ca.pem" -untrusted "/e f/chain.pem" "/k/my cert.cer")",
            R"(verify -auth_level 0 -no_check_time -purpose sslserver "/k/my cert.cer")",
            R"(verify -auth_level 0 -no_check_time -partial_chain -trusted "/k/my cert.cer" -purpose sslserver -verify_hostname www.shop.test "/k/my cert.cer")",
            R"(verify -auth_level 0 -no_check_time -partial_chain -trusted "/k/my cert.cer" -purpose sslserver -verify_ip 192.0.2.1 "/k/my cert.cer")",
            R"(verify -auth_level 0 -no_check_time -partial_chain -trusted "/k/my cert.cer" -purpose sslserver "/k/my cert.cer")",
            R"(verify -auth_level 0 -no_check_time -partial_chain -trusted "/e f/issuer.pem" "/k/my cert.cer")",
            R"(verify -auth_level 0 -purpose sslserver -CAfile "/e f/ca.pem" -untrusted "/e f/written.pem" "/e f/written.pem")",
            R"(verify -auth_level 0 -purpose sslserver -untrusted "/e f/written.pem" "/e f/written.pem")",
        };
        const QVector<Invocation> all = invocations();
        QCOMPARE(all.size(), expected.size());
        for (int i = 0; i < all.size(); ++i)
            addRow(all[i].name, i, expected[i]);
    }
    void commandLinesAreExact() {
        QFETCH(int, index);
        QFETCH(QString, expected);
        const Invocation invocation = invocations()[index];
        QCOMPARE(invocation.build(invocation.values), splitCommandLine(expected));
    }

    // A value that looks like a placeholder is inserted as it is.
    void valuesAreInsertedLiterally() {
        QCOMPARE(exportPfx("/p/", "/k/%2.key", "/k/%1.cer", "/o/%5.pfx", "100%3 %4",
                           PfxProtection::Current),
                 splitCommandLine(
                     QStringLiteral(R"(pkcs12 -export -inkey "/k/%2.key" -in "/k/%1.cer" -out )"
                                    R"("/o/%5.pfx" -name "100%3 %4" -password )"
                                    R"(file:"/p/passnew.txt" -passin file:"/p/passcurrent.txt")")));
    }

    // A value with a double quote, which a command line split again could not carry, reaches
    // the tool as it is: the vector differs from the usual one in that value alone.
    void everyValueWithADoubleQuoteIsPassedAsItIs() {
        const QString quoted = QStringLiteral("/x/a\"b/");
        for (const Invocation& invocation : invocations()) {
            const QStringList usual = invocation.build(invocation.values);
            for (int i = 0; i < invocation.values.size(); ++i) {
                QStringList values = invocation.values;
                values[i] = quoted;
                QStringList expected = usual;
                for (QString& argument : expected)
                    argument.replace(invocation.values[i], quoted);
                QVERIFY2(invocation.build(values) == expected,
                         qPrintable(QStringLiteral("%1, value %2").arg(invocation.name).arg(i)));
            }
        }
    }

    void encryptedKeyAndRequest() {
        Folders folders;
        writePassPhrases(PassPhraseFolder(), {QString(), QStringLiteral("new secret 1")});
        const QString key = folders.folder + kBase + ".key";
        const QString csr = folders.folder + kBase + ".csr";

        runOpenSSLTool(makeEncryptedKey(folders.prog, folders.folder, kBase, "1024"),
                       folders.context(), false);
        QVERIFY(outputIsNonEmpty(key));
        QVERIFY(isEncrypted(key));
        const QString opened = plainKey(key, "new secret 1");
        QVERIFY(opened.contains("BEGIN PRIVATE KEY"));
        QVERIFY(plainKey(key, "").isEmpty());
        QVERIFY(plainKey(key, "new secret").isEmpty());
        QVERIFY(runOpenSSL({"rsa", "-in", key, "-passin", pass("new secret 1"), "-noout", "-text"})
                    .contains("Private-Key: (1024 bit"));

        writeFileContent(folders.folder + "__config.tmp", kConfiguration);
        runOpenSSLTool(makeRequest(folders.prog, folders.folder, kBase), folders.context(), false);
        QVERIFY(outputIsNonEmpty(csr));
        int code = -1;
        const QString request =
            runOpenSSL({"req", "-in", csr, "-noout", "-subject", "-verify"}, &code);
        QCOMPARE(code, 0);
        QCOMPARE(field(request, "subject"), kSubject);
        // The request carries the public half of the new key.
        QCOMPARE(runOpenSSL({"req", "-in", csr, "-noout", "-pubkey"}),
                 runOpenSSL({"pkey", "-in", key, "-passin", pass("new secret 1"), "-pubout"}));
    }

    // A run that needs no trust store trusts none of the system's roots; any other run does.
    void runWithoutTrustStoreTrustsNoSystemRoot_data() {
        QTest::addColumn<bool>("withoutTrustStore");
        QTest::newRow("with the trust store") << false;
        QTest::newRow("without it") << true;
    }
    void runWithoutTrustStoreTrustsNoSystemRoot() {
        QFETCH(bool, withoutTrustStore);
        const QDir system(QStringLiteral("/etc/ssl/certs"));
        const QString root = system.entryList({QStringLiteral("*.pem")}, QDir::Files).value(0);
        if (root.isEmpty())
            QSKIP("The system has no roots in /etc/ssl/certs here.");
        Folders folders;
        const ToolRun run = runOpenSSLTool({"verify", system.filePath(root)}, folders.context(),
                                           false, {.withoutTrustStore = withoutTrustStore});
        QCOMPARE(run.exitCode == 0, !withoutTrustStore);
        QCOMPARE(run.output.contains("error 18 at 0 depth"), withoutTrustStore);
    }

    void plainKeyAndSelfSignedCertificate() {
        Folders folders;
        const QString key = folders.folder + kBase + ".key";
        const QString cer = folders.folder + kBase + ".cer";

        runOpenSSLTool(makePlainKey(folders.folder, kBase, "1024"), folders.context(), false);
        QVERIFY(outputIsNonEmpty(key));
        QVERIFY(!isEncrypted(key));
        QVERIFY(!plainKey(key, "").isEmpty());

        writeFileContent(folders.folder + "__config.tmp", kConfiguration);
        runOpenSSLTool(makeSelfSignedCertificate(folders.folder, kBase, "30"), folders.context(),
                       false);
        QVERIFY(outputIsNonEmpty(cer));
        const QString certificate =
            runOpenSSL({"x509", "-in", cer, "-noout", "-subject", "-issuer"});
        QCOMPARE(field(certificate, "subject"), kSubject);
        QCOMPARE(field(certificate, "issuer"), kSubject);
        QCOMPARE(validityDays(cer), qint64(30));
        QVERIFY(runOpenSSL({"x509", "-in", cer, "-noout", "-text"})
                    .contains("Signature Algorithm: sha256WithRSAEncryption"));
        QCOMPARE(runOpenSSL({"x509", "-in", cer, "-noout", "-pubkey"}),
                 runOpenSSL({"pkey", "-in", key, "-pubout"}));
    }

    // Each protection uses the algorithms it promises: Windows Server 2016 and older import
    // neither AES nor a SHA-256 MAC.
    // Double quotes in the folder and the friendly name reach the tool as they are.
    void pfxHoldsKeyAndCertificateUnderTheFriendlyName_data() {
        QTest::addColumn<PfxProtection>("protection");
        QTest::addColumn<QStringList>("algorithms");
        QTest::addColumn<QString>("exportName");
        QTest::addColumn<QString>("friendlyName");
        const QStringList current = {"MAC: sha256",
                                     "PKCS7 Encrypted data: PBES2, PBKDF2, AES-256-CBC",
                                     "Shrouded Keybag: PBES2, PBKDF2, AES-256-CBC"};
        QTest::newRow("current") << PfxProtection::Current << current << "export folder"
                                 << "My Site";
        QTest::newRow("older Windows")
            << PfxProtection::OlderWindows
            << QStringList({"MAC: sha1", "PKCS7 Encrypted data: pbeWithSHA1And3-KeyTripleDES-CBC",
                            "Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC"})
            << "export folder"
            << "My Site";
        QTest::newRow("double quotes") << PfxProtection::Current << current << "export \"q\" folder"
                                       << "My \"Site\"";
    }
    void pfxHoldsKeyAndCertificateUnderTheFriendlyName() {
        QFETCH(PfxProtection, protection);
        QFETCH(QStringList, algorithms);
        QFETCH(QString, exportName);
        QFETCH(QString, friendlyName);
        Folders folders(true, exportName);
        const auto [key, cert] = makeKeyAndCertificate(folders);
        QVERIFY(!key.isEmpty());
        const QString pfx = folders.folder + "my site.pfx";
        writePassPhrases(kKeyPass, "bundle pass");

        runOpenSSLTool(exportPfx(folders.prog, key, cert, pfx, friendlyName, protection),
                       folders.context(), false);
        QVERIFY(outputIsNonEmpty(pfx));
        int code = -1;
        const QString content =
            runOpenSSL({"pkcs12", "-in", pfx, "-nodes", "-passin", pass("bundle pass")}, &code);
        QCOMPARE(code, 0);
        const QStringList info =
            runOpenSSL({"pkcs12", "-in", pfx, "-info", "-noout", "-passin", pass("bundle pass")},
                       &code, true)
                .split('\n');
        QCOMPARE(code, 0);
        for (const QString& algorithm : algorithms)
            QVERIFY2(std::any_of(info.begin(), info.end(),
                                 [&](const QString& line) { return line.startsWith(algorithm); }),
                     qPrintable(info.join('\n')));
        QCOMPARE(int(content.count("friendlyName: " + friendlyName + "\n")), 2);
        QVERIFY(content.contains(plainKey(key, kKeyPass)));
        QVERIFY(content.contains(QString::fromLatin1(fileContent(cert))));
        QVERIFY(exitCodeOf({"pkcs12", "-in", pfx, "-nodes", "-passin", pass(kKeyPass)}) != 0);
    }

    void keyAndCertificateFromPfx() {
        Folders folders;
        const auto [key, cert] = makeKeyAndCertificate(folders);
        QVERIFY(!key.isEmpty());
        const QString pfx = folders.folder + "my site.pfx";
        QCOMPARE(exitCodeOf({"pkcs12", "-export", "-inkey", key, "-in", cert, "-passin",
                             pass(kKeyPass), "-out", pfx, "-passout", pass("pfx pass")}),
                 0);
        writePassPhrases("pfx pass", "pem pass");

        runOpenSSLTool(extractKeyFromPfx(folders.prog, pfx, folders.folder), folders.context(),
                       false);
        runOpenSSLTool(extractCertificateFromPfx(folders.prog, pfx, folders.folder),
                       folders.context(), false);
        checkPemPair(folders.folder, key, cert, "pem pass");
        QVERIFY(plainKey(folders.folder + "key.pem", "pfx pass").isEmpty());
    }

    // The Indy route from a key and its certificate: the bundle is written under the new pass
    // phrase, which then becomes the current one for reading it back.
    void keyAndCertificateThroughTheTemporaryBundle() {
        Folders folders;
        const auto [key, cert] = makeKeyAndCertificate(folders);
        QVERIFY(!key.isEmpty());
        const QString bundle = folders.folder + "__tmp.p12";
        writePassPhrases(kKeyPass, "pem pass");

        runOpenSSLTool(exportTemporaryBundle(folders.prog, key, cert, folders.folder, "My Site"),
                       folders.context(), false);
        QVERIFY(outputIsNonEmpty(bundle));
        QCOMPARE(int(runOpenSSL({"pkcs12", "-in", bundle, "-nodes", "-passin", pass("pem pass")})
                         .count("friendlyName: My Site")),
                 2);

        const QString current = folders.prog + kCurrentPassPhraseFile;
        QVERIFY(QFile::remove(current));
        QVERIFY(QFile::copy(folders.prog + kNewPassPhraseFile, current));
        runOpenSSLTool(extractKeyFromTemporaryBundle(folders.prog, folders.folder),
                       folders.context(), false);
        runOpenSSLTool(extractCertificateFromTemporaryBundle(folders.prog, folders.folder),
                       folders.context(), false);
        checkPemPair(folders.folder, key, cert, "pem pass");
        QVERIFY(plainKey(folders.folder + "key.pem", kKeyPass).isEmpty());
    }

    void missingToolMakesNothing() {
        Folders folders(false);
        QElapsedTimer timer;
        timer.start();
        runOpenSSLTool(makePlainKey(folders.folder, kBase, "1024"), folders.context(), false);
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(!FileIsPresent(folders.folder + kBase + ".key"));
    }

  private:
    // key.pem is the source key encrypted under the pass phrase; cert.pem holds the source
    // certificate alone.
    void checkPemPair(const QString& folder, const QString& sourceKey, const QString& sourceCert,
                      const QString& passPhrase) {
        const QString keyPem = folder + "key.pem";
        const QString certPem = folder + "cert.pem";
        QVERIFY(outputIsNonEmpty(keyPem));
        QVERIFY(isEncrypted(keyPem));
        QCOMPARE(plainKey(keyPem, passPhrase), plainKey(sourceKey, kKeyPass));
        QVERIFY(plainKey(keyPem, "").isEmpty());
        QVERIFY(outputIsNonEmpty(certPem));
        QCOMPARE(certificateCount(certPem), 1);
        QVERIFY(!fileContent(certPem).contains("PRIVATE KEY"));
        QCOMPARE(fingerprint(certPem), fingerprint(sourceCert));
    }
};

QTEST_MAIN(TestToolContract)
#include "tst_toolcontract.moc"
