#include "CertificateWizardDriver.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uGenerateCSRForm.h"
#include "uSelfSignForm.h"
#include "uToolSteps.h"

#include <QLabel>
#include <QTextEdit>

#include <memory>

namespace {

// Which of the twin wizards a row drives.
enum class Kind { Request, SelfSigned };

const QString kPassPhrase = "correct horse";
using Answers = QVector<QMessageBox::StandardButton>;

std::unique_ptr<TCertificateWizard> makeWizard(Kind kind) {
    if (kind == Kind::Request)
        return std::make_unique<TfrmGenerateCSR>(nullptr);
    return std::make_unique<TfrmSelfSign>(nullptr);
}

// The extension of the second output: the request or the certificate.
QString outputExtension(Kind kind) {
    return kind == Kind::Request ? ".csr" : ".cer";
}

// The tool's sub-command that reads the second output.
QString outputReader(Kind kind) {
    return kind == Kind::Request ? "req" : "x509";
}

// The answers to one generation step: the request wizard first asks for the new pass phrase.
QVector<ModalScript::Action> generationAnswers(Kind kind, const Answers& answers,
                                               const QString& passPhrase = kPassPhrase) {
    QVector<ModalScript::Action> actions;
    if (kind == Kind::Request)
        actions << enterPassPhrases("", passPhrase);
    for (QMessageBox::StandardButton answer : answers)
        actions << pressButton(answer);
    return actions;
}

// What the step showed after the pass-phrase dialog.
QStringList shownAfterPassPhrase(Kind kind, const ModalScript& script) {
    return script.seen.mid(kind == Kind::Request ? 1 : 0);
}

QString question(const QString& file) {
    const QString warning = "\n\n" + ToolSteps::kKeyOverwriteWarning;
    return ToolSteps::kOverwriteQuestion.arg(file) + (file.endsWith(".key") ? warning : "");
}

// One row of the data function for each wizard, its name prefixed with the wizard's.
template <typename Row> void forEachWizard(const char* name, Row&& row) {
    for (const Kind kind : {Kind::Request, Kind::SelfSigned}) {
        auto& data =
            QTest::addRow("%s: %s", kind == Kind::Request ? "request" : "self-signed", name)
            << kind;
        row(data, kind);
    }
}

} // namespace

Q_DECLARE_METATYPE(Kind)

