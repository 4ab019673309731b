#include "TestSupport.h"
#include "uExtractRootForm.h"
#include "uInstructionPrinting.h"
#include "uViewInstructionsForm.h"
#include "uWindowsCommon.h"

#include <QComboBox>
#include <QPrinter>
#include <QPushButton>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

// The two guides: fixed texts, printing, and the installation page addresses.
class TestGuides : public QObject {
    Q_OBJECT
  private slots:
    void rootGuideShowsItsTextReadOnly() {
        TfrmExtractRoot guide(nullptr);
        guide.show();
        const QStringList lines = guide.memInstructions->toPlainText().split('\n');
        QCOMPARE(lines.size(), 22);
        QCOMPARE(lines.first(),
                 QString("Root certificates can be obtained a couple of ways.  The "));
        QCOMPARE(lines.at(3), QString());
        QCOMPARE(lines.at(19),
                 QString("8. If you are going to use with Indy/IntraWeb rename the "));
        QCOMPARE(lines.last(), QString());
        QVERIFY(guide.memInstructions->isReadOnly());
        QTest::keyClicks(guide.memInstructions, "typed");
        QVERIFY(!guide.memInstructions->toPlainText().contains("typed"));
        QVERIFY(guide.sbPrint->isVisible());
        QVERIFY(!guide.btnPrevious->isVisible());
        QCOMPARE(guide.btnNext->text(), QString("Finish"));
        QVERIFY(guide.btnNext->isDefault());
        QCOMPARE(guide.windowTitle(), QString("Extract Root Certificate"));
    }

    void rootGuideFinishCloses() {
        TfrmExtractRoot guide(nullptr);
        guide.show();
        QTest::keyClick(guide.memInstructions, Qt::Key_Return);
        QVERIFY(!guide.isVisible());
        QCOMPARE(guide.result(), int(QDialog::Accepted));
    }

    void rootGuideEndsOnlyByFinishOrCloseBox() {
        // Its cancel button is hidden, so Escape has nothing to press.
        TfrmExtractRoot guide(nullptr);
        guide.show();
        QTest::keyClick(guide.memInstructions, Qt::Key_Escape);
        QTest::keyClick(&guide, Qt::Key_Escape);
        QVERIFY(guide.isVisible());
        guide.close();
        QVERIFY(!guide.isVisible());
        QCOMPARE(guide.result(), int(QDialog::Rejected));
    }

    void rootGuidePrintsEveryLineTwice() {
        TempFolder folder;
        TfrmExtractRoot guide(nullptr);
        guide.show();
        for (const QString& name : {QString("first.pdf"), QString("second.pdf")}) {
            const QString pdf = printShownPage(guide, folder.file(name));
            QVERIFY(!pdf.isEmpty());
            const QStringList printed = printedLines(pdf);
            int at = 0;
            for (const QString& line : guide.memInstructions->toPlainText().split('\n')) {
                const QString expected = line.simplified();
                if (expected.isEmpty())
                    continue;
                const int found = printed.indexOf(expected, at);
                QVERIFY2(found >= 0, qPrintable("missing or out of order: " + expected));
                at = found + 1;
            }
            // The empty stored lines stay empty lines on paper.
            const int first = printed.indexOf("obtain the root cert directly from them.");
            QCOMPARE(printed.at(first + 1), QString());
            QCOMPARE(printed.at(first + 2),
                     QString("You may also be able to extract the root certificate from"));
            QCOMPARE(pdfPageCount(pdf), 1);
        }
    }

    void cancelledPrintDialogPrintsNothing() {
        TempFolder folder;
        TfrmExtractRoot guide(nullptr);
        guide.show();
        const QString pdf = folder.file("never.pdf");
        printToPdf(guide, pdf);
        ModalScript script({rejectDialog()});
        guide.sbPrint->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(script.seen.size(), 1);
        QVERIFY(!QFile::exists(pdf));
        QVERIFY(guide.isVisible());
    }

    void printerFailureShowsOneMessage() {
        TfrmExtractRoot guide(nullptr);
        guide.show();
        printToPdf(guide, "/nonexistent-folder/out.pdf");
        ModalScript script({acceptPrintDialog(), pressButton(QMessageBox::Ok)});
        guide.sbPrint->click();
        QCOMPARE(script.remaining(), 0);
        QCOMPARE(script.seen.last(), QString("Error Printing text."));
        QVERIFY(guide.isVisible());
    }

