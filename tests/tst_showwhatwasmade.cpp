#include "CertificateWizardDriver.h"
#include "KeyAndCertificateFixtures.h"
#include "TestSupport.h"
#include "uGenerateCSRForm.h"
#include "uPrepareIISForm.h"
#include "uPrepareIndyIntrawebForm.h"
#include "uSelfSignForm.h"
#include "uWindowsCommon.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTimeZone>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

// The wizard and route that a row runs to its finished page.
enum class Route { Request, SelfSigned, IIS, IndyFromPfx, IndyFromKey };

const QString kMadeFilesHeading = QStringLiteral("Files made:");
// Long enough that every listed path takes two lines.
const QString kExportFolder =
    QStringLiteral("out/a-rather-long-folder-name-for-the-files/and-another-one-below-it");

// A certificate authority that signs requests with the validity it is told, through the tool's
// own "ca" command, the one that can set a certificate's start and end.
class DatedAuthority {
  public:
    DatedAuthority() {
        runOpenSSL({"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout",
                    folder.file("ca.key"), "-out", folder.file("ca.crt"), "-subj",
                    "/O=Dated Test Authority/CN=Dated Test CA", "-days", "30000"});
        writeFileContent(folder.file("index.txt"), QByteArray());
        writeFileContent(folder.file("serial"), "01\n");
        writeFileContent(folder.file("ca.cnf"),
                         "[ca]\ndefault_ca = dated\n"
                         "[dated]\ndatabase = " +
                             folder.file("index.txt").toUtf8() +
                             "\nserial = " + folder.file("serial").toUtf8() +
                             "\nnew_certs_dir = " + folder.path().toUtf8() +
                             "\ndefault_md = sha256\npolicy = any\n"
                             "copy_extensions = copy\nunique_subject = no\n"
                             "[any]\ncommonName = supplied\norganizationName = optional\n"
                             "localityName = optional\ncountryName = optional\n");
    }

    bool isReady() const { return QFileInfo(folder.file("ca.crt")).size() > 0; }

    // A certificate for the key (with the pass phrase) with the subject and subjectAltName
    // (none when empty), valid between the two times (YYYYMMDDHHMMSSZ); true when it was made.
    bool sign(const QString& key, const QString& subject, const QString& alternativeNames,
              const QString& start, const QString& end, const QString& certificate) const {
        const QString request = folder.file("request.csr");
        runOpenSSL(QStringList{"req", "-new", "-key", key, "-passin", "pass:old secret", "-subj",
                               subject, "-out", request} +
                   (alternativeNames.isEmpty()
                        ? QStringList()
                        : QStringList{"-addext", "subjectAltName=" + alternativeNames}));
        runOpenSSL({"ca", "-batch", "-config", folder.file("ca.cnf"), "-cert",
                    folder.file("ca.crt"), "-keyfile", folder.file("ca.key"), "-in", request,
                    "-out", certificate, "-notext", "-startdate", start, "-enddate", end});
        return QFileInfo(certificate).size() > 0;
    }

  private:
    TempFolder folder;
};

// The end of a certificate's validity, as the tool reads it.
QDateTime notAfter(const QString& certificate) {
    const QString line = runOpenSSL({"x509", "-in", certificate, "-noout", "-enddate"}).trimmed();
    const QString date = line.section('=', 1).simplified();
    QDateTime end = QLocale::c().toDateTime(date, "MMM d hh:mm:ss yyyy 'GMT'");
    end.setTimeZone(QTimeZone::utc());
    return end;
}

// True when the widget lies whole inside the wizard's page area and, being a label, has the
// height that all its lines need.
bool showsWhole(const QWidget* widget, const TWizardFrame& wizard) {
    const QRect area(widget->mapTo(&wizard, QPoint(0, 0)), widget->size());
    const auto* label = qobject_cast<const QLabel*>(widget);
    return wizard.pcWizard->geometry().contains(area) &&
           (!label || label->height() >= label->heightForWidth(label->width()));
}

} // namespace

Q_DECLARE_METATYPE(Route)

