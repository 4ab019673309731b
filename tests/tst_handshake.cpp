#include "CertificateWizardDriver.h"
#include "KeyAndCertificateFixtures.h"
#include "TestSupport.h"
#include "uCertificateChain.h"
#include "uGenerateCSRForm.h"
#include "uPrepareIISForm.h"
#include "uPrepareIndyIntrawebForm.h"
#include "uSelfSignForm.h"

#include <QDeadlineTimer>
#include <QFileDialog>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <memory>

namespace {

// Which of the twin wizards a row drives.
enum class Kind { Request, SelfSigned };
// What the server is given: the wizard's key and certificate, the IIS wizard's .pfx made of
// them, or the Indy wizard's key.pem and cert.pem made of them or of that .pfx.
enum class Served { AsMade, IisPfx, IndyFromKey, IndyFromPfx };

const QString kPassPhrase = "correct horse";
const QString kServedPassPhrase = "served secret";
constexpr int kServerStartMilliseconds = 15000;
constexpr int kClientMilliseconds = 20000;

// A TLS server on a loopback port that serves a key and its certificate with the real tool
// and answers an HTTP GET with a status page; it is killed when the object goes.
class LoopbackServer {
  public:
    LoopbackServer(const QString& certificate, const QString& key, const QString& passPhrase,
                   const QString& chain = QString()) {
        // Port 0 lets the system pick a free port, which the server announces once it listens.
        QStringList arguments = {"s_server",  "-accept", "127.0.0.1:0", "-cert",
                                 certificate, "-key",    key,           "-www"};
        if (!passPhrase.isEmpty())
            arguments << "-pass"
                      << "pass:" + passPhrase;
        if (!chain.isEmpty())
            arguments << "-cert_chain" << chain;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(OPENSSL_TOOL, arguments);
        const QRegularExpression accepting("^ACCEPT 127\\.0\\.0\\.1:(\\d+)\\s*$",
                                           QRegularExpression::MultilineOption);
        const QDeadlineTimer deadline(kServerStartMilliseconds);
        while (!deadline.hasExpired()) {
            const bool running = process.state() != QProcess::NotRunning;
            process.waitForReadyRead(100);
            log += QString::fromLocal8Bit(process.readAll());
            const auto match = accepting.match(log);
            if (match.hasMatch()) {
                listeningPort = match.captured(1).toInt();
                return;
            }
            if (!running)
                return;
        }
    }
    ~LoopbackServer() {
        process.kill();
        process.waitForFinished();
    }

    // The port on which the server listens; 0 when it did not start.
    int port() const { return listeningPort; }
    // What the server wrote while it started.
    QString output() const { return log; }