    void longLinesWrapAndLongTextsSpanPages() {
        TempFolder folder;
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(folder.file("long.pdf"));
        QString wide;
        for (int i = 0; i < 60; ++i)
            wide += QString("w%1 ").arg(i, 2, 10, QChar('0'));
        QStringList lines{wide.trimmed(), QString()};
        for (int i = 0; i < 150; ++i)
            lines << QString("line %1").arg(i);
        QVERIFY(printLines(&printer, lines));
        QVERIFY(pdfPageCount(folder.file("long.pdf")) > 1);
        const QStringList printed = printedLines(folder.file("long.pdf"));
        // The wide line continues on further lines, and nothing of it is lost.
        QVERIFY(!printed.first().contains("w59"));
        QVERIFY(printed.join(QString()).remove(' ').startsWith(wide.remove(' ')));
        QVERIFY(printed.contains("line 0"));
        QVERIFY(printed.contains("line 149"));
        QVERIFY(printed.indexOf("line 0") < printed.indexOf("line 149"));
    }

    void boxLinesFollowTheBoxWrapping() {
        TfrmExtractRoot guide(nullptr);
        guide.show();
        const QStringList stored = guide.memInstructions->toPlainText().split('\n');
        const QStringList wide = visualLines(guide.memInstructions);
        QVERIFY(wide.size() >= stored.size());
        guide.memInstructions->setFixedWidth(120);
        guide.memInstructions->document()->setTextWidth(100);
        const QStringList narrow = visualLines(guide.memInstructions);
        QVERIFY(narrow.size() > wide.size());
        QCOMPARE(narrow.join(QString()).remove(' '), stored.join(QString()).remove(' '));
    }

    void viewerListsTheServers() {
        TfrmViewInstructions viewer(nullptr);
        viewer.show();
        QCOMPARE(viewer.cbWebServers->count(), 6 + 27);
        QCOMPARE(viewer.cbWebServers->itemText(0), QString("nginx"));
        QCOMPARE(viewer.cbWebServers->currentText(), QString("Microsoft IIS 5.0 & 6.0"));
        QCOMPARE(viewer.cbWebServers->itemText(6), QString("Apache + ApacheSSL"));
        QCOMPARE(viewer.cbWebServers->itemText(32), QString("Zeus Web Server v3"));
        QVERIFY(!viewer.cbWebServers->isEditable());
        QCOMPARE(viewer.Label12->text(),
                 QString("Note: \nYou must be connected to the internet before continuing."));
        QCOMPARE(viewer.btnNext->text(), QString("Finish"));
        QCOMPARE(viewer.btnPrevious->text(), QString("Cancel"));
        QVERIFY(!viewer.sbPrint->isVisible());
    }

