#include "TestSupport.h"
#include "uAboutForm.h"
#include "uWindowsCommon.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QImageReader>
#include <QTimer>
#include <QUrlQuery>
#include <QtTest>

// The start screen: how it looks, the link on that appears after three seconds, and what its
// links hand to the shell.
class TestAbout : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { setShellOpenerForTesting({}); }

    void looksAsTheStartScreen() {
        TfrmAbout about;
        QVERIFY(about.windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(about.autoFillBackground());
        const auto* edge = about.findChild<QFrame*>("edge");
        QVERIFY(edge);
        QCOMPARE(edge->frameShape(), QFrame::Panel);
        QCOMPARE(edge->frameShadow(), QFrame::Raised);
        QCOMPARE(edge->lineWidth(), 5);

        QCOMPARE(about.Label1->text(), QStringLiteral("Certwright"));
        QVERIFY(about.Label1->font().bold());
        QVERIFY(about.Label1->font().pointSize() > about.Label2->font().pointSize() + 4);
        QCOMPARE(about.Label2->text(), QStringLiteral("version 1.5"));
        QCOMPARE(about.lblViewLicense->text(), QStringLiteral("View License"));
        QCOMPARE(about.lblStart->text(), QStringLiteral("Start Certwright"));
        QVERIFY(about.lblWebsite->font().pointSize() < about.Label2->font().pointSize());
        for (QLabel* link : {about.lblWebsite, about.lblViewLicense, about.lblStart}) {
            QVERIFY(link->font().bold());
            QVERIFY(link->font().underline());
        }
        QVERIFY(about.Label3->wordWrap());
        QVERIFY(about.Label3->text().contains("20 dollars"));
        QVERIFY(about.Label4->font().pointSize() < about.Label2->font().pointSize());
        for (TClickableLabel* clickable : {about.Image1, about.lblWebsite, about.lblViewLicense,
                                           about.Image2, about.Image3, about.lblStart})
            QCOMPARE(clickable->cursor().shape(), Qt::PointingHandCursor);

        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QRect screen = about.screen()->availableGeometry();
        QVERIFY(qAbs(about.frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(about.frameGeometry().center().y() - screen.center().y()) <= 1);
        QVERIFY2(about.Label4->geometry().top() > about.lblStart->geometry().bottom(),
                 "the line about the maker sits along the bottom");
    }

    void picturesAreDecodedGifs() {
        QVERIFY(QImageReader::supportedImageFormats().contains("gif"));
        for (const char* resource : {":/logo.gif", ":/paybutton1.gif", ":/paybutton2.gif"}) {
            QImageReader reader(QString::fromLatin1(resource));
            QCOMPARE(reader.format(), QByteArray("gif"));
            QVERIFY2(!reader.read().isNull(), resource);
        }
        TfrmAbout about;
        for (QLabel* picture : {about.Image1, about.Image2, about.Image3})
            QVERIFY(!picture->pixmap().isNull());
        QVERIFY(about.Image1->pixmap().width() <= 96 && about.Image1->pixmap().height() <= 96);
    }

    void startLinkAppearsThreeSecondsAfterShowing() {
        TfrmAbout about;
        QVERIFY(!about.tmrStart->isActive());
        QCOMPARE(about.tmrStart->interval(), 3000);
        // The same wait, shortened to a tenth.
        about.tmrStart->setInterval(300);
        QElapsedTimer clock;
        about.show();
        clock.start();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(about.tmrStart->isActive());
        QVERIFY(!about.lblStart->isVisible());

        // Before it appears, clicking its place and pressing Escape do nothing.
        QTest::qWait(200);
        QVERIFY(!about.lblStart->isVisible());
        QTest::mouseClick(&about, Qt::LeftButton, {},
                          about.lblStart->mapTo(&about, about.lblStart->rect().center()));
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(about.isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(about.lblStart->isVisible(), 3000);
        QVERIFY2(clock.elapsed() >= 290 && clock.elapsed() < 1500,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!about.tmrStart->isActive());
        QTest::qWait(100);
        QVERIFY(about.lblStart->isVisible());

        QTest::mouseClick(about.lblStart, Qt::LeftButton);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void startLinkWorksFromTheKeyboard() {
        TfrmAbout about;
        about.tmrStart->setInterval(10);
        about.show();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QTRY_VERIFY(about.lblStart->isVisible());
        QCOMPARE(QApplication::focusWidget(), about.lblStart);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }

    void linksOpenTheirAddresses() {
        TempProgramFolder program(false);
        QList<QUrl> opened;
        setShellOpenerForTesting([&opened](const QUrl& address) { opened << address; });
        TfrmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        for (TClickableLabel* clickable :
             {about.lblWebsite, about.Image1, about.lblViewLicense, about.Image2, about.Image3})
            QTest::mouseClick(clickable, Qt::LeftButton);
        QCOMPARE(opened.size(), 5);

        QCOMPARE(opened[0], QUrl(TfrmAbout::kMakerAddress));
        QCOMPARE(opened[1], QUrl(TfrmAbout::kMakerAddress));
        QVERIFY(opened[0].host().endsWith("example.org"));
        QVERIFY(opened[0].toString().contains(about.lblWebsite->text()));

        QVERIFY(opened[2].isLocalFile());
        QCOMPARE(opened[2].toLocalFile(), program.file("license.txt"));

        QCOMPARE(opened[3].scheme(), QStringLiteral("https"));
        QVERIFY(opened[3].host().endsWith("example.org"));
        const QUrlQuery payment(opened[3]);
        QCOMPARE(payment.queryItemValue("amount"), QStringLiteral("20.00"));
        QCOMPARE(payment.queryItemValue("currency_code"), QStringLiteral("USD"));

        QCOMPARE(opened[4].toString(), "file://" + program.path() + "googlepay.html");
        QVERIFY(about.isVisible());
    }

    void linksKeepOddFolderNamesIntact() {
        TempProgramFolder outer(false);
        const QString folder = outer.path() + "pay #1 100%/";
        QVERIFY(QDir().mkdir(folder));
        setProgramFolderForTesting(folder);
        QList<QUrl> opened;
        setShellOpenerForTesting([&opened](const QUrl& address) { opened << address; });
        TfrmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::mouseClick(about.Image3, Qt::LeftButton);
        QTest::mouseClick(about.lblViewLicense, Qt::LeftButton);
        setProgramFolderForTesting(outer.path());
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[0].toLocalFile(), folder + "googlepay.html");
        QCOMPARE(opened[1].toLocalFile(), folder + "license.txt");
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
