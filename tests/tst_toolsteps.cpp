#include "TestAuthority.h"
#include "TestCoreSupport.h"
#include "uCertificateChain.h"
#include "uCertwrightCommon.h"
#include "uOutputCheck.h"
#include "uPassPhraseFiles.h"
#include "uPassPhraseFolder.h"
#include "uToolSteps.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QtTest>

#include <functional>
#include <optional>

namespace {

using namespace ToolSteps;

enum class Step { Request, SelfSigned, Pfx, FromPfx, FromKey };
// Cancelled: the pass-phrase dialog is cancelled. Declined: the first replace question is
// answered No. NoTool: the first run cannot start. LastRunFails: the step's last run cannot
// write its output, a folder standing at its name. EmptyPassPhrase: the user hands back an
// empty new pass phrase.
enum class Outcome { Made, Cancelled, Declined, NoTool, LastRunFails, EmptyPassPhrase };

const QString kKeyPassPhrase = QStringLiteral("key secret");
const QString kPfxPassPhrase = QStringLiteral("pfx secret");
const QString kNewPassPhrase = QStringLiteral("new secret");

// A user whose answers are written down beforehand; it notes what it was asked.
class ScriptedUser : public StepUser {
  public:
    QString current;
    QString fresh = kNewPassPhrase;
    bool confirms = true;
    bool replaces = true;
    QList<PassPhraseUse> uses;
    QStringList questions;
    QStringList notices;

    PassPhrases askPassPhrases(PassPhraseUse use) override {
        uses << use;
        if (!confirms)
            throw SilentAbort();
        return {current, fresh};
    }

    bool mayReplace(const QString& question, bool) override {
        questions << question.section("\n\n", 0, 0); // the wizards' tests read the warning
        return replaces;
    }

    void tell(const QString& notice) override { notices << notice; }
};

struct Output {
    QString name;
    OutputKind kind;
};

// One step over the inputs, as a row sets it up in the export folder.
struct StepCase {
    std::function<MadeFiles(StepUser&, const ToolContext&)> run;
    QString currentPassPhrase;
    QList<PassPhraseUse> uses;
    QVector<Output> made;         // in the order listed
    QVector<Output> alsoReplaced; // scratch outputs: neither listed nor asked about
    QString request;              // the name of the file for Copy Request
    QString failureMessage;
};

// Every file in the folder with its content.
QMap<QString, QByteArray> filesOf(const QString& folder) {
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, fileContent(folder + name));
    return files;
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Outcome)