    // Each built-in page opens in the viewer without the browser, names its server's
    // directives, prints them, and leads back to the list.
    void viewerShowsBuiltInPage_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QStringList>("directives");
        QTest::newRow("nginx") << "nginx"
                               << QStringList{"ssl_certificate /", "ssl_certificate_key",
                                              "ssl_password_file", "openssl pkey", "fullchain.pem"};
        QTest::newRow("apache") << "Apache 2.4"
                                << QStringList{"SSLCertificateFile", "SSLCertificateKeyFile",
                                               "SSLPassPhraseDialog exec:", "fullchain.pem"};
        QTest::newRow("iis") << "Microsoft IIS 10 (Windows Server 2016 to 2025)"
                             << QStringList{"For Windows Server 2016 and older",
                                            "A specified logon session does not exist",
                                            "Allow this certificate to be exported",
                                            "Server Certificates",
                                            "Bindings...",
                                            "https"};
        QTest::newRow("tomcat") << "Apache Tomcat"
                                << QStringList{"<SSLHostConfig>", "certificateKeystoreFile",
                                               "certificateKeystoreType=\"PKCS12\"",
                                               "openssl pkcs12 -export"};
        QTest::newRow("haproxy") << "HAProxy"
                                 << QStringList{"bind :443 ssl crt",
                                                "cat cert.pem chain.pem key.pem", "haproxy -c -f"};
        QTest::newRow("indy") << "Indy or IntraWeb server"
                              << QStringList{"key.pem",       "cert.pem",
                                             "root.pem",      "RootCertFile",
                                             "OnGetPassword", "CertificatePassword"};
    }
    void viewerShowsBuiltInPage() {
        QFETCH(QString, server);
        QFETCH(QStringList, directives);
        TempFolder folder;
        QList<QUrl> opened;
        setShellOpenerForTesting([&](const QUrl& url) { opened << url; });
        TfrmViewInstructions viewer(nullptr);
        viewer.show();
        viewer.cbWebServers->setCurrentIndex(viewer.cbWebServers->findText(server));
        QVERIFY(viewer.cbWebServers->currentIndex() < 6);
        QVERIFY(!viewer.Label12->text().contains("internet before"));
        QCOMPARE(viewer.btnNext->text(), QString("Next >"));
        QTest::keyClick(viewer.cbWebServers, Qt::Key_Return);
        QCOMPARE(viewer.currentPage(), int(TfrmViewInstructions::tsGuide));
        QVERIFY(viewer.sbPrint->isVisible());
        QCOMPARE(viewer.btnNext->text(), QString("Finish"));
        QCOMPARE(viewer.btnPrevious->text(), QString("< Back"));
        const QString shown = viewer.memGuide->toPlainText().simplified();
        const QString pdf = printShownPage(viewer, folder.file("page.pdf"));
        QVERIFY(!pdf.isEmpty());
        const QString paper = printedLines(pdf).join(QString()).remove(' ');
        for (const QString& directive : directives)
            QVERIFY2(shown.contains(directive), qPrintable("not shown: " + directive));
        // Every shown word reaches the paper, in order.
        qsizetype at = 0;
        for (const QString& word : shown.split(' ')) {
            at = paper.indexOf(word, at);
            QVERIFY2(at >= 0, qPrintable("missing or out of order on paper: " + word));
            at += word.size();
        }
        viewer.btnPrevious->click();
        QCOMPARE(viewer.currentPage(), int(TfrmViewInstructions::tsOrganizationInfo));
        QCOMPARE(viewer.cbWebServers->currentText(), server);
        QCOMPARE(viewer.btnNext->text(), QString("Next >"));
        viewer.btnNext->click();
        viewer.btnNext->click();
        setShellOpenerForTesting({});
        QVERIFY(opened.isEmpty());
        QVERIFY(!viewer.isVisible());
        QCOMPARE(viewer.result(), int(QDialog::Accepted));
    }

    void viewerOpensThePage_data() {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("page");
        addRow("default", QString(), "IIS5.asp");
        addRow("no blank after plus", "Apache +SSLeay", "Apache1e.asp");
        addRow("apostrophe", "O'Reilly WebSite Professional 2.x", "OReilly.asp");
        addRow("parenthesis", "Deerfield (O'Reilly) Website Professional 3.x", "Deerfield.asp");
        addRow("last", "Zeus Web Server v3", "Zeus.asp");
    }
    void viewerOpensThePage() {
        QFETCH(QString, server);
        QFETCH(QString, page);
        QList<QUrl> opened;
        setShellOpenerForTesting([&](const QUrl& url) { opened << url; });
        TfrmViewInstructions viewer(nullptr);
        viewer.show();
        if (!server.isEmpty()) {
            const int index = viewer.cbWebServers->findText(server);
            QVERIFY(index >= 0);
            viewer.cbWebServers->setCurrentIndex(index);
        }
        QTest::keyClick(viewer.cbWebServers, Qt::Key_Return);
        setShellOpenerForTesting({});
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.first().toString(), "https://www.example.org/docs/webinstall/" + page);
        QVERIFY(!viewer.isVisible());
        QCOMPARE(viewer.result(), int(QDialog::Accepted));
    }

    void viewerClosesWithoutOpening() {
        QList<QUrl> opened;
        setShellOpenerForTesting([&](const QUrl& url) { opened << url; });
        {
            TfrmViewInstructions viewer(nullptr);
            viewer.show();
            viewer.btnPrevious->click();
            QVERIFY(!viewer.isVisible());
        }
        {
            TfrmViewInstructions viewer(nullptr);
            viewer.show();
            QTest::keyClick(viewer.cbWebServers, Qt::Key_Escape);
            QVERIFY(!viewer.isVisible());
        }
        {
            TfrmViewInstructions viewer(nullptr);
            viewer.show();
            viewer.close();
            QCOMPARE(viewer.result(), int(QDialog::Rejected));
        }
        setShellOpenerForTesting({});
        QVERIFY(opened.isEmpty());
    }
};

QTEST_MAIN(TestGuides)
#include "tst_guides.moc"