// What the wizards show of their work: the files that a run made, with their folder and the
// request's text at hand, and what a pasted certificate says about itself.
class TestShowWhatWasMade : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(authority.isReady());
        QVERIFY(datedAuthority.isReady());
        QVERIFY(makeKey(inputs.file("site.key"), "old secret"));
        QVERIFY(authority.sign(inputs.file("site.key"), "old secret", "www.example.org",
                               inputs.file("site.cer")));
        runOpenSSL({"pkcs12", "-export", "-inkey", inputs.file("site.key"), "-passin",
                    "pass:old secret", "-in", inputs.file("site.cer"), "-passout",
                    "pass:pfx secret", "-out", inputs.file("site.pfx")});
        QVERIFY(!bundleContent(inputs.file("site.pfx"), "pfx secret").isEmpty());
    }
    void cleanup() { setShellOpenerForTesting({}); }

    // After a real run the finished page lists exactly the files made, below the instruction
    // box; Open Folder hands the export folder to the shell; the request wizard alone offers
    // Copy Request, which copies the request's text. A relative export folder is listed as the
    // folder where the files are.
    void finishedPageListsTheMadeFiles_data() {
        QTest::addColumn<Route>("route");
        QTest::addColumn<bool>("relative");
        QTest::addColumn<QStringList>("made");
        const QStringList request{"www.shop.test.key", "www.shop.test.csr"};
        const QStringList pem{"key.pem", "cert.pem"};
        addRow("request", Route::Request, false, request);
        addRow("request, relative folder", Route::Request, true, request);
        addRow("self-signed", Route::SelfSigned, false,
               QStringList{"www.shop.test.key", "www.shop.test.cer"});
        addRow("IIS", Route::IIS, false, QStringList{"site.pfx"});
        addRow("IIS, relative folder", Route::IIS, true, QStringList{"site.pfx"});
        addRow("Indy, from a .pfx file", Route::IndyFromPfx, false, pem);
        addRow("Indy, from a key", Route::IndyFromKey, false, pem);
        addRow("Indy, from a key, relative folder", Route::IndyFromKey, true, pem);
    }
    void finishedPageListsTheMadeFiles() {
        QFETCH(Route, route);
        QFETCH(bool, relative);
        QFETCH(QStringList, made);
        TempProgramFolder program;
        TempFolder work;
        QVERIFY(QDir(work.path()).mkpath(kExportFolder));
        const QString folder = work.file(kExportFolder + "/");
        const QString previous = QDir::currentPath();
        if (relative)
            QDir::setCurrent(work.path());
        const auto window = runToFinishedPage(route, relative ? kExportFolder : folder);
        QDir::setCurrent(previous);
        auto* wizard = qobject_cast<TWizardFrame*>(window.get());
        QVERIFY(wizard);
        QCOMPARE(wizard->pcWizard->currentWidget()->objectName(), QString("tsFinished"));

        auto* label = wizard->findChild<QLabel*>("lblMadeFiles");
        auto* openFolder = wizard->findChild<QPushButton*>("btnOpenFolder");
        auto* copyRequest = wizard->findChild<QPushButton*>("btnCopyRequest");
        QVERIFY(label && openFolder && copyRequest);
        QStringList expected{kMadeFilesHeading};
        for (const QString& name : made) {
            QVERIFY2(FileIsPresent(folder + name), qPrintable(name));
            expected << folder + name;
        }
        QCOMPARE(label->text().split('\n'), expected);
        // Without names of their own, they are read out by the paths and the caption they show.
        QCOMPARE(label->accessibleName() + copyRequest->accessibleName(), QString());
        // The page as it shows once its layout has followed the new text.
        QCoreApplication::processEvents();
        QVERIFY(label->isVisible() && openFolder->isVisible());
        // Below the instruction box, which keeps room for several lines.
        auto* box = wizard->pcWizard->currentWidget()->findChild<QTextEdit*>("memRootInstructions");
        QVERIFY(box);
        const QWidget* page = wizard->pcWizard->currentWidget();
        QVERIFY(label->mapTo(page, QPoint(0, 0)).y() >= box->geometry().bottom());
        QVERIFY(box->height() >= 4 * box->fontMetrics().lineSpacing());
        QVERIFY(showsWhole(label, *wizard));
        QVERIFY(showsWhole(openFolder, *wizard));

        QList<QUrl> opened;
        setShellOpenerForTesting([&opened](const QUrl& address) { opened << address; });
        openFolder->click();
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(folder)});

        QCOMPARE(copyRequest->isVisible(), route == Route::Request);
        if (route == Route::Request) {
            QGuiApplication::clipboard()->setText("before");
            copyRequest->click();
            const QString text = QGuiApplication::clipboard()->text();
            QVERIFY(text.startsWith("-----BEGIN CERTIFICATE REQUEST-----"));
            QCOMPARE(text, QString::fromUtf8(fileContent(folder + made.at(1))));
        }
    }

    // Copy Request reads only a plain file of a request's size at the request's name; anything
    // else is reported and leaves the clipboard as it was.
    void copyRequestReadsOnlyThePlainRequest_data() {
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("reason");
        addRow("link to another file", "link", "It is not a plain file.");
        addRow("named pipe", "pipe", "It is not a plain file.");
        addRow("too large", "large", "It is larger than 65536 bytes.");
        addRow("gone", "gone", "No such file or directory");
    }
    void copyRequestReadsOnlyThePlainRequest() {
        QFETCH(QString, replacement);
        QFETCH(QString, reason);
        TempProgramFolder program;
        TempFolder work;
        const auto wizard = runToFinishedPage(Route::Request, work.path());
        const QString request = work.file("www.shop.test.csr");
        QVERIFY(QFile::remove(request));
        if (replacement == "link")
            QVERIFY(QFile::link(work.file("www.shop.test.key"), request));
        else if (replacement == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(request).constData(), 0600), 0);
        else if (replacement == "large")
            writeFileContent(request, QByteArray(64 * 1024 + 1, 'A'));
        QGuiApplication::clipboard()->setText("before");
        ModalScript script({pressButton(QMessageBox::Ok)});
        wizard->findChild<QPushButton*>("btnCopyRequest")->click();
        QCOMPARE(script.seen.size(), 1);
        QVERIFY2(script.seen.constFirst().contains("\"" + request + "\""),
                 qPrintable(script.seen.constFirst()));
        QVERIFY2(script.seen.constFirst().contains(reason), qPrintable(script.seen.constFirst()));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
    }

    // Once the paste box holds one certificate, the page tells its subject, names, issuer and
    // end, and below the chain what the check finds wrong with it (warnings that leave Next
    // working); anything else shows nothing. The box keeps room to work in.
    void pastePageDescribesTheCertificate_data() {
        QTest::addColumn<bool>("iis");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("alternativeNames");
        QTest::addColumn<QString>("problem"); // the only one about the certificate itself
        const QString names = "DNS:www.shop.test,DNS:shop.test,IP:192.0.2.7";
        for (const bool iis : {true, false}) {
            const char* wizard = iis ? "IIS" : "Indy";
            QTest::addRow("%s: valid", wizard) << iis << "20200101000000Z"
                                               << "21000101000000Z" << names << QString();
            QTest::addRow("%s: expired", wizard)
                << iis << "20200101000000Z"
                << "20200201000000Z" << names
                << "The certificate \"www.shop.test\" expired on 2020-02-01 00:00:00 UTC.";
            QTest::addRow("%s: not yet valid", wizard)
                << iis << "20991231235900Z"
                << "21000101000000Z" << names
                << "The certificate \"www.shop.test\" is not valid before 2099-12-31 23:59:00 UTC.";
            QTest::addRow("%s: no subjectAltName", wizard)
                << iis << "20200101000000Z"
                << "21000101000000Z" << QString() << "The certificate has no subjectAltName";
        }
    }
    void pastePageDescribesTheCertificate() {
        QFETCH(bool, iis);
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, alternativeNames);
        QFETCH(QString, problem);
        TempProgramFolder program;
        TempFolder work;
        const QString certificate = work.file("issued.pem");
        QVERIFY(datedAuthority.sign(inputs.file("site.key"),
                                    "/C=US/L=Springfield/O=Acme Widgets/CN=www.shop.test",
                                    alternativeNames, start, end, certificate));
        const auto wizard = toPastePage(iis, work.path());
        auto* label = wizard->findChild<QLabel*>("lblCertificateInfo");
        QVERIFY(label);
        // The certificate beside the key filled the box on the way in.
        QVERIFY(label->isVisible());
        QVERIFY2(label->text().startsWith("Subject: CN=www.example.org\n"),
                 qPrintable(label->text()));

        wizard->memPasteCert->setPlainText(pemText(certificate));
        QVERIFY(label->isVisible());
        QCoreApplication::processEvents();
        const QStringList expected{
            "Subject: CN=www.shop.test, O=Acme Widgets, L=Springfield, C=US",
            "Alternative names: " + (alternativeNames.isEmpty()
                                         ? QString("none")
                                         : "DNS:www.shop.test, DNS:shop.test, IP:192.0.2.7"),
            "Issuer: CN=Dated Test CA, O=Dated Test Authority",
            "Valid until: " + notAfter(certificate).toString("yyyy-MM-dd hh:mm 'UTC'"),
            "Chain:",
            "  missing: the certificate of Dated Test CA",
            "Problems:"};
        const auto shown = [&] { return label->text().split('\n').mid(0, expected.size()); };
        QTRY_COMPARE(shown(), expected);
        // The check's own words below the chain, whose warning is in every row: the certificate
        // names no address of its issuer, so the chain ends at a root that this system does not
        // know, with what to do about it on this page, which has no button to save a chain.
        const QString text = label->text();
        QVERIFY2(text.contains("\"Dated Test CA\", a root that this system does not know") &&
                     text.contains(problem) &&
                     text.count("The certificate ") == (problem.isEmpty() ? 0 : 1),
                 qPrintable(text));
        QVERIFY2(text.contains("Every client must trust this root") &&
                     !text.contains("Save the complete chain") && !text.contains("certwright"),
                 qPrintable(text));
        QCoreApplication::processEvents();
        QVERIFY(label->mapTo(wizard.get(), QPoint(0, 0)).y() >=
                wizard->memPasteCert->mapTo(wizard.get(), QPoint(0, wizard->memPasteCert->height()))
                    .y());
        QVERIFY(wizard->memPasteCert->height() >=
                5 * wizard->memPasteCert->fontMetrics().lineSpacing());
        // The page shows the summary's area whole; the label in it scrolls, never cut short.
        QVERIFY(showsWhole(wizard->scrCertificateInfo, *wizard));
        QVERIFY(label->height() >= label->heightForWidth(label->width()));

        // Typing on changes what the page tells: a broken certificate shows nothing.
        QTextCursor cursor(wizard->memPasteCert->document());
        cursor.movePosition(QTextCursor::Down, QTextCursor::MoveAnchor, 2);
        wizard->memPasteCert->setTextCursor(cursor);
        QTest::keyClicks(wizard->memPasteCert, "A");
        QTRY_VERIFY(!label->isVisible());
        QVERIFY(label->text().isEmpty());
        QTest::keyClick(wizard->memPasteCert, Qt::Key_Backspace);
        QTRY_COMPARE(label->text(), text);

        // A large box is read once typing pauses, not at every key, and at once on Next. Keys
        // typed into the first line break the certificate.
        wizard->memPasteCert->setPlainText(pemText(certificate) +
                                           (QString(63, '#') + '\n').repeated(1 << 10));
        cursor.setPosition(1);
        wizard->memPasteCert->setTextCursor(cursor);
        QTest::keyClicks(wizard->memPasteCert, QString(20, 'x'));
        QCOMPARE(label->text(), text);
        bool shownOnNext = true;
        ModalScript script({[&](QWidget* box) {
            shownOnNext = label->isVisible();
            pressButton(QMessageBox::Ok)(box);
        }});
        wizard->btnNext->click();
        QCOMPARE(script.remaining(), 0);
        QVERIFY(!shownOnNext);

        // The warnings never hold the certificate back: Next makes the files.
        wizard->memPasteCert->setPlainText(pemText(certificate));
        ModalScript passPhrases({enterPassPhrases("old secret", "new secret")});
        wizard->btnNext->click();
        QCOMPARE(passPhrases.remaining(), 0);
        QCOMPARE(wizard->pcWizard->currentWidget()->objectName(), QString("tsFinished"));
    }

    void pastePageShowsNothingForOtherText_data() {
        QTest::addColumn<QString>("text");
        addRow("empty", "");
        addRow("garbage", "--garbage\nnot a certificate\n");
        addRow("not base64",
               "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
        addRow("a request", "REQUEST");
    }
    void pastePageShowsNothingForOtherText() {
        QFETCH(QString, text);
        TempProgramFolder program;
        TempFolder work;
        if (text == "REQUEST") {
            runOpenSSL({"req", "-new", "-key", inputs.file("site.key"), "-passin",
                        "pass:old secret", "-subj", "/CN=www.example.org", "-out",
                        work.file("request.csr")});
            text = pemText(work.file("request.csr"));
            QVERIFY(text.contains("REQUEST"));
        }
        const auto wizard = toPastePage(true, work.path());
        auto* label = wizard->findChild<QLabel*>("lblCertificateInfo");
        wizard->memPasteCert->setPlainText(pemText(inputs.file("site.cer")));
        QTRY_VERIFY(label->isVisible());
        wizard->memPasteCert->setPlainText(text);
        QTRY_VERIFY(!label->isVisible());
        QVERIFY(label->text().isEmpty());
    }

  private:
    SigningAuthority authority;
    DatedAuthority datedAuthority;
    TempFolder inputs;

    // Runs the wizard of the route through its pages with the real tool, the export folder
    // typed as given, and returns it on its finished page.
    std::unique_ptr<QDialog> runToFinishedPage(Route route, const QString& folder) {
        TypedSubject subject;
        switch (route) {
        case Route::Request:
        case Route::SelfSigned: {
            std::unique_ptr<TCertificateWizard> wizard;
            if (route == Route::Request)
                wizard = std::make_unique<TfrmGenerateCSR>(nullptr);
            else
                wizard = std::make_unique<TfrmSelfSign>(nullptr);
            wizard->show();
            fillPages(*wizard, subject, folder);
            QVector<ModalScript::Action> answers;
            if (route == Route::Request)
                answers << enterPassPhrases("", "new secret");
            ModalScript script(answers);
            clickNext(*wizard);
            return wizard;
        }
        case Route::IIS:
        case Route::IndyFromKey: {
            auto wizard = toPastePage(route == Route::IIS, folder);
            ModalScript script({enterPassPhrases("old secret", "new secret")});
            wizard->btnNext->click();
            return wizard;
        }
        case Route::IndyFromPfx: {
            auto wizard = std::make_unique<TfrmPrepareIndyIntraweb>(nullptr);
            wizard->show();
            wizard->btnNext->click();
            wizard->rbGenIIS->click();
            wizard->btnNext->click();
            wizard->rbPFXyes->click();
            wizard->btnNext->click();
            QTest::keyClicks(wizard->edtPFXFile, inputs.file("site.pfx"));
            QTest::keyClicks(wizard->edtPFXExport, folder);
            ModalScript script({enterPassPhrases("pfx secret", "new secret")});
            wizard->btnNext->click();
            return wizard;
        }
        }
        return nullptr;
    }

    // The IIS or the Indy/IntraWeb wizard on its paste page for the input key, which its
    // certificate beside it fills.
    std::unique_ptr<TKeyAndCertificateWizard> toPastePage(bool iis, const QString& folder) {
        std::unique_ptr<TKeyAndCertificateWizard> wizard;
        if (iis)
            wizard = std::make_unique<TfrmPrepareIIS>(nullptr);
        else
            wizard = std::make_unique<TfrmPrepareIndyIntraweb>(nullptr);
        wizard->show();
        wizard->btnNext->click();
        if (!iis)
            wizard->btnNext->click();
        fillKeyPage(*wizard, inputs.file("site.key"), folder, "Shop");
        return wizard;
    }
};

QTEST_MAIN(TestShowWhatWasMade)
#include "tst_showwhatwasmade.moc"
