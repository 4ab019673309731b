#include "LegoReasons.h"
#include "TestCoreSupport.h"
#include "uAcme.h"
#include "uCertwrightCommon.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// Values that the check accepts, their folder the test's.
Acme::AcmeValues acceptedValues(const QString& folder) {
    Acme::AcmeValues values;
    values.names = {"shop.test", "www.shop.test"};
    values.email = "admin@shop.test";
    values.server = "https://127.0.0.1:14000/dir";
    values.outputs = {"nginx"};
    values.outFolder = folder;
    return values;
}

// The accepted values changed by the edits "field=value;..." (lists split at commas, %F the
// folder); "exec" alone chooses the folder's DNS script, "rfc2136" alone a complete update.
Acme::AcmeValues valuesWith(const QString& edits, const QString& folder) {
    Acme::AcmeValues v = acceptedValues(folder);
    Acme::DnsValidation& dns = v.dns;
    const QMap<QString, std::function<void(const QString&)>> fields = {
        {"exec",
         [&](const QString&) {
             dns.provider = "exec";
             dns.script = folder + "/set-record";
         }},
        {"rfc2136",
         [&](const QString&) {
             dns.provider = "rfc2136";
             dns.server = "127.0.0.1:5353";
             dns.tsigKey = "certwright.";
             dns.tsigSecret = "c2VjcmV0";
         }},
        {"names", [&](const QString& t) { v.names = t.split(',', Qt::SkipEmptyParts); }},
        {"email", [&](const QString& t) { v.email = t; }},
        {"keyType", [&](const QString& t) { v.keyType = t; }},
        {"server", [&](const QString& t) { v.server = t; }},
        {"outputs", [&](const QString& t) { v.outputs = t.split(','); }},
        {"httpPort", [&](const QString& t) { v.httpPort = t.toInt(); }},
        {"caBundle", [&](const QString& t) { v.caBundle = t; }},
        {"webRoot", [&](const QString& t) { v.webRoot = t; }},
        {"provider", [&](const QString& t) { dns.provider = t; }},
        {"script", [&](const QString& t) { dns.script = t; }},
        {"dnsServer", [&](const QString& t) { dns.server = t; }},
        {"tsigKey", [&](const QString& t) { dns.tsigKey = t; }},
        {"tsigSecret", [&](const QString& t) { dns.tsigSecret = t; }},
        {"tsigAlgorithm", [&](const QString& t) { dns.tsigAlgorithm = t; }},
        {"resolver", [&](const QString& t) { dns.resolver = t; }},
        {"wait", [&](const QString& t) { dns.waitSeconds = t.toInt(); }}};
    for (QString edit : edits.split(';', Qt::SkipEmptyParts)) {
        edit.replace("%F", folder);
        const QString field = edit.section('=', 0, 0);
        if (!fields.contains(field))
            qFatal("No field %s", qPrintable(field));
        fields[field](edit.section('=', 1));
    }
    return v;
}

// What lego 4 wrote when an issuance failed, its last lines as they came.
const QString kLegoFailed = QStringLiteral("2026/12/08 03:38:28 Could not obtain certificates:\n"
                                           "\terror: one or more domains had a problem:\n");

} // namespace

// The ACME values' check, the plain reasons of lego's failures and lego's command line, without
// any authority: a unit of the core alone.
class TestAcmeValues : public QObject {
    Q_OBJECT

    QTemporaryDir folder;