  private:
    QProcess process;
    QString log;
    int listeningPort = 0;
};

bool isAddress(const QString& host) {
    return !QHostAddress(host).isNull();
}

// Runs a client to its end (or kills it after the time limit); returns its exit code, -1
// when it did not end by itself, and its output in *log.
int runClient(const QString& program, const QStringList& arguments, QString* log) {
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(program, arguments);
    client.closeWriteChannel();
    const bool ended = client.waitForFinished(kClientMilliseconds);
    if (!ended)
        client.kill();
    client.waitForFinished();
    *log = program + ' ' + arguments.join(' ') + '\n' + QString::fromLocal8Bit(client.readAll()) +
           client.errorString();
    return ended && client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
}

// curl asks for the server's page under the host name (or address), trusting only the given
// certificate; true when it got the page.
bool curlAccepts(int port, const QString& host, const QString& trusted, QString* log) {
    const QString authority = host + ':' + QString::number(port);
    QStringList arguments = {"--silent",   "--show-error", "--noproxy", "*",
                             "--max-time", "10",           "--cacert",  trusted};
    if (!isAddress(host))
        arguments << "--resolve" << authority + ":127.0.0.1";
    arguments << "https://" + authority + '/';
    return runClient("curl", arguments, log) == 0 && log->contains("<HTML>");
}

// The tool's own client connects and checks the certificate for the host name (or
// address), trusting only the given certificate; true when the handshake succeeded.
bool sClientAccepts(int port, const QString& host, const QString& trusted, QString* log) {
    QStringList arguments = {"s_client", "-connect", "127.0.0.1:" + QString::number(port),
                             "-CAfile",  trusted,    "-verify_return_error"};
    if (isAddress(host))
        arguments << "-verify_ip" << host;
    else
        arguments << "-servername" << host << "-verify_hostname" << host;
    return runClient(OPENSSL_TOOL, arguments, log) == 0 &&
           log->contains("Verify return code: 0 (ok)");
}

// Presses the wizard's Next that runs the tool, answering the pass-phrase dialog; true when
// the wizard reached its finished page.
bool runToFinish(TWizardFrame& wizard, const QString& current, int finished) {
    ModalScript script({enterPassPhrases(current, kServedPassPhrase)});
    wizard.btnNext->click();
    return script.remaining() == 0 && wizard.currentPage() == finished;
}

// From the start page, `nexts` presses of Next to the key page of the IIS or the Indy wizard
// (on its Certwright route), and through it to the paste page.
void toPastePage(TKeyAndCertificateWizard& wizard, int nexts, const QString& key,
                 const QString& folder) {
    wizard.show();
    for (int next = 0; next < nexts; ++next)
        wizard.btnNext->click();
    fillKeyPage(wizard, key, folder, "Shop Server");
}

// Through the paste page too.
bool prepareKey(TKeyAndCertificateWizard& wizard, int nexts, const QString& key,
                const QString& certificate, const QString& keyPhrase, const QString& folder,
                int finished) {
    toPastePage(wizard, nexts, key, folder);
    wizard.memPasteCert->setPlainText(pemText(certificate));
    return runToFinish(wizard, keyPhrase, finished);
}

// The Indy wizard's route through a .pfx file to its finished page.
bool pfxToIndy(TfrmPrepareIndyIntraweb& indy, const QString& pfx, const QString& folder) {
    indy.show();
    indy.btnNext->click();
    indy.rbGenIIS->click();
    indy.btnNext->click();
    indy.rbPFXyes->click();
    indy.btnNext->click();
    QTest::keyClicks(indy.edtPFXFile, pfx);
    QTest::keyClicks(indy.edtPFXExport, folder);
    return runToFinish(indy, kServedPassPhrase, TfrmPrepareIndyIntraweb::tsFinished);
}

} // namespace

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Served)

