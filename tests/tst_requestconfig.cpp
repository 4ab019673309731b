#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uCountryTable.h"
#include "uOutputReplacement.h"
#include "uRequestConfig.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

RequestConfigValues sampleValues() {
    return {"2048",           "US", "New York ", "Springfield", "Acme Widgets, Inc.", "*.shop.test",
            "admin@shop.test"};
}

// The subject of a request that the real tool makes from the configuration file, one
// attribute per line ("C=US").
QStringList subjectFromConfig(const TempFolder& folder) {
    const QString key = folder.file("subject.key");
    if (!QFile::exists(key))
        makeKey(key, QString(), 1024);
    int exitCode = -1;
    const QString output =
        runOpenSSL({"req", "-new", "-config", folder.file(RequestConfig::kFileName), "-key", key,
                    "-noout", "-subject", "-nameopt", "utf8,sep_multiline"},
                   &exitCode, true);
    if (exitCode != 0)
        qWarning("%s", qPrintable(output));
    return multilineName(output);
}

} // namespace

// The country table that both certificate wizards offer, and the file that hands the subject
// to the tool.
class TestRequestConfig : public QObject {
    Q_OBJECT
  private slots:
    void countryTableHasEveryEntryOnceInNameOrder() {
        QSet<QString> codes;
        QStringList names;
        for (const char* entry : CountryTable::kEntries) {
            QVERIFY(entry);
            const QString text = QString::fromLatin1(entry);
            QCOMPARE(text.count('='), 1);
            const QString code = text.section('=', 1);
            QVERIFY2(QRegularExpression("^[A-Z]{2}$").match(code).hasMatch(), entry);
            codes.insert(code);
            names << text.section('=', 0, 0);
        }
        QCOMPARE(codes.size(), CountryTable::kEntryCount);
        QCOMPARE(names, CountryTable::names());
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 240);
        for (int i = 1; i < names.size(); ++i)
            QVERIFY2(names[i - 1].toLatin1() < names[i].toLatin1(), qPrintable(names[i]));
        QVERIFY(!codes.contains("UK"));
    }

    void countryTableSpotChecks_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("code");
        addRow("first", 0, "AFGHANISTAN", "AF");
        addRow("qualified", 48, "CONGO, Democratic Republic of (was Zaire)", "CD");
        addRow("apostrophe", 49, "CONGO, People's Republic of", "CG");
        addRow("colon", 53, "CROATIA (local name: Hrvatska)", "HR");
        addRow("metropolitan", 74, "FRANCE, METROPOLITAN", "FX");
        addRow("antilles", 151, "NETHERLANDS ANTILLES", "AN");
        addRow("kingdom", 223, "UNITED KINGDOM", "GB");
        addRow("default", 224, "UNITED STATES", "US");
        addRow("longer name", 225, "UNITED STATES MINOR OUTLYING ISLANDS", "UM");
        addRow("yugoslavia", 237, "YUGOSLAVIA", "YU");
        addRow("last", 239, "ZIMBABWE", "ZW");
    }

    void countryTableSpotChecks() {
        QFETCH(int, index);
        QFETCH(QString, name);
        QFETCH(QString, code);
        QCOMPARE(CountryTable::names().at(index), name);
        QCOMPARE(CountryTable::code(index), code);
    }

    // An elliptic-curve key has no bit size, and its certificate claims signing only.
    void configFileIsWrittenByteForByte_data() {
        QTest::addColumn<QString>("keySize");
        QTest::addColumn<QByteArray>("bitsLine");
        QTest::addColumn<QByteArray>("keyUsage");
        QTest::newRow("RSA 2048") << "2048" << QByteArray("default_bits= 2048\r\n")
                                  << QByteArray("digitalSignature, keyEncipherment");
        QTest::newRow("ECDSA P-256") << "P-256" << QByteArray() << QByteArray("digitalSignature");
        QTest::newRow("ECDSA P-384") << "P-384" << QByteArray() << QByteArray("digitalSignature");
    }
    void configFileIsWrittenByteForByte() {
        QFETCH(QString, keySize);
        QFETCH(QByteArray, bitsLine);
        QFETCH(QByteArray, keyUsage);
        TempFolder folder;
        RequestConfigValues values = sampleValues();
        values.keySize = keySize;
        RequestConfig::write(folder.path(), values);
        const QByteArray expected = "[ req ]\r\n"
                                    "prompt= no\r\n" +
                                    bitsLine +
                                    "distinguished_name= req_distinguished_name\r\n"
                                    "req_extensions= requested_extensions\r\n"
                                    "x509_extensions= certificate_extensions\r\n"
                                    "[ req_distinguished_name ]\r\n"
                                    "C                      = US\r\n"
                                    "ST                     = New York \r\n"
                                    "L                      = Springfield\r\n"
                                    "O                      = Acme Widgets, Inc.\r\n"
                                    "CN                     = *.shop.test\r\n"
                                    "emailAddress           = admin@shop.test\r\n"
                                    "[ requested_extensions ]\r\n"
                                    "subjectAltName= DNS:*.shop.test, DNS:shop.test\r\n"
                                    "[ certificate_extensions ]\r\n"
                                    "subjectAltName= DNS:*.shop.test, DNS:shop.test\r\n"
                                    "basicConstraints= CA:FALSE\r\n"
                                    "keyUsage= " +
                                    keyUsage +
                                    "\r\n"
                                    "extendedKeyUsage= serverAuth\r\n";
        const QByteArray written = fileContent(folder.file("__config.tmp"));
        QCOMPARE(written, expected);
    }

    // What clients match the host name against; empty for a domain that can name no host.
    void subjectAltNameOfTheDomain_data() {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("altName");
        addRow("host", "shop.test", "DNS:shop.test");
        addRow("www", "www.shop.test", "DNS:www.shop.test, DNS:shop.test");
        addRow("WWW, letter case kept", "WWW.Shop.test", "DNS:WWW.Shop.test, DNS:Shop.test");
        addRow("www inside", "shop.www.test", "DNS:shop.www.test");
        addRow("www alone", "www.", "DNS:www.");
        addRow("wildcard", "*.shop.test", "DNS:*.shop.test, DNS:shop.test");
        addRow("single label", "intranet", "DNS:intranet");
        addRow("underscore", "a_b.test", "DNS:a_b.test");
        addRow("IPv4", "192.0.2.7", "IP:192.0.2.7");
        addRow("IPv6", "2001:db8::1", "IP:2001:db8::1");
        for (const char* host : {"cafe.example.com", "deadbeef", "0x7f.example", "1.2.3.4.test"})
            QTest::addRow("host: %s", host) << host << QStringLiteral("DNS:") + host;
        addRow("outside ASCII", QString::fromUtf8("www.bücher.test"),
               "DNS:www.xn--bcher-kva.test, DNS:xn--bcher-kva.test");
        addRow("wildcard outside ASCII", QString::fromUtf8("*.bücher.test"),
               "DNS:*.xn--bcher-kva.test, DNS:xn--bcher-kva.test");
        for (const char* refused :
             {"shop test", " shop.test", "shop.test ", "a,b.test", "*", "*.", "a*.shop.test",
              "*.*.shop.test", "www.*.test", "*shop.test", "shop#test", "a$b.test", "a..b",
              "-shop.test", "fe80::1%eth0", "[::1]", "a:b", "a@b",
              // addresses in the older forms, which name another address than they show
              "192.168.010.1", "2001", "127.1", "0x7f.1", "1.2.3.4.5", "256.1.1.1", "1.2.3.4.",
              "*.1.2.3", "a.0x1F", "::1.2.3.010", "\xef\xbc\x91\xef\xbc\x92\xef\xbc\x97.1"})
            QTest::addRow("refused: %s", refused) << QString::fromUtf8(refused) << "";
    }
    void subjectAltNameOfTheDomain() {
        QFETCH(QString, domain);
        QFETCH(QString, altName);
        QCOMPARE(RequestConfig::subjectAltName(domain), altName);
    }

    // The request asks for the subjectAltName; the self-signed certificate is a version 3
    // server certificate that carries it.
    void toolReadsTheExtensions_data() {
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("altName");
        addRow("wildcard", "*.shop.test", "DNS:*.shop.test, DNS:shop.test");
        addRow("IP address", "192.0.2.7", "IP Address:192.0.2.7");
        addRow("IP address, a zero inside", "192.168.10.1", "IP Address:192.168.10.1");
        addRow("outside ASCII", QString::fromUtf8("bücher.test"), "DNS:xn--bcher-kva.test");
    }
    void toolReadsTheExtensions() {
        QFETCH(QString, domain);
        QFETCH(QString, altName);
        TempFolder folder;
        RequestConfigValues values = sampleValues();
        values.domain = domain;
        RequestConfig::checkValues(values);
        RequestConfig::write(folder.path(), values);
        const QString key = folder.file("subject.key");
        QVERIFY(makeKey(key, QString(), 1024));
        const QString configuration = folder.file(RequestConfig::kFileName);
        int exitCode = -1;
        const QString request =
            runOpenSSL({"req", "-new", "-config", configuration, "-key", key, "-text", "-noout"},
                       &exitCode, true);
        QCOMPARE(exitCode, 0);
        QVERIFY2(request.contains(QRegularExpression(
                     "Requested Extensions:\\s+X509v3 Subject Alternative Name: \\s*" +
                     QRegularExpression::escape(altName) + "\\s+Signature Algorithm")),
                 qPrintable(request));
        const QString certificate = runOpenSSL({"req", "-new", "-x509", "-config", configuration,
                                                "-key", key, "-text", "-noout", "-nameopt", "utf8"},
                                               &exitCode, true);
        QCOMPARE(exitCode, 0);
        for (const QString& expected :
             {QString("Version: 3 (0x2)"), "CN=" + domain + ",",
              "X509v3 Subject Alternative Name: \n                " + altName + "\n",
              QString("X509v3 Basic Constraints: \n                CA:FALSE\n"),
              QString("X509v3 Key Usage: \n                Digital Signature, Key Encipherment\n"),
              QString(
                  "X509v3 Extended Key Usage: \n                TLS Web Server Authentication\n")})
            QVERIFY2(certificate.contains(expected), qPrintable(expected + "\n" + certificate));
    }

    void configFileReplacesAnOldOneAndIsRemoved() {
        TempFolder folder;
        writeFileContent(folder.file("__config.tmp"), QByteArray(5000, 'x'));
        {
            const ScratchFiles scratch({folder.file("__config.tmp")});
            RequestConfig::write(folder.path(), sampleValues());
            QCOMPARE(fileContent(folder.file("__config.tmp")),
                     RequestConfig::content(sampleValues()));
        }
        QVERIFY(!QFile::exists(folder.file("__config.tmp")));
    }

    // The tool reads the subject back exactly as typed: its comment, variable, escape and
    // quote characters and Latin-1 letters included.
    void toolReadsTheSubjectAsTyped() {
        TempFolder folder;
        const RequestConfigValues values{"1024",
                                         "DE",
                                         QString::fromUtf8("Bayern #1 ü"),
                                         QString::fromUtf8("München"),
                                         "Smith & Sons #2 a$b\\c \"q\" it's `x` ${HOME}",
                                         "*.shop.test",
                                         "admin@shop.test"};
        RequestConfig::checkValues(values);
        RequestConfig::write(folder.path(), values);
        QVERIFY(fileContent(folder.file("__config.tmp")).contains("M\xfcnchen\r\n"));
        QCOMPARE(subjectFromConfig(folder),
                 QStringList({"C=DE", QString::fromUtf8("ST=Bayern #1 ü"),
                              QString::fromUtf8("L=München"),
                              "O=Smith & Sons #2 a$b\\c \"q\" it's `x` ${HOME}", "CN=*.shop.test",
                              "emailAddress=admin@shop.test"}));
    }

    // A trailing backslash would join the next line to the value if it were not escaped.
    void toolKeepsATrailingBackslash() {
        TempFolder folder;
        RequestConfigValues values = sampleValues();
        values.keySize = "1024";
        values.legalName = "Ends in \\";
        RequestConfig::write(folder.path(), values);
        const QStringList subject = subjectFromConfig(folder);
        QVERIFY(subject.contains("O=Ends in \\"));
        QVERIFY(subject.contains("CN=*.shop.test"));
    }

    void valuesTheFileCannotCarryAreRefused_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        addRow("outside Latin-1", QString::fromUtf8("Łódź"),
               QString::fromUtf8("the character \"Ł\""));
        addRow("euro sign", QString::fromUtf8("5 €"), QString::fromUtf8("\"€\""));
        addRow("emoji, quoted whole", QString::fromUtf8("Shop \U0001F512"),
               QString::fromUtf8("\"\U0001F512\""));
        addRow("line break", "Acme\nCN = forged", "control character");
        addRow("tab", "Acme\tInc", "control character");
    }

    void valuesTheFileCannotCarryAreRefused() {
        QFETCH(QString, value);
        QFETCH(QString, message);
        for (int field = 0; field < 4; ++field) {
            RequestConfigValues values = sampleValues();
            QString* targets[] = {&values.state, &values.city, &values.legalName, &values.email};
            *targets[field] = value;
            try {
                RequestConfig::checkValues(values);
                QFAIL("the value was accepted");
            } catch (const PageError& error) {
                QVERIFY2(error.message().contains(message), qPrintable(error.message()));
                QVERIFY(error.message().contains("Please"));
            }
        }
        RequestConfig::checkValues(sampleValues());
        RequestConfigValues latin1 = sampleValues();
        latin1.city = QString::fromUtf8("Zürich ÿ ©");
        RequestConfig::checkValues(latin1);
    }

    void unwritableFolderNamesThePathAndTheReason() {
        TempFolder folder;
        writeFileContent(folder.file("plain"), "not a folder");
        const QStringList folders = {folder.file("missing/"), folder.file("plain/")};
        const QStringList reasons = {"No such file or directory", "Not a directory"};
        for (int i = 0; i < folders.size(); ++i) {
            try {
                RequestConfig::write(folders[i], sampleValues());
                QFAIL("the file was written");
            } catch (const PageError& error) {
                QVERIFY2(error.message().contains(folders[i] + "__config.tmp"),
                         qPrintable(error.message()));
                QVERIFY2(error.message().contains(reasons[i]), qPrintable(error.message()));
            }
        }
    }
};

QTEST_MAIN(TestRequestConfig)
#include "tst_requestconfig.moc"
