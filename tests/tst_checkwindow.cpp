#include "ExpiryForm.h"
#include "TestAuthority.h"
#include "TestSupport.h"
#include "uCheckCertificateForm.h"
#include "uRenewal.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSslCertificate>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextEdit>

#include <memory>

using namespace CertificateCheck;

namespace {

const QStringList kProblemIds = {kKeyMismatch,     kExpired,       kNotYetValid,
                                 kExpiresSoon,     kNameMismatch,  kNoSubjectAltName,
                                 kChainIncomplete, kChainOrder,    kUntrustedRoot,
                                 kWeakKey,         kWeakSignature, kNotServerCertificate};
const QString kPfxPassPhrase = QStringLiteral("pfx secret");
enum class Input { Files, Pfx, Server, ServerAt }; // ServerAt: by its name at its address
constexpr int kPromptMs = 1500;                    // about a second

} // namespace

// The check window driven as a user does: what it is given, the problems that its report page
// names with what to do, and the complete chain that it saves.
class TestCheckWindow : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<TestAuthority> authority;

  private slots:
    void initTestCase() {
        authority = std::make_unique<TestAuthority>();
        QVERIFY(authority->isValid());
        QVERIFY(authority->issue("sound"));
        QVERIFY(authority->issue("other"));
        TestAuthority::Leaf careless;
        careless.extensions = QStringList{"extendedKeyUsage=serverAuth"};
        careless.fromDays = -80;
        careless.untilDays = 10;
        QVERIFY(authority->issue("careless", careless));
        int status = -1;
        runOpenSSL({"pkcs12", "-export", "-in", authority->file("sound.crt"), "-inkey",
                    authority->file("sound.key"), "-certfile", authority->file("inter.crt"),
                    "-passout", "pass:" + kPfxPassPhrase, "-out", authority->file("sound.pfx")},
                   &status);
        QCOMPARE(status, 0);
    }

    void reportNamesEachProblem_data() {
        QTest::addColumn<Input>("input");
        QTest::addColumn<QString>("certificate"); // or the .pfx
        QTest::addColumn<QString>("chain");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name"); // the host name, for a server at its address
        QTest::addColumn<QStringList>("problems");
        // How many certificates "Save the complete chain..." writes; 0: not pressed.
        QTest::addColumn<int>("saved");
        QTest::newRow("sound files") << Input::Files << "sound.crt"
                                     << "inter.crt"
                                     << "sound.key" << kTestHost << QStringList() << 2;
        // Saving its chain fetches the intermediate certificate that was not given.
        QTest::newRow("careless certificate alone")
            << Input::Files << "careless.crt" << QString() << QString() << QString()
            << QStringList{kExpiresSoon, kNoSubjectAltName, kChainIncomplete} << 2;
        QTest::newRow("another certificate's key")
            << Input::Files << "sound.crt"
            << "inter.crt"
            << "other.key" << QString() << QStringList{kKeyMismatch} << 0;
        QTest::newRow("wrong name")
            << Input::Files << "sound.crt"
            << "inter.crt" << QString() << "shop.check.test" << QStringList{kNameMismatch} << 0;
        QTest::newRow("pfx") << Input::Pfx << "sound.pfx" << QString() << QString() << kTestHost
                             << QStringList() << 2;
        QTest::newRow("server with its chain") << Input::Server << "sound.crt"
                                               << "inter.crt"
                                               << "sound.key" << kTestHost << QStringList() << 2;
        QTest::newRow("server without its chain")
            << Input::Server << "sound.crt" << QString() << "sound.key" << kTestHost
            << QStringList{kChainIncomplete} << 2;
        QTest::newRow("server by its name at its address")
            << Input::ServerAt << "sound.crt" << QString() << "sound.key" << kTestHost
            << QStringList{kChainIncomplete} << 0;
    }
    void reportNamesEachProblem() {
        QFETCH(Input, input);
        QFETCH(QString, certificate);
        QFETCH(QString, chain);
        QFETCH(QString, key);
        QFETCH(QString, name);
        QFETCH(QStringList, problems);
        QFETCH(int, saved);
        const auto path = [this](const QString& file) {
            return file.isEmpty() ? file : authority->file(file);
        };
        TempProgramFolder program;
        TfrmCheckCertificate window(nullptr);
        window.show();
        QCOMPARE(window.spnPort->value(), 443);
        QProcess server;
        QVector<ModalScript::Action> dialogs;
        if (input == Input::Server || input == Input::ServerAt) {
            QStringList served{"-cert", path(certificate), "-key", path(key)};
            if (!chain.isEmpty())
                served << "-cert_chain" << path(chain);
            const int port = startTlsServer(server, served);
            QVERIFY(port > 0);
            QTest::keyClicks(input == Input::ServerAt ? window.edtConnect : window.edtHost,
                             QStringLiteral("127.0.0.1:%1").arg(port));
        } else if (input == Input::Files) {
            window.rbFiles->click();
            QTest::keyClicks(window.certFile.edit, path(certificate));
            QTest::keyClicks(window.chainFile.edit, path(chain));
            QTest::keyClicks(window.keyFile.edit, path(key));
            if (!key.isEmpty())
                dialogs << enterPassPhrases(QString(), QString());
        } else {
            window.rbPfx->click();
            QTest::keyClicks(window.pfxFile.edit, path(certificate));
            dialogs << enterPassPhrases(kPfxPassPhrase, QString());
        }
        QTest::keyClicks(input == Input::ServerAt ? window.edtHost : window.edtName, name);
        QTest::keyClicks(window.caFile.edit, authority->file("root.crt"));
        {
            // A window beyond those expected (an error box) fails the row at once.
            ModalScript script(dialogs << [](QWidget* modal) {
                const auto* box = qobject_cast<QMessageBox*>(modal);
                QFAIL(qPrintable("unexpected: " + (box ? box->text() : modal->windowTitle())));
            });
            window.btnNext->click();
            QTRY_VERIFY_WITH_TIMEOUT(!window.isChecking(), 30000);
            QCOMPARE(script.remaining(), 1);
        }
        QCOMPARE(window.currentPage(), int(TfrmCheckCertificate::tsReport));
        QCOMPARE(window.btnNext->text(), QString("Finish"));
        QVERIFY(window.sbPrint->isVisible());
        const CheckReport& report = window.report();
        QCOMPARE(report.pfxProfile, input == Input::Pfx ? kProfileAes256Sha256 : QString());
        const QString shown = window.memReport->toPlainText();
        QVERIFY2(shown.contains(report.subject), qPrintable(shown));
        for (const QString& id : kProblemIds)
            QVERIFY2(report.hasProblem(id) == problems.contains(id), qPrintable(id + '\n' + shown));
        for (const CheckProblem& problem : report.problems) {
            QVERIFY2(shown.contains(problem.message), qPrintable(problem.id));
            QVERIFY2(shown.contains(problem.advice), qPrintable(problem.id));
        }
        QCOMPARE(window.lblVerdict->text().startsWith("No problem"), problems.isEmpty());
        TempFolder folder;
        const QString pdf = printShownPage(window, folder.file("report.pdf"));
        QVERIFY(printedLines(pdf).join(' ').contains(report.subject));

        if (saved == 0)
            return;
        const QString file = folder.file("complete.pem");
        ModalScript script(
            {onWindow<QFileDialog>([&](QFileDialog* dialog) { typeIntoFileDialog(dialog, file); }),
             pressButton(QMessageBox::Ok)});
        window.btnSaveChain->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(QDir(folder.path()).entryList({".*.new-*"}, QDir::Files | QDir::Hidden),
                 QStringList());
        const QList<QSslCertificate> written = QSslCertificate::fromPath(file);
        QCOMPARE(written.size(), saved);
        const QString served = input == Input::Pfx ? QString("sound.crt") : certificate;
        QCOMPARE(written.first(), QSslCertificate::fromPath(path(served)).first());
        QCOMPARE(written.at(1), QSslCertificate::fromPath(authority->file("inter.crt")).first());
    }

    // The host field reads as the command does; the port field gives the port that it does not
    // name. Nothing listens there, so the error names where the check went.
    void serverAddressAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("connect"); // "Connect to"
        QTest::addColumn<QString>("said");
        QTest::newRow("https address")
            << "https://127.0.0.1/" << 1 << QString() << "from 127.0.0.1:1:";
        QTest::newRow("https address with its port and a path")
            << "https://127.0.0.1:1/shop/" << 443 << QString() << "from 127.0.0.1:1:";
        QTest::newRow("another scheme") << "http://127.0.0.1/" << 443 << QString()
                                        << "\"http://127.0.0.1/\" is not a server address.";
        QTest::newRow("address to connect to with a port beyond the last")
            << kTestHost << 443 << "127.0.0.1:65536"
            << "\"127.0.0.1:65536\" is not an address to connect to.";
    }
    void serverAddressAsTyped() {
        QFETCH(QString, typed);
        QFETCH(int, port);
        QFETCH(QString, connect);
        QFETCH(QString, said);
        TempProgramFolder program;
        TfrmCheckCertificate window(nullptr);
        window.show();
        QTest::keyClicks(window.edtHost, typed);
        window.spnPort->setValue(port);
        QTest::keyClicks(window.edtConnect, connect);
        ModalScript script({pressButton(QMessageBox::Ok)});
        window.btnNext->click();
        QTRY_COMPARE(script.remaining(), 0);
        QVERIFY2(script.seen.join('\n').contains(said), qPrintable(script.seen.join('\n')));
        QCOMPARE(window.currentPage(), int(TfrmCheckCertificate::tsInput));
    }

    // A server that takes the connection and never answers, checked after a sound one: the
    // window takes input while the check waits, and each way out ends the check and its
    // connection at once; the window is then usable as before, without the earlier report.
    void stalledServerEndsAtOnce_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("Cancel") << "Cancel";
        QTest::newRow("Escape") << "Escape";
        QTest::newRow("close box") << "close box";
    }
    void stalledServerEndsAtOnce() {
        QFETCH(QString, way);
        QProcess sound;
        const int soundPort = startTlsServer(
            sound, {"-cert", authority->file("sound.crt"), "-key", authority->file("sound.key")});
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        TempProgramFolder program;
        TfrmCheckCertificate window(nullptr);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        ModalScript script(
            {[](QWidget* modal) { QFAIL(qPrintable("unexpected: " + modal->windowTitle())); }});
        QTest::keyClicks(window.edtHost, QStringLiteral("127.0.0.1:%1").arg(soundPort));
        window.btnNext->click();
        QTRY_VERIFY(!window.report().subject.isEmpty());
        window.btnPrevious->click();
        window.edtHost->setText(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
        window.btnNext->click();
        // Next has come back while the check waits on its own thread, and shows that it does.
        QVERIFY(silent.waitForNewConnection(10000));
        QTcpSocket* peer = silent.nextPendingConnection();
        QVERIFY(window.isChecking() && window.lblChecking->isVisible());
        QVERIFY(!window.btnNext->isEnabled() && !window.edtHost->isEnabled());
        QCOMPARE(QApplication::focusWidget(), window.btnPrevious);
        if (way == "Cancel")
            QTest::mouseClick(window.btnPrevious, Qt::LeftButton);
        else if (way == "Escape")
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else
            window.close();
        QVERIFY(!window.isChecking());
        QTRY_VERIFY_WITH_TIMEOUT(peer->state() == QAbstractSocket::UnconnectedState, kPromptMs);
        QTRY_COMPARE_WITH_TIMEOUT(WindowJob::running(), 0, kPromptMs);
        QCOMPARE(window.isVisible(), way != "close box");
        QCOMPARE(window.currentPage(), int(TfrmCheckCertificate::tsInput));
        QVERIFY(window.report().subject.isEmpty() && window.memReport->toPlainText().isEmpty());
        if (way == "close box")
            return;
        QVERIFY(window.btnNext->isEnabled() && !window.lblChecking->isVisible());
        QCOMPARE(QApplication::focusWidget(), window.edtHost);
        // And it checks again.
        window.edtHost->setText(QStringLiteral("127.0.0.1:%1").arg(soundPort));
        window.btnNext->click();
        QTRY_VERIFY(!window.report().subject.isEmpty());
    }

    // The expiry window as a user drives it: files and servers added with Add..., the due ones
    // first and any column sorted, a failed Renew Now shown and recorded, Remove, the calendar
    // exported and replaced after the question, and a stalled server given up with Escape.
    void expiryWindowListsRenewsAndExports() {
        TempProgramFolder program;
        QTemporaryDir home;
        QList<std::pair<const char*, QByteArray>> saved;
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "HOME"})
            saved << std::pair{variable, qgetenv(variable)};
        const auto restore = qScopeGuard([&saved] {
            for (const auto& [variable, value] : saved)
                qputenv(variable, value);
        });
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
        qputenv("HOME", QFile::encodeName(home.path()));
        // A record due in five days whose folder is gone, so that its renewal fails.
        Acme::AcmeValues values;
        values.names = {"r.check.test"};
        values.email = "admin@check.test";
        values.server = "https://127.0.0.1:1/dir";
        values.outputs = {ServerFiles::kForNginx};
        values.outFolder = home.filePath("gone");
        const QDateTime expiry = QDateTime::currentDateTimeUtc().addDays(5);
        Renewal::writeRecord(values, expiry, expiry.addDays(-90));
        QProcess careless;
        const int port = startTlsServer(careless, {"-cert", authority->file("careless.crt"), "-key",
                                                   authority->file("careless.key")});
        QVERIFY(port > 0);
        TfrmExpiry window(nullptr);
        window.show();
        QTRY_VERIFY(!window.isWorking());
        QCOMPARE(window.tblEntries->rowCount(), 1);
        const auto cell = [&window](int row, int column) {
            return window.tblEntries->item(row, column)->text();
        };
        for (const QString& typed :
             {authority->file("sound.crt"), QStringLiteral("127.0.0.1:%1").arg(port)}) {
            ModalScript script({onWindow<QInputDialog>([typed](QInputDialog* dialog) {
                dialog->setTextValue(typed);
                dialog->accept();
            })});
            window.btnAdd->click();
            QCOMPARE(script.remaining(), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!window.isWorking(), 30000);
        }
        QCOMPARE(window.tblEntries->rowCount(), 3);
        QCOMPARE(cell(0, TfrmExpiry::colNames), QStringLiteral("r.check.test"));
        QCOMPARE(cell(0, TfrmExpiry::colDue), QStringLiteral("now"));
        QCOMPARE(cell(1, TfrmExpiry::colWhere), QStringLiteral("127.0.0.1:%1 (server)").arg(port));
        QCOMPARE(cell(1, TfrmExpiry::colDaysLeft), QStringLiteral("9"));
        QCOMPARE(cell(2, TfrmExpiry::colNames), kTestHost);
        QCOMPARE(cell(2, TfrmExpiry::colDaysLeft), QStringLiteral("364"));
        QVERIFY(window.lblStatus->text().startsWith("3 certificates, 2 of them"));
        // A click on a header sorts by its column, another the other way round.
        QHeaderView* header = window.tblEntries->horizontalHeader();
        const QPoint daysLeft(header->sectionViewportPosition(TfrmExpiry::colDaysLeft) + 5, 5);
        QStringList orders;
        for (int click = 0; click < 2; ++click) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, daysLeft);
            QStringList days;
            for (int row = 0; row < 3; ++row)
                days << cell(row, TfrmExpiry::colDaysLeft);
            orders << days.join(',');
        }
        std::sort(orders.begin(), orders.end());
        QCOMPARE(orders, QStringList({"364,9,4", "4,9,364"}));
        const auto rowOf = [&](const QString& where) {
            for (int row = 0; row < window.tblEntries->rowCount(); ++row)
                if (window.entryAt(row).where == where)
                    return row;
            return -1;
        };
        // Renew Now on the record: it fails, says why, and the record keeps the attempt.
        window.tblEntries->selectRow(rowOf(home.filePath("gone")));
        QVERIFY(window.btnRenew->isEnabled() && !window.btnRemove->isEnabled());
        MessageBoxTexts texts;
        ModalScript failure({noteTextsAndPressOk(&texts)});
        window.btnRenew->click();
        QTRY_COMPARE_WITH_TIMEOUT(failure.remaining(), 0, 60000);
        QVERIFY2(failure.seen.value(0).contains("r.check.test could not be renewed"),
                 qPrintable(failure.seen.value(0)));
        QVERIFY2(texts.informative.contains(home.filePath("gone")), qPrintable(texts.informative));
        QTRY_VERIFY_WITH_TIMEOUT(!window.isWorking(), 30000);
        const int record = rowOf(home.filePath("gone"));
        QVERIFY(cell(record, TfrmExpiry::colLastRenewal).contains(", failed: "));
        QVERIFY(!Renewal::records().value(0).lastRenewed &&
                Renewal::records().value(0).lastAttempt.isValid());
        // Remove the server, after the question.
        window.tblEntries->selectRow(rowOf(QStringLiteral("127.0.0.1:%1").arg(port)));
        QVERIFY(window.btnRemove->isEnabled() && !window.btnRenew->isEnabled());
        ModalScript removal({pressButton(QMessageBox::Yes)});
        window.btnRemove->click();
        QTRY_VERIFY_WITH_TIMEOUT(!window.isWorking(), 30000);
        QCOMPARE(window.tblEntries->rowCount(), 2);
        QCOMPARE(fileContent(home.filePath("config/certwright/watch")),
                 QFile::encodeName(authority->file("sound.crt")) + '\n');
        // The calendar: two events for each certificate; replaced after the question.
        const QString calendar = home.filePath("dates.ics");
        writeFileContent(calendar, "earlier\n");
        ModalScript exporting({onWindow<QFileDialog>([&](QFileDialog* dialog) {
                                   typeIntoFileDialog(dialog, calendar);
                               }),
                               pressButton(QMessageBox::Yes)});
        window.btnExport->click();
        QCOMPARE(exporting.remaining(), 0);
        const QByteArray written = fileContent(calendar);
        QCOMPARE(written.count("BEGIN:VEVENT\r\n"), 4);
        QVERIFY(written.contains("SUMMARY:Renew the certificate of r.check.test\r\n"));
        // A server that never answers is given up at once with Escape.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        ExpiryWatch::add(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), QString());
        window.refresh();
        QVERIFY(silent.waitForNewConnection(10000));
        QVERIFY(window.isWorking() && !window.btnAdd->isEnabled() && window.btnCancel->isVisible());
        QTest::keyClick(window.btnCancel, Qt::Key_Escape);
        QVERIFY(!window.isWorking() && window.isVisible() && window.btnAdd->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(WindowJob::running(), 0, kPromptMs);
    }
};

QTEST_MAIN(TestCheckWindow)
#include "tst_checkwindow.moc"