// What the certificate wizards make with their defaults passes the handshake of real clients
// for the names it was made for, and only for those.
class TestHandshake : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY2(!QStandardPaths::findExecutable("curl").isEmpty(),
                 "curl is missing; tools/setup.sh installs it");
        QVERIFY(authority.isReady());
    }

    void madeCertificatesPassTheHandshake_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("keySize"); // empty: the default, 2048 bits
        QTest::addColumn<Served>("served");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QStringList>("accepted");
        QTest::addColumn<QStringList>("refused");
        const auto rows = [](const char* name, const QString& keySize, Served served,
                             const QString& domain, const QStringList& accepted,
                             const QStringList& refused) {
            // The Indy wizard's key route takes an encrypted key, as the request wizard makes.
            for (const Kind kind : {Kind::Request, Kind::SelfSigned})
                if (kind == Kind::Request || served != Served::IndyFromKey)
                    QTest::addRow("%s: %s", kind == Kind::Request ? "request" : "self-signed", name)
                        << kind << keySize << served << domain << accepted << refused;
        };
        const QStringList www = {"www.shop.test", "shop.test"};
        rows("www", "", Served::AsMade, "www.shop.test", www, {"other.test", "a.shop.test"});
        rows("wildcard", "", Served::AsMade, "*.shop.test", {"a.shop.test", "shop.test"},
             {"a.b.shop.test", "other.test"});
        rows("IP address", "", Served::AsMade, "127.0.0.1", {"127.0.0.1"}, {"localhost"});
        rows("outside ASCII", "", Served::AsMade, QString::fromUtf8("bücher.test"),
             {"xn--bcher-kva.test"}, {"other.test"});
        const char* outputs[] = {"as made", "IIS .pfx", "Indy from the key", "Indy from the .pfx"};
        for (const Served served :
             {Served::AsMade, Served::IisPfx, Served::IndyFromKey, Served::IndyFromPfx})
            for (const QString curve : {"P256", "P384"})
                rows(qPrintable("ECDSA " + curve + ", " + outputs[int(served)]), curve, served,
                     "www.shop.test", www, {"other.test", "a.shop.test"});
    }

    // The request is signed by an authority of the test's own, as a certificate authority
    // would sign it; the self-signed certificate is trusted as it is. The IIS and Indy wizards
    // prepare what was made as a user does; the test's tool opens the .pfx for the server.
    void madeCertificatesPassTheHandshake() {
        QFETCH(Kind, kind);
        QFETCH(QString, keySize);
        QFETCH(Served, served);
        QFETCH(QString, domain);
        QFETCH(QStringList, accepted);
        QFETCH(QStringList, refused);
        TempProgramFolder program;
        TempFolder out;
        TypedSubject subject;
        subject.keySize = keySize;
        subject.domain = domain;
        std::unique_ptr<TCertificateWizard> wizard;
        if (kind == Kind::Request)
            wizard = std::make_unique<TfrmGenerateCSR>(nullptr);
        else
            wizard = std::make_unique<TfrmSelfSign>(nullptr);
        wizard->show();
        fillPages(*wizard, subject, out.path());
        {
            ModalScript script(kind == Kind::Request
                                   ? QVector<ModalScript::Action>{enterPassPhrases("", kPassPhrase)}
                                   : QVector<ModalScript::Action>{});
            clickNext(*wizard);
            QCOMPARE(script.remaining(), 0);
        }
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsFinished));

        const QString base = QString(domain).replace("*", "wildcard");
        const QString key = out.file(base + ".key");
        QCOMPARE(keySizeOf(key, kPassPhrase), keySize.isEmpty() ? "2048" : keySize);
        QString certificate = out.file(base + ".cer");
        QString trusted = certificate;
        QString passPhrase;
        if (kind == Kind::Request) {
            const QString request = out.file(base + ".csr");
            QVERIFY(runOpenSSL({"req", "-in", request, "-noout", "-text"})
                        .contains("Requested Extensions:\n                X509v3 Subject "
                                  "Alternative Name: "));
            certificate = out.file("signed.cer");
            QVERIFY(authority.signRequest(request, certificate));
            trusted = authority.certificate();
            passPhrase = kPassPhrase;
        }

        QString servedKey = key;
        const QString pfx = out.file(base + ".pfx");
        if (served == Served::IisPfx || served == Served::IndyFromPfx) {
            TfrmPrepareIIS iis(nullptr);
            QVERIFY(prepareKey(iis, 1, key, certificate, passPhrase, out.path(),
                               TfrmPrepareIIS::tsFinished));
            servedKey = certificate = out.file("served.pem");
            runOpenSSL({"pkcs12", "-in", pfx, "-nodes", "-passin", "pass:" + kServedPassPhrase,
                        "-out", servedKey});
            passPhrase.clear();
        }
        TfrmPrepareIndyIntraweb indy(nullptr);
        if (served == Served::IndyFromKey)
            QVERIFY(prepareKey(indy, 2, key, certificate, passPhrase, out.path(),
                               TfrmPrepareIndyIntraweb::tsFinished));
        if (served == Served::IndyFromPfx)
            QVERIFY(pfxToIndy(indy, pfx, out.path()));
        if (served == Served::IndyFromKey || served == Served::IndyFromPfx) {
            servedKey = out.file("key.pem");
            certificate = out.file("cert.pem");
            passPhrase = kServedPassPhrase;
        }
        QCOMPARE(keySizeOf(servedKey, passPhrase), keySize.isEmpty() ? "2048" : keySize);

        LoopbackServer server(certificate, servedKey, passPhrase);
        QVERIFY2(server.port() > 0, qPrintable(server.output()));
        QString log;
        for (const QString& host : accepted) {
            QVERIFY2(curlAccepts(server.port(), host, trusted, &log), qPrintable(log));
            QVERIFY2(sClientAccepts(server.port(), host, trusted, &log), qPrintable(log));
        }
        // The name is what fails: the connection itself works.
        for (const QString& host : refused) {
            QVERIFY2(!curlAccepts(server.port(), host, trusted, &log), qPrintable(log));
            QVERIFY2(log.contains("subject name matches"), qPrintable(log));
            QVERIFY2(!sClientAccepts(server.port(), host, trusted, &log), qPrintable(log));
            QVERIFY2(log.contains("mismatch"), qPrintable(log));
        }
    }

    void chainsReachTheClients_data() {
        QTest::addColumn<bool>("iis");
        // "pasted", the suffix of a loaded file, or "crt" for the file beside the key.
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("systemRoot"); // the root bears the name of one the system trusts
        for (const bool iis : {true, false})
            for (const QString source : {"pasted", "pem", "der", "p7b", "p7c", "crt"})
                QTest::addRow("%s: %s", iis ? "IIS" : "Indy", qPrintable(source))
                    << iis << source << false;
        QTest::addRow("IIS: up to a root this system trusts") << true << "pasted" << true;
    }

    // However the chain comes to the paste page (scrambled, with another key's certificate and
    // the server's twice), the summary follows it from the key's certificate up to the root,
    // and every output carries it in order: the .pfx the server certificate (with the friendly
    // name) and then its authorities, cert.pem (made of the key, or of that .pfx) the server
    // certificate and root.pem the authorities. Clients that trust only the root accept a
    // server that sends that chain, and refuse one that sends the server certificate alone.
    void chainsReachTheClients() {
        QFETCH(bool, iis);
        QFETCH(QString, source);
        QFETCH(bool, systemRoot);
        if (systemRoot && !QFile::exists("/etc/ssl/certs/ISRG_Root_X1.pem"))
            QSKIP("The system does not trust ISRG Root X1 here.");
        const ThreeTierAuthority& authority = systemRoot ? trustedChain : chain;
        TempProgramFolder program;
        TempFolder out;
        const QString key = out.file("site.key");
        // The IIS wizard takes a key without a pass phrase, whose certificate is then found by
        // its public key even after another one; the Indy wizard's key route an encrypted key.
        const QString keyPhrase = iis ? QString() : kPassPhrase;
        QVERIFY(makeKey(key, keyPhrase, 2048) && makeKey(out.file("other.key"), QString()));
        QVERIFY(authority.sign(key, keyPhrase, "www.shop.test", out.file("site.pem")));
        QVERIFY(
            authority.sign(out.file("other.key"), "", "other.shop.test", out.file("other.pem")));
        QStringList given{out.file("site.pem"), authority.intermediate(), out.file("site.pem")};
        given.insert(iis ? 0 : 2, out.file("other.pem"));
        if (!systemRoot)
            given.insert(1, authority.root());
        // A DER file holds one certificate: the chain is loaded file by file.
        const QString bundle = out.file(source == "crt" ? "site.crt" : "chain." + source);
        QStringList loaded;
        if (source != "pasted" && source != "crt" && source != "der")
            loaded << bundle;
        QStringList p7{"crl2pkcs7", "-nocrl", "-outform", "DER", "-out", bundle};
        QByteArray pem;
        for (const QString& certificate : given) {
            p7 << "-certfile" << certificate;
            pem += fileContent(certificate);
            if (source == "der")
                runOpenSSL(
                    {"x509", "-in", certificate, "-outform", "DER", "-out",
                     loaded.emplace_back(out.file(QString::number(loaded.size()) + ".der"))});
        }
        writeFileContent(bundle, pem);
        if (source.startsWith("p7"))
            runOpenSSL(p7);
        TfrmPrepareIIS iisWizard(nullptr);
        TfrmPrepareIndyIntraweb indy(nullptr);
        TKeyAndCertificateWizard& wizard =
            iis ? static_cast<TKeyAndCertificateWizard&>(iisWizard) : indy;
        toPastePage(wizard, iis ? 1 : 2, key, out.path());
        if (source == "pasted")
            wizard.memPasteCert->setPlainText(QString(pem));
        for (const QString& file : loaded) {
            ModalScript load({onWindow<QFileDialog>(
                [&](QFileDialog* dialog) { typeIntoFileDialog(dialog, file); })});
            wizard.btnLoadCertificate->click();
            QCOMPARE(load.remaining(), 0);
        }
        QTRY_VERIFY(wizard.lblCertificateInfo->isVisible());
        const QString rootName = systemRoot ? "ISRG Root X1" : "Certwright Test Root";
        const QString shown = wizard.lblCertificateInfo->text();
        QStringList summary = shown.split('\n');
        QCOMPARE(summary.first(), QString("Subject: CN=www.shop.test"));
        // A root that only bears the name of one the system trusts is not taken for it.
        const QStringList chainLines =
            systemRoot ? QStringList{"  Certwright Test Intermediate",
                                     "  " + kMissingIssuerText.arg(rootName)}
                       : QStringList{"  Certwright Test Intermediate", "  " + rootName,
                                     "  " + kUntrustedRootText};
        QCOMPARE(summary.mid(summary.indexOf("Chain:") + 1, chainLines.size()), chainLines);
        // The check warns of the scrambled order and the root given, never of the key.
        QCOMPARE(shown.count(QRegularExpression(
                     "not in order|ends in \"Certwright Test Root\", a root that|not the key")),
                 systemRoot ? 0 : 2);
        // The page puts them in order itself, and has no button to save a chain.
        QCOMPARE(shown.contains("Nothing needs to be done: the files are made with the "
                                "certificates in that order."),
                 !systemRoot);
        QVERIFY(!shown.contains("Save the complete chain"));
        QVERIFY(runToFinish(wizard, keyPhrase,
                            iis ? int(TfrmPrepareIIS::tsFinished)
                                : int(TfrmPrepareIndyIntraweb::tsFinished)));

        const QStringList authorities =
            QStringList{"Certwright Test Intermediate", rootName}.mid(0, systemRoot ? 1 : 2);
        if (iis) {
            const QString info = runOpenSSL({"pkcs12", "-in", out.file("site.pfx"), "-info",
                                             "-nokeys", "-passin", "pass:" + kServedPassPhrase},
                                            nullptr, true);
            QCOMPARE(subjectsIn(info), QStringList{"www.shop.test"} + authorities);
            QCOMPARE(info.count("friendlyName"), 1);
            QVERIFY(info.indexOf("friendlyName: Shop Server") < info.indexOf("-----END"));
            QVERIFY(pfxToIndy(indy, out.file("site.pfx"), out.path()));
        }
        QCOMPARE(indy.memRootInstructions->toPlainText(),
                 TfrmPrepareIndyIntraweb::kRootWrittenInstructions.join('\n'));
        QCOMPARE(subjectsIn(pemText(out.file("cert.pem"))), QStringList{"www.shop.test"});
        QCOMPARE(subjectsIn(pemText(out.file("root.pem"))), authorities);

        QString log;
        for (const QString& sentChain : {QString(), out.file("root.pem")}) {
            LoopbackServer server(out.file("cert.pem"), out.file("key.pem"), kServedPassPhrase,
                                  sentChain);
            QVERIFY2(server.port() > 0, qPrintable(server.output()));
            QCOMPARE(curlAccepts(server.port(), "www.shop.test", authority.root(), &log),
                     !sentChain.isEmpty());
            QCOMPARE(sClientAccepts(server.port(), "www.shop.test", authority.root(), &log),
                     !sentChain.isEmpty());
        }
    }

  private:
    ThreeTierAuthority chain;
    ThreeTierAuthority trustedChain{"/C=US/O=Internet Security Research Group/CN=ISRG Root X1"};
    // The system's TLS clients refuse an authority whose key has fewer than 2048 bits.
    SigningAuthority authority{2048};
};

QTEST_MAIN(TestHandshake)
#include "tst_handshake.moc"