  private slots:
    void initTestCase() {
        QVERIFY(folder.isValid());
        writeFileContent(folder.filePath("set-record"), "#!/bin/sh\n");
        QVERIFY(QFile::setPermissions(folder.filePath("set-record"),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        writeFileContent(folder.filePath("plain-file"), "#!/bin/sh\n");
    }

    void valuesAreChecked_data() {
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        const auto row = [](const char* name, const char* edits, const char* refusal) {
            QTest::newRow(name) << QString(edits) << QString(refusal);
        };
        row("accepted by HTTP", "", "");
        row("no name", "names=", "at least one name");
        row("a wildcard by HTTP", "names=*.shop.test", "only through DNS records");
        row("a wildcard and its bare name by a DNS script", "names=*.shop.test,shop.test;exec", "");
        row("a name twice", "names=shop.test,www.shop.test,shop.test", "is given twice");
        row("no e-mail address", "email=admin", "is not an e-mail address");
        row("a key type", "keyType=dsa", "is not a key type");
        row("an authority over http", "server=http://127.0.0.1/dir",
            "not the address of an ACME directory");
        row("an output kind", "outputs=tomcat", "is not a kind of server files");
        row("port 0", "httpPort=0", "0 is not a port number");
        row("a missing CA file", "caBundle=%F/none.pem", "cannot be read");
        row("a .pfx without pass phrase", "outputs=iis", "protected by a pass phrase");
        row("an unknown DNS kind", "provider=route53", "is not a kind of DNS validation");
        row("a DNS script that is missing", "exec;script=%F/none",
            "is not a program that this computer can run");
        row("a DNS script that is not executable", "exec;script=%F/plain-file",
            "is not a program that this computer can run");
        row("accepted by an rfc2136 update", "rfc2136", "");
        row("an rfc2136 update without server", "rfc2136;dnsServer=", "address of the DNS server");
        row("an rfc2136 server that is no address", "rfc2136;dnsServer=127.0.0.1:99999",
            "\"127.0.0.1:99999\" is not the address of a DNS server");
        row("an rfc2136 update without key name", "rfc2136;tsigKey=", "name of the TSIG key");
        row("an rfc2136 update without secret",
            "rfc2136;tsigSecret=", "secret of the TSIG key \"certwright.\"");
        row("a TSIG algorithm that lego does not know", "rfc2136;tsigAlgorithm=hmac-sha3",
            "\"hmac-sha3\" is not a TSIG algorithm");
        row("a resolver that is no address", "exec;resolver=dns server",
            "\"dns server\" is not the address of a DNS server");
        row("no time to wait for the record", "exec;wait=0", "0 seconds is no time to wait");
    }
    void valuesAreChecked() {
        QFETCH(QString, edits);
        QFETCH(QString, refusal);
        const Acme::AcmeValues values = valuesWith(edits, folder.path());
        ToolContext context;
        context.currentFolder = folder.path();
        try {
            const Acme::CheckedAcmeValues checked = Acme::checkValues(values, context);
            QVERIFY2(refusal.isEmpty(), "accepted");
            QCOMPARE(checked.values().outFolder, withTrailingSeparator(folder.path()));
            QCOMPARE(checked.values().dns.script, values.dns.script);
        } catch (const PageError& error) {
            QVERIFY2(!refusal.isEmpty() && error.message().contains(refusal),
                     qPrintable(error.message()));
        }
    }

    // A relative DNS script is taken from the current folder and kept absolute for renewals.
    void relativeScriptIsMadeAbsolute() {
        const Acme::AcmeValues values = valuesWith("exec;script=set-record", folder.path());
        ToolContext context;
        context.currentFolder = folder.path();
        QCOMPARE(Acme::checkValues(values, context).values().dns.script,
                 QDir(folder.path()).filePath("set-record"));
    }

    void dnsServerAddresses_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("address");
        const auto row = [](const char* name, const char* typed, const char* address) {
            QTest::newRow(name) << QString(typed) << QString(address);
        };
        row("address", "192.0.2.53", "192.0.2.53:53");
        row("address and port", "127.0.0.1:5353", "127.0.0.1:5353");
        row("host name, which the system would resolve", "ns1.shop.test", "");
        row("IPv6", "::1", "[::1]:53");
        row("IPv6 and port", "[::1]:5353", "[::1]:5353");
        row("IPv6 without brackets is all address", "2001:db8::53:5353", "[2001:db8::53:5353]:53");
        row("port too high", "127.0.0.1:65536", "");
        row("a space", "127.0.0.1 :53", "");
        row("empty port", "127.0.0.1:", "");
    }
    void dnsServerAddresses() {
        QFETCH(QString, typed);
        QFETCH(QString, address);
        QCOMPARE(Acme::dnsServerAddress(typed), address);
    }

    // Recorded lines of lego 4 become the plain reason for the user.
    void legoFailuresInPlainWords_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("reason");
        QTest::newRow("authority cannot connect")
            << kLegoFailed +
                   "[shop.test] acme: error: 400 :: urn:ietf:params:acme:error:connection :: "
                   "127.0.0.1: Fetching http://shop.test:5002/.well-known/acme-challenge/tok: "
                   "Connection refused\n"
            << "The authority could not reach http://shop.test:5002/.well-known/acme-challenge/…: "
               "Connection refused. Does shop.test point at this server, and is port 5002 open?";
        QTest::newRow("wrong answer over HTTP")
            << kLegoFailed +
                   "[shop.test] acme: error: 403 :: urn:ietf:params:acme:error:unauthorized :: "
                   "The key authorization file from the server did not match this challenge "
                   "\"tok.abc\" != \"other\"\n"
            << "did not find the expected answer there";
        QTest::newRow("DNS record not found by the authority")
            << kLegoFailed +
                   "[*.dns.test] acme: error: 403 :: urn:ietf:params:acme:error:unauthorized :: "
                   "Error retrieving TXT records for DNS challenge (\"DNS lookup for "
                   "\\\"_acme-challenge.dns.test\\\" returned an unsuccessful response: "
                   "'\\\\x03'\")\n"
            << "did not find the expected DNS record _acme-challenge.dns.test";
        QTest::newRow("wrong TSIG secret")
            << kLegoFailed +
                   "[w.dns.test] [w.dns.test] acme: error presenting token: rfc2136: failed to "
                   "insert: DNS update failed: dns: bad authentication\n"
            << "The DNS server refused to update the record for w.dns.test: bad authentication. "
               "Please check the TSIG key's name, secret and algorithm";
        QTest::newRow("update refused")
            << kLegoFailed +
                   "[w.dns.test] [w.dns.test] acme: error presenting token: rfc2136: failed to "
                   "insert: DNS update failed: server replied: REFUSED\n"
            << "The DNS server refused to update the record for w.dns.test: REFUSED.";
        QTest::newRow("DNS server not answering")
            << kLegoFailed +
                   "[w.dns.test] [w.dns.test] acme: error presenting token: rfc2136: failed to "
                   "insert: could not find the start of authority for _acme-challenge.w.dns.test.: "
                   "read udp 127.0.0.1:55323->127.0.0.1:15354: read: connection refused\n"
            << "The DNS record for w.dns.test could not be set: connection refused. Please check "
               "the DNS server's address";
        QTest::newRow("DNS script failed")
            << kLegoFailed +
                   "[w.dns.test] [w.dns.test] acme: error presenting token: exit status 1\n"
            << "The DNS script failed to set the record for w.dns.test: exit status 1.";
        QTest::newRow("port taken")
            << "2026/12/08 03:40:00 [INFO] [shop.test] acme: Trying to solve HTTP-01\n"
               "2026/12/08 03:40:00 Could not obtain certificates:\n\terror: one or more "
               "domains had a problem:\n[shop.test] [shop.test] acme: error presenting token: "
               "could not start HTTP server for challenge: listen tcp :5002: bind: address "
               "already in use\n"
            << "Another program already uses port 5002";
        QTest::newRow("authority not trusted")
            << "2026/12/08 03:40:00 Could not create client: get directory at "
               "'https://127.0.0.1:14000/dir': Get \"https://127.0.0.1:14000/dir\": x509: "
               "certificate signed by unknown authority\n"
            << "The authority's HTTPS certificate at https://127.0.0.1:14000/dir is not trusted: "
               "certificate signed by unknown authority.";
        QTest::newRow("authority unreachable")
            << "2026/12/08 03:40:00 Could not create client: get directory at "
               "'https://127.0.0.1:14000/dir': Get \"https://127.0.0.1:14000/dir\": dial tcp "
               "127.0.0.1:14000: connect: connection refused\n"
            << "The authority at https://127.0.0.1:14000/dir could not be reached: connection "
               "refused.";
        QTest::newRow("rate limited")
            << kLegoFailed +
                   "[shop.test] acme: error: 429 :: urn:ietf:params:acme:error:rateLimited :: too "
                   "many certificates already issued\n"
            << "too many certificates were requested: too many certificates already issued.";
        QTest::newRow("anything else")
            << "2026/12/08 03:40:00 [INFO] [shop.test] acme: Obtaining bundled SAN certificate\n"
               "2026/12/08 03:40:00 something \x1b[31mred\n"
            << "lego said: 2026/12/08 03:40:00 something ";
    }
    void legoFailuresInPlainWords() {
        QFETCH(QString, output);
        QFETCH(QString, reason);
        Acme::AcmeValues values =
            valuesWith(output.contains("dns.test") ? "rfc2136" : "", folder.path());
        values.httpPort = 5002;
        const QString said = Acme::plainReason(output, values);
        QVERIFY2(said.contains(reason) && !said.contains(QChar(0x1b)), qPrintable(said));
    }