// The four steps without any window: a scripted user, the real tool, and the files that each
// step makes, keeps or brings back.
class TestToolSteps : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        const QString key = inputs.file("site.key");
        QVERIFY(makeKey(key, kKeyPassPhrase, 1024));
        runOpenSSL({"req", "-x509", "-key", key, "-passin", "pass:" + kKeyPassPhrase, "-subj",
                    "/CN=www.example.org", "-days", "2", "-out", inputs.file("site.crt")});
        runOpenSSL({"pkcs12", "-export", "-inkey", key, "-passin", "pass:" + kKeyPassPhrase, "-in",
                    inputs.file("site.crt"), "-passout", "pass:" + kPfxPassPhrase, "-out",
                    inputs.file("site.pfx")});
        QVERIFY(outputIsComplete(inputs.file("site.crt"), OutputKind::Certificate));
        QVERIFY(outputIsComplete(inputs.file("site.pfx"), OutputKind::Bundle));
        QVERIFY(authority.isValid());
        QVERIFY(authority.issue("leaf"));
        QVERIFY(authority.issue("other"));
        TestAuthority::Leaf self;
        self.selfSigned = true;
        QVERIFY(authority.issue("self", self));
    }

    // Certificates of the authority, given as files in a form ("pem": together, "der", "p7pem",
    // "p7der"), perhaps with the key of one and the root as trusted: the server certificate, the
    // authorities in order and how the chain ends.
    void certificatesAreReadAndPutInOrder_data() {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("rootTrusted");
        QTest::addColumn<QStringList>("ordered"); // the server first
        QTest::addColumn<QStringList>("summary");
        QTest::addColumn<bool>("inOrder");
        const auto row = [](const char* name, const char* given, const char* form, const char* key,
                            bool trusted, const char* ordered, const QStringList& summary,
                            bool inOrder) {
            QTest::newRow(name) << QString(given).split(' ') << form << key << trusted
                                << QString(ordered).split(' ', Qt::SkipEmptyParts) << summary
                                << inOrder;
        };
        const QString inter = "Check Intermediate";
        const QString root = "Check Root";
        row("in order, root trusted", "leaf inter root", "pem", "", true, "leaf inter root",
            {inter, root, kTrustedRootText}, true);
        row("any order, root not trusted", "root leaf inter", "pem", "", false, "leaf inter root",
            {inter, root, kUntrustedRootText}, false);
        row("trusted root not given", "inter leaf", "pem", "", true, "leaf inter",
            {inter, root, kTrustedRootText}, false);
        row("intermediate missing, der", "leaf", "der", "", true, "leaf",
            {kMissingIssuerText.arg(inter)}, true);
        row("the key names the server", "other leaf inter", "pem", "leaf", true, "leaf inter",
            {inter, root, kTrustedRootText}, true);
        row("three, der", "root leaf inter", "der", "", true, "leaf inter root",
            {inter, root, kTrustedRootText}, false);
        row("pkcs7, pem", "inter root leaf", "p7pem", "", true, "leaf inter root",
            {inter, root, kTrustedRootText}, false);
        row("pkcs7, der", "leaf inter", "p7der", "", false, "leaf inter",
            {inter, kMissingIssuerText.arg(root)}, true);
        row("self-signed", "self", "pem", "", false, "self", {kUntrustedRootText}, true);
        row("not a certificate", "leaf.key", "pem", "", false, "", {}, true);
    }
    void certificatesAreReadAndPutInOrder() {
        QFETCH(QStringList, given);
        QFETCH(QString, form);
        QFETCH(QString, key);
        QFETCH(bool, rootTrusted);
        QFETCH(QStringList, ordered);
        QFETCH(QStringList, summary);
        QFETCH(bool, inOrder);
        const TempProgramFolder program;
        const TempFolder scratch;
        QByteArray data;
        for (const QString& name : given)
            data += fileContent(authority.file(name.contains('.') ? name : name + ".crt"));
        writeFileContent(scratch.file("given.pem"), data);
        if (form.startsWith("p7")) {
            runOpenSSL({"crl2pkcs7", "-nocrl", "-certfile", scratch.file("given.pem"), "-outform",
                        form.mid(2), "-out", scratch.file("given.der")});
            data = fileContent(scratch.file("given.der"));
        } else if (form == "der") {
            data.clear(); // DER certificates one after another
            for (const QString& name : given)
                data += QSslCertificate::fromPath(authority.file(name + ".crt")).value(0).toDer();
        }
        if (ordered.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(PageError, readCertificates(data, program.context()));
            return;
        }
        const QList<QSslCertificate> certificates = readCertificates(data, program.context());
        QCOMPARE(certificates.size(), given.size());
        const QByteArray publicKey =
            key.isEmpty()
                ? QByteArray()
                : runOpenSSL({"pkey", "-in", authority.file(key + ".key"), "-pubout"}).toLatin1();
        const CertificateChain chain = orderChain(
            certificates, publicKey, rootTrusted ? authority.file("root.crt") : QString());
        QList<QSslCertificate> expected;
        for (const QString& name : ordered)
            expected += QSslCertificate::fromPath(authority.file(name + ".crt"));
        QCOMPARE(QList<QSslCertificate>{chain.server} + chain.authorities, expected);
        QCOMPARE(chainSummaryLines(chain), summary);
        QCOMPARE(chain.inputInOrder, inOrder);
    }

    void stepsReplaceTheirOutputsTogetherOrNotAtAll_data() {
        QTest::addColumn<Step>("step");
        QTest::addColumn<Outcome>("outcome");
        const std::pair<Step, const char*> steps[] = {{Step::Request, "request"},
                                                      {Step::SelfSigned, "self-signed"},
                                                      {Step::Pfx, "pfx"},
                                                      {Step::FromPfx, "from pfx"},
                                                      {Step::FromKey, "from key"}};
        const std::pair<Outcome, const char*> outcomes[] = {
            {Outcome::Made, "made"},
            {Outcome::Cancelled, "cancelled"},
            {Outcome::Declined, "declined"},
            {Outcome::NoTool, "no tool"},
            {Outcome::LastRunFails, "last run fails"},
            {Outcome::EmptyPassPhrase, "empty pass phrase"}};
        for (const auto& [step, stepName] : steps)
            for (const auto& [outcome, outcomeName] : outcomes) {
                // The self-signed step asks for no pass phrase; the .pfx step has one run only;
                // only the request step checks the new pass phrase itself.
                if ((outcome == Outcome::Cancelled && step == Step::SelfSigned) ||
                    (outcome == Outcome::LastRunFails && step == Step::Pfx) ||
                    (outcome == Outcome::EmptyPassPhrase && step != Step::Request))
                    continue;
                QTest::addRow("%s, %s", stepName, outcomeName) << step << outcome;
            }
    }
    void stepsReplaceTheirOutputsTogetherOrNotAtAll() {
        QFETCH(Step, step);
        QFETCH(Outcome, outcome);
        TempProgramFolder program(outcome != Outcome::NoTool);
        TempFolder out;
        const StepCase stepCase = caseOf(step, out);
        // Every output stands there already, the user's earlier files; when the last run
        // fails, a scratch output is new and must not stay either.
        for (const Output& output : stepCase.made)
            writeFileContent(out.file(output.name), "earlier " + output.name.toUtf8());
        for (const Output& output : stepCase.alsoReplaced)
            if (outcome != Outcome::LastRunFails)
                writeFileContent(out.file(output.name), "earlier " + output.name.toUtf8());
        if (outcome == Outcome::LastRunFails) {
            const QString last = out.file(stepCase.made.constLast().name);
            QVERIFY(QFile::remove(last));
            QVERIFY(QDir().mkdir(last));
        }
        const QMap<QString, QByteArray> before = filesOf(out.path());

        ScriptedUser user;
        user.current = stepCase.currentPassPhrase;
        user.confirms = outcome != Outcome::Cancelled;
        user.replaces = outcome != Outcome::Declined;
        if (outcome == Outcome::EmptyPassPhrase)
            user.fresh.clear();
        std::optional<MadeFiles> made;
        QString failure;
        bool aborted = false;
        try {
            made = stepCase.run(user, program.context());
        } catch (const SilentAbort&) {
            aborted = true;
        } catch (const PageError& error) {
            failure = error.message();
        }
        QCOMPARE(user.uses, stepCase.uses);
        QMap<QString, QByteArray> expected = before;

        switch (outcome) {
        case Outcome::Made: {
            QVERIFY2(made, qPrintable(failure));
            QStringList questions;
            QStringList paths;
            for (const Output& output : stepCase.made) {
                questions << kOverwriteQuestion.arg(output.name);
                paths << out.file(output.name);
            }
            QCOMPARE(user.questions, questions);
            QCOMPARE(made->folder, out.path());
            QCOMPARE(made->paths, paths);
            QCOMPARE(made->request,
                     stepCase.request.isEmpty() ? QString() : out.file(stepCase.request));
            // Each output is new and complete; the earlier files and the scratch outputs are
            // gone without a trace.
            for (const Output& output : stepCase.made) {
                QVERIFY2(outputIsComplete(out.file(output.name), output.kind),
                         qPrintable(output.name));
                expected.insert(output.name, fileContent(out.file(output.name)));
            }
            for (const Output& output : stepCase.alsoReplaced)
                expected.remove(output.name);
            break;
        }
        case Outcome::Cancelled:
            QVERIFY(aborted);
            QVERIFY(user.questions.isEmpty());
            break;
        case Outcome::Declined:
            QVERIFY(aborted);
            QCOMPARE(user.questions,
                     QStringList{kOverwriteQuestion.arg(stepCase.made.constFirst().name)});
            break;
        case Outcome::NoTool:
        case Outcome::EmptyPassPhrase:
            QCOMPARE(failure,
                     outcome == Outcome::NoTool ? stepCase.failureMessage : kNoPasswordMessage);
            break;
        case Outcome::LastRunFails:
            QCOMPARE(failure, stepCase.failureMessage);
            break;
        }
        // Neither the request configuration nor the bundle stays, and no pass phrase does.
        QCOMPARE(filesOf(out.path()), expected);
        if (stepCase.uses.isEmpty())
            QVERIFY(!FileIsPresent(program.file(kNewPassPhraseFile)));
        else
            QVERIFY(passPhraseFilesEmpty(program.path()));
        QCOMPARE(user.notices, QStringList());
    }

  private:
    TempFolder inputs;
    TestAuthority authority;

    StepCase caseOf(Step step, const TempFolder& out) const {
        const QString folder = out.path();
        const QString pasted = QStringLiteral("__cert.txt");
        const KeyAndCertificateValues keyAndCertificate{
            "Example", inputs.file("site.key"), out.file(pasted),
            requirePrivateExportFolder(folder, QDir::currentPath())};
        switch (step) {
        case Step::Request:
        case Step::SelfSigned: {
            const bool request = step == Step::Request;
            const CertificateValues values{request ? QString() : QStringLiteral("30"),
                                           "admin@example.org",
                                           "512",
                                           "DE",
                                           "Berlin",
                                           "Berlin",
                                           "*.example.org",
                                           "Example Ltd",
                                           folder};
            const CertificateStep* kind = request ? &kRequestStep : &kSelfSignedStep;
            const QString second =
                request ? "wildcard.example.org.csr" : "wildcard.example.org.cer";
            StepCase stepCase{[kind, values](StepUser& user, const ToolContext& context) {
                                  return generateCertificate(*kind, values, user, context);
                              },
                              QString(),
                              {},
                              {{"wildcard.example.org.key", OutputKind::Key},
                               {second, request ? OutputKind::Request : OutputKind::Certificate}},
                              {},
                              request ? second : QString(),
                              kGenerationFailedMessage};
            if (request)
                stepCase.uses = {PassPhraseUse::CertificateRequest};
            return stepCase;
        }
        case Step::Pfx:
            writeFileContent(out.file(pasted), fileContent(inputs.file("site.crt")));
            return {[keyAndCertificate](StepUser& user, const ToolContext& context) {
                        return createPfx(keyAndCertificate, user, context);
                    },
                    kKeyPassPhrase,
                    {PassPhraseUse::IISBundle},
                    {{"site.pfx", OutputKind::Bundle}},
                    {},
                    QString(),
                    kConversionFailedMessage};
        case Step::FromPfx: {
            const PfxExtractionValues values{inputs.file("site.pfx"), folder};
            return {
                [values](StepUser& user, const ToolContext& context) {
                    return extractFromPfx(values, user, context);
                },
                kPfxPassPhrase,
                {PassPhraseUse::IndyFromPfx},
                {{kKeyFileName, OutputKind::Key}, {kCertificateFileName, OutputKind::Certificate}},
                {},
                QString(),
                kConversionFailedMessage};
        }
        case Step::FromKey:
            writeFileContent(out.file(pasted), fileContent(inputs.file("site.crt")));
            return {
                [keyAndCertificate](StepUser& user, const ToolContext& context) {
                    return convertKeyAndCert(keyAndCertificate, user, context);
                },
                kKeyPassPhrase,
                {PassPhraseUse::IndyFromKey},
                {{kKeyFileName, OutputKind::Key}, {kCertificateFileName, OutputKind::Certificate}},
                {{kBundleFileName, OutputKind::Bundle}},
                QString(),
                kConversionFailedMessage};
        }
        return {};
    }
};

QTEST_GUILESS_MAIN(TestToolSteps)
#include "tst_toolsteps.moc"