// What the request and the self-signed certificate wizards share: their pages, navigation and
// generation step, driven through each wizard's widgets with the real tool.
class TestCertificateWizards : public QObject {
    Q_OBJECT
  private slots:
    void freshWizardShowsItsDefaults_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("finished");
        QTest::addColumn<QStringList>("keySizePage");
        QTest::newRow("request")
            << Kind::Request << "Generate Certificate Request"
            << "This wizard will generate a Certificate Request.  \n\nA Certificate Request is sent"
            << QStringList({"Your Certificate Request has been generated.", "",
                            "You may now submit this request to a Certificate ", "Authority."})
            << QStringList({"rb1024", "rb2048", "rb512", "rb4096", "rbP256", "rbP384", "edtEmail"});
        QTest::newRow("self-signed")
            << Kind::SelfSigned << "Generate and Self Sign"
            << "This wizard will generate a self-signed certificate.\n\nA self signed certificate"
            << QStringList({"Your certificate has been generated.", "",
                            "Your certificate may now be installed in a web server."})
            << QStringList({"rb1024", "rb2048", "rb512", "rb4096", "rbP256", "rbP384", "edtDays",
                            "udDays", "edtEmail"});
    }
    void freshWizardShowsItsDefaults() {
        QFETCH(Kind, kind);
        QFETCH(QString, title);
        QFETCH(QString, start);
        QFETCH(QStringList, finished);
        QFETCH(QStringList, keySizePage);
        const auto wizard = makeWizard(kind);
        wizard->show();
        QCOMPARE(wizard->windowTitle(), title);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsStart));
        QCOMPARE(wizard->btnPrevious->text(), QString("Cancel"));
        QCOMPARE(wizard->btnNext->text(), QString("Next >"));
        QVERIFY(wizard->btnNext->isDefault());
        QStringList pages;
        for (int i = 0; i < wizard->pcWizard->count(); ++i)
            pages << wizard->pcWizard->widget(i)->objectName();
        QCOMPARE(pages, QStringList({"tsStart", "tsBitsize", "tsLocaleInfo", "tsOrganizationInfo",
                                     "tsFinished"}));
        QVERIFY2(wizard->Label1->text().startsWith(start), qPrintable(wizard->Label1->text()));
        QCOMPARE(wizard->Label4->text(),
                 QString("Select the bit size of your key pair:  (2048 recommended)"));
        QStringList keySizes;
        for (const QRadioButton* button : {wizard->rb1024, wizard->rb2048, wizard->rb512,
                                           wizard->rb4096, wizard->rbP256, wizard->rbP384})
            keySizes << button->text() + (button->isChecked() ? " (selected)" : "");
        QCOMPARE(keySizes, QStringList({"1024 bit", "2048 bit (selected)", "512 bit", "4096 bit",
                                        "ECDSA P-256", "ECDSA P-384"}));
        QCOMPARE(wizard->cbCountry->count(), 240);
        QCOMPARE(wizard->cbCountry->currentText(), QString("UNITED STATES"));
        QCOMPARE(wizard->cbCountry->itemText(48),
                 QString("CONGO, Democratic Republic of (was Zaire)"));
        QVERIFY(!wizard->cbCountry->isEditable());
        QCOMPARE(wizard->edtExportPath->text(), QDir::currentPath() + "/");
        QVERIFY(wizard->edtEmail->text().isEmpty() && wizard->edtDomainName->text().isEmpty());
        QCOMPARE(wizard->btnExportPath->text(), QString("..."));
        QCOMPARE(wizard->memRootInstructions->toPlainText().split('\n'), finished);
        QCOMPARE(bool(wizard->findChild<QLineEdit*>("edtDays")), kind == Kind::SelfSigned);

        const QStringList localePage = {"cbCountry", "edtState", "edtCity"};
        const QStringList organizationPage = {"edtDomainName", "edtLegalName", "edtExportPath",
                                              "btnExportPath"};
        QCOMPARE(tabOrder(wizard->rb1024, keySizePage), keySizePage);
        QCOMPARE(tabOrder(wizard->cbCountry, localePage), localePage);
        QCOMPARE(tabOrder(wizard->edtDomainName, organizationPage), organizationPage);
    }

    void navigationChecksEveryPage_data() {
        QTest::addColumn<Kind>("kind");
        forEachWizard("empty fields", [](QTestData&, Kind) {});
    }
    void navigationChecksEveryPage() {
        QFETCH(Kind, kind);
        const auto wizard = makeWizard(kind);
        wizard->show();
        QVERIFY(QTest::qWaitForWindowActive(wizard.get()));
        QTest::keyClick(wizard.get(), Qt::Key_Return);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsBitsize));
        QCOMPARE(wizard->btnPrevious->text(), QString("< Previous"));
        QCOMPARE(wizard->btnNext->text(), QString("Next >"));
        QCOMPARE(wizard->focusWidget(), wizard->rb2048);
        // A short key is warned of while it is selected, to the eye and with the button.
        for (QRadioButton* key :
             {wizard->rb512, wizard->rb4096, wizard->rb1024, wizard->rbP256, wizard->rbP384}) {
            QTest::mouseClick(key, Qt::LeftButton);
            const QString warning =
                key == wizard->rb512 || key == wizard->rb1024
                    ? "Servers and browsers today refuse keys shorter than 2048 bits."
                    : "";
            QCOMPARE(wizard->lblShortKey->isVisible(), !warning.isEmpty());
            QCOMPARE(key->accessibleDescription(), warning);
        }

        const QString incomplete = TCertificateWizard::kPageIncompleteMessage;
        {
            ModalScript script({pressButton(QMessageBox::Ok)});
            clickNext(*wizard);
            QCOMPARE(script.seen, QStringList({incomplete}));
        }
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsBitsize));
        QCOMPARE(wizard->btnPrevious->text(), QString("< Previous"));
        QTest::keyClicks(wizard->edtEmail, "   ");
        clickNext(*wizard);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsLocaleInfo));
        QCOMPARE(wizard->focusWidget(), wizard->cbCountry);

        for (QLineEdit* filled : {wizard->edtState, wizard->edtCity}) {
            ModalScript script({pressButton(QMessageBox::Ok)});
            clickNext(*wizard);
            QCOMPARE(script.seen, QStringList({incomplete}));
            QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsLocaleInfo));
            filled->setText("x");
        }
        clickNext(*wizard);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsOrganizationInfo));
        QCOMPARE(wizard->focusWidget(), wizard->edtDomainName);

        wizard->edtExportPath->clear();
        for (QLineEdit* filled : {wizard->edtDomainName, wizard->edtLegalName}) {
            ModalScript script({pressButton(QMessageBox::Ok)});
            clickNext(*wizard);
            QCOMPARE(script.seen, QStringList({incomplete}));
            QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsOrganizationInfo));
            QCOMPARE(wizard->btnNext->text(), QString("Next >"));
            filled->setText("x");
        }
        {
            ModalScript script({pressButton(QMessageBox::Ok)});
            clickNext(*wizard);
            QCOMPARE(script.seen, QStringList({incomplete}));
        }
        QCOMPARE(wizard->edtDomainName->text(), QString("x"));

        QTest::keyClick(wizard.get(), Qt::Key_Escape);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsLocaleInfo));
        clickPrevious(*wizard);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsBitsize));
        QCOMPARE(wizard->btnPrevious->text(), QString("< Previous"));
        QCOMPARE(wizard->focusWidget(), wizard->rbP384);
        QTest::keyClick(wizard.get(), Qt::Key_Escape);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsStart));
        QCOMPARE(wizard->btnPrevious->text(), QString("Cancel"));
        QCOMPARE(wizard->edtEmail->text(), QString("   "));
        QTest::keyClick(wizard.get(), Qt::Key_Escape);
        QVERIFY(!wizard->isVisible());
        QCOMPARE(wizard->result(), int(QDialog::Accepted));
    }

    // Back from the finished page, Next asks again (for a pass phrase too) and about both files.
    // A folder with a double quote in its name serves like any other.
    void backFromFinishedPageGeneratesAgain_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("folder"); // below the temporary folder
        forEachWizard("wildcard", [](QTestData& row, Kind) { row << QString(); });
        forEachWizard("double quote in folder", [](QTestData& row, Kind) { row << "q\"/"; });
    }
    void backFromFinishedPageGeneratesAgain() {
        QFETCH(Kind, kind);
        QFETCH(QString, folder);
        TempProgramFolder program;
        TempFolder root;
        QVERIFY(QDir().mkpath(root.file(folder)));
        const QString out = root.file(folder);
        TypedSubject subject;
        subject.domain = "*.shop.test";
        subject.keySize = "512";
        const QString key = out + "wildcard.shop.test.key";
        const QString output = out + "wildcard.shop.test" + outputExtension(kind);
        const auto wizard = makeWizard(kind);
        wizard->show();
        fillPages(*wizard, subject, out);
        {
            ModalScript script(generationAnswers(kind, {}));
            clickNext(*wizard);
            QCOMPARE(script.remaining(), 0);
        }
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsFinished));
        const QByteArray firstKey = fileContent(key);
        const QByteArray firstOutput = fileContent(output);
        clickPrevious(*wizard);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsOrganizationInfo));
        QCOMPARE(wizard->btnNext->text(), QString("Next >"));
        QCOMPARE(wizard->edtDomainName->text(), QString("*.shop.test"));
        {
            ModalScript script(
                generationAnswers(kind, {QMessageBox::Yes, QMessageBox::Yes}, "second phrase"));
            clickNext(*wizard);
            QCOMPARE(shownAfterPassPhrase(kind, script),
                     QStringList({question("wildcard.shop.test.key"),
                                  question("wildcard.shop.test" + outputExtension(kind))}));
        }
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsFinished));
        QVERIFY(fileContent(key) != firstKey);
        QVERIFY(fileContent(output) != firstOutput);
        QCOMPARE(keySizeOf(key, "second phrase"), QString("512"));
        QCOMPARE(subjectOf(outputReader(kind), output), subject.expectedSubject());
        QVERIFY(carriesPublicKeyOf(outputReader(kind), output, key, "second phrase"));
        QVERIFY(!QFile::exists(out + "__config.tmp"));
    }

    void declinedOverwriteLeavesEverything_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QStringList>("questions");
        const QString key = "www.shop.test.key";
        forEachWizard("key only, No", [&](QTestData& row, Kind) {
            row << QStringList({key}) << Answers{QMessageBox::No} << QStringList({question(key)});
        });
        forEachWizard("second output only, No", [&](QTestData& row, Kind kind) {
            const QString output = "www.shop.test" + outputExtension(kind);
            row << QStringList({output}) << Answers{QMessageBox::No}
                << QStringList({question(output)});
        });
        forEachWizard("both, No", [&](QTestData& row, Kind kind) {
            row << QStringList({key, "www.shop.test" + outputExtension(kind)})
                << Answers{QMessageBox::No} << QStringList({question(key)});
        });
        forEachWizard("both, Yes then No", [&](QTestData& row, Kind kind) {
            const QString output = "www.shop.test" + outputExtension(kind);
            row << QStringList({key, output}) << Answers{QMessageBox::Yes, QMessageBox::No}
                << QStringList({question(key), question(output)});
        });
    }
    void declinedOverwriteLeavesEverything() {
        QFETCH(Kind, kind);
        QFETCH(QStringList, present);
        QFETCH(Answers, answers);
        QFETCH(QStringList, questions);
        TempProgramFolder program;
        TempFolder out;
        for (const QString& name : present)
            writeFileContent(out.file(name), "old " + name.toUtf8());
        const auto before = folderContent(out.path());
        const auto wizard = makeWizard(kind);
        wizard->show();
        fillPages(*wizard, TypedSubject(), out.path());
        ModalScript script(generationAnswers(kind, answers));
        clickNext(*wizard);
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(shownAfterPassPhrase(kind, script), questions);
        QCOMPARE(folderContent(out.path()), before);
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsOrganizationInfo));
        QCOMPARE(wizard->btnNext->text(), QString("Next >"));
        // The request wizard's pass phrase is emptied; the other one never asks.
        if (kind == Kind::Request)
            QVERIFY(passPhraseFilesEmpty(program.path()));
        else
            QVERIFY(!QFile::exists(program.file("passnew.txt")));
    }

    // A folder that cannot take the files is refused by Next of its page, before the pass phrase.
    void unwritableExportFolderStopsBeforeAnyRun_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        forEachWizard("missing", [](QTestData& row, Kind) {
            row << "missing" << kMissingExportFolderMessage;
        });
        forEachWizard("under a file",
                      [](QTestData& row, Kind) { row << "plain/" << kNotAFolderMessage; });
    }
    void unwritableExportFolderStopsBeforeAnyRun() {
        QFETCH(Kind, kind);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        TempProgramFolder program;
        TempFolder out;
        writeFileContent(out.file("plain"), "a file");
        const auto wizard = makeWizard(kind);
        wizard->show();
        fillPages(*wizard, TypedSubject(), out.file(folder));
        ModalScript script({pressButton(QMessageBox::Ok)});
        clickNext(*wizard);
        QCOMPARE(script.seen, QStringList{message.arg(out.file(folder))});
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"plain"}));
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsOrganizationInfo));
    }

    void missingToolLeavesTheConfigurationFile_data() {
        QTest::addColumn<Kind>("kind");
        forEachWizard("no tool", [](QTestData&, Kind) {});
    }
    void missingToolLeavesTheConfigurationFile() {
        QFETCH(Kind, kind);
        TempProgramFolder program(false);
        TempFolder out;
        const auto wizard = makeWizard(kind);
        wizard->show();
        fillPages(*wizard, TypedSubject(), out.path());
        ModalScript script(generationAnswers(kind, {QMessageBox::Ok}));
        clickNext(*wizard);
        QCOMPARE(shownAfterPassPhrase(kind, script),
                 QStringList({ToolSteps::kGenerationFailedMessage}));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsOrganizationInfo));
        QCOMPARE(wizard->btnPrevious->text(), QString("< Previous"));
        QCOMPARE(wizard->btnNext->text(), QString("Next >"));
    }

    // Values that would lead the files astray or that the files cannot carry are refused
    // before the pass phrase is asked for and before any file is touched, in the export folder
    // or beside it.
    void refusedValuesTouchNothing_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("legalName");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        const auto refused = [](const char* name, const QString& domain, const QString& legalName,
                                const QString& folder, const QString& message) {
            forEachWizard(name, [&](QTestData& row, Kind) {
                row << domain << legalName << folder << message;
            });
        };
        const auto path = [](const QString& domain) {
            return ToolSteps::kDomainPathMessage.arg(domain);
        };
        refused("slash", "../www.shop.test", "Acme", "", path("../www.shop.test"));
        refused("backslash", "a\\b", "Acme", "", path("a\\b"));
        refused("dot", ".", "Acme", "", path("."));
        refused("dot dot", "..", "Acme", "", path(".."));
        const auto noHost = [](const QString& domain) {
            return ToolSteps::kDomainNameMessage.arg(domain);
        };
        refused("quote in domain", "a\"b", "Acme", "", noHost("a\"b"));
        refused("blank in domain", "www.shop test", "Acme", "", noHost("www.shop test"));
        refused("comma in domain", "a.test,b.test", "Acme", "", noHost("a.test,b.test"));
        refused("inner asterisk", "www.*.test", "Acme", "", noHost("www.*.test"));
        refused("two wildcards", "*.*.shop.test", "Acme", "", noHost("*.*.shop.test"));
        refused("empty label", "www..shop.test", "Acme", "", noHost("www..shop.test"));
        refused("not Latin-1", "www.shop.test", QString::fromUtf8("Łódź Sp."), "", "Latin-1");
    }
    void refusedValuesTouchNothing() {
        QFETCH(Kind, kind);
        QFETCH(QString, domain);
        QFETCH(QString, legalName);
        QFETCH(QString, folder);
        QFETCH(QString, message);
        TempProgramFolder program;
        TempFolder out;
        QVERIFY(QDir(out.path()).mkdir("inner"));
        writeFileContent(out.file("www.shop.test.key"), "old key");
        const auto before = folderContent(out.path());
        TypedSubject subject;
        subject.domain = domain;
        subject.legalName = legalName;
        const auto wizard = makeWizard(kind);
        wizard->show();
        fillPages(*wizard, subject, out.file("inner/") + folder);
        ModalScript script({pressButton(QMessageBox::Ok)});
        clickNext(*wizard);
        QCOMPARE(script.seen.size(), 1);
        QVERIFY2(script.seen[0].contains(message), qPrintable(script.seen[0]));
        QCOMPARE(folderContent(out.path()), before);
        QVERIFY(QDir(out.file("inner")).isEmpty());
        QVERIFY(!QFile::exists(program.file("passnew.txt")));
        QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsOrganizationInfo));
    }

    // Under the debug switch the key run's output reaches the program's standard error; the
    // request or certificate run's output never does.
    void debugSwitchShowsOnlyTheKeyRun_data() {
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("keyRun");
        forEachWizard("key run only", [](QTestData& row, Kind kind) {
            row << QString(kind == Kind::Request ? "tool run: -des3" : "tool run: -out");
        });
    }
    void debugSwitchShowsOnlyTheKeyRun() {
        QFETCH(Kind, kind);
        QFETCH(QString, keyRun);
        TempProgramFolder program(false);
        installAnnouncingTool(program);
        TempFolder out;
        TypedSubject subject;
        subject.keySize = "512";
        for (const bool debug : {true, false}) {
            DebugMode = debug;
            const auto wizard = makeWizard(kind);
            wizard->show();
            fillPages(*wizard, subject, out.path());
            StandardErrorCapture capture;
            ModalScript script(generationAnswers(kind, {QMessageBox::Yes, QMessageBox::Yes}));
            clickNext(*wizard);
            const QStringList shown = capture.text().split('\n').filter("tool run: ");
            DebugMode = false;
            QCOMPARE(wizard->currentPage(), int(TCertificateWizard::tsFinished));
            QCOMPARE(shown, debug ? QStringList{keyRun} : QStringList());
        }
        QCOMPARE(subjectOf(outputReader(kind), out.file("www.shop.test" + outputExtension(kind))),
                 subject.expectedSubject());
    }
};

QTEST_MAIN(TestCertificateWizards)
#include "tst_certificatewizards.moc"