    // How lego is told to validate: only the one DNS server is asked, never the system's.
    void legoValidates_data() {
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QStringList>("environment");
        const QStringList often = {"_POLLING_INTERVAL=1", "_PROPAGATION_TIMEOUT=120",
                                   "_SEQUENCE_INTERVAL=1"};
        QTest::newRow("temporary web server") << ""
                                              << "--http --http.port :80 run" << QStringList();
        QTest::newRow("rfc2136, its server asked")
            << "rfc2136"
            << "--dns rfc2136 --dns.resolvers 127.0.0.1:5353 --dns.disable-cp run"
            << QStringList{"RFC2136_NAMESERVER=127.0.0.1:5353", "RFC2136_TSIG_KEY=certwright.",
                           "RFC2136_TSIG_SECRET=c2VjcmV0", "RFC2136_TSIG_ALGORITHM=hmac-sha256."} +
                   QStringList(often).replaceInStrings(QRegularExpression("^"), "RFC2136");
        QTest::newRow("script, its resolver asked")
            << "exec;resolver=::1"
            << "--dns exec --dns.resolvers [::1]:53 --dns.disable-cp run"
            << QStringList{"EXEC_PATH=%F/set-record"} +
                   QStringList(often).replaceInStrings(QRegularExpression("^"), "EXEC");
        QTest::newRow("script, waited for")
            << "exec;wait=45"
            << "--dns exec --dns.propagation-wait 45s run"
            << QStringList{"LEGO_DISABLE_CNAME_SUPPORT=true", "EXEC_PATH=%F/set-record"} +
                   QStringList(often).replaceInStrings(QRegularExpression("^"), "EXEC");
    }
    void legoValidates() {
        QFETCH(QString, edits);
        QFETCH(QString, arguments);
        QFETCH(QStringList, environment);
        const Acme::AcmeValues values = valuesWith(edits, folder.path());
        const QStringList all = Acme::legoArguments(values, "/s/");
        const QString names = "--domains shop.test --domains www.shop.test ";
        QCOMPARE(all.join(' '),
                 "lego --path /s/ --server https://127.0.0.1:14000/dir --accept-tos --email "
                 "admin@shop.test --key-type ec256 " +
                     names + arguments);
        QCOMPARE(Acme::legoEnvironment(values), environment.replaceInStrings("%F", folder.path()));
    }

    // A lego whose help lacks a flag that the values need is refused with its version and the
    // flag, before anything runs; one that offers them all is taken.
    void legoWithoutTheFlagsIsRefused_data() {
        QTest::addColumn<QString>("help");
        QTest::addColumn<QString>("edits");
        QTest::addColumn<QString>("refusal");
        const QString lego4 = "GLOBAL OPTIONS:\n   --domains value, -d value\n   --server value\n"
                              "   --accept-tos, -a\n   --email value, -m value\n   --path value\n"
                              "   --key-type value\n   --http\n   --http.port value\n"
                              "   --http.webroot value\n   --dns value\n   --dns.disable-cp\n"
                              "   --dns.resolvers value\n";
        QTest::newRow("lego 4, by HTTP") << lego4 << "" << QString();
        QTest::newRow("lego 4, rfc2136") << lego4 << "rfc2136" << QString();
        QTest::newRow("lego 4, script without resolver")
            << lego4 << "exec"
            << "(%1, version 4.9.1).\nIts \"lego --help\" does not offer --dns.propagation-wait";
        QTest::newRow("without DNS flags")
            << QString(lego4).remove("   --dns.resolvers value\n") << "rfc2136"
            << "(%1, version 4.9.1).\nIts \"lego --help\" does not offer --dns.resolvers, which";
        QTest::newRow("a newer lego, rfc2136")
            << QString(lego4).replace("--dns.disable-cp", "--dns.propagation-disable-ans")
            << "rfc2136" << QString();
        QTest::newRow("a newer lego without the web root")
            << QString(lego4).remove("   --http.webroot value\n") << "webRoot=%F"
            << "(%1, version 4.9.1).\nIts \"lego --help\" does not offer --http.webroot";
    }
    void legoWithoutTheFlagsIsRefused() {
        QFETCH(QString, help);
        QFETCH(QString, edits);
        QFETCH(QString, refusal);
        // Each row is its own lego: the program asks each one once.
        const QString lego = folder.filePath(QTest::currentDataTag()).replace(' ', '-');
        writeFileContent(lego, "#!/bin/sh\n[ \"$1\" = --version ] && echo 'lego version 4.9.1 "
                               "linux/amd64' && exit\ncat <<'EOF'\n" +
                                   help.toUtf8() + "EOF\n");
        QVERIFY(QFile::setPermissions(lego, QFile::ReadOwner | QFile::ExeOwner));
        const Acme::AcmeValues values = valuesWith(edits, folder.path());
        try {
            Acme::requireDrivableLego(lego, values);
            QVERIFY2(refusal.isEmpty(), "taken");
        } catch (const PageError& error) {
            const QString said = error.message() + "\n" + error.explanation();
            QVERIFY2(!refusal.isEmpty() && said.contains(refusal.arg(lego)), qPrintable(said));
        }
    }
};

QTEST_GUILESS_MAIN(TestAcmeValues)
#include "tst_acmevalues.moc"
