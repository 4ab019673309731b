#include "TestSupport.h"
#include "uCertwrightCommon.h"

#include <QtTest>

#include <sys/stat.h>

// The error box's full-stop rule and the file helpers every wizard relies on.
class TestCommon : public QObject {
    Q_OBJECT
  private slots:
    void fullStopRule_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        addRow("letter", "No Password Provided", "No Password Provided.");
        addRow("full stop",
               "Error running process.  Make sure that you have valid "
               "entries for your data fields.",
               "Error running process.  Make sure that you have valid "
               "entries for your data fields.");
        addRow("parenthesis", "name (x)", "name (x)");
        addRow("quote", "ends \"q\"", "ends \"q\"");
        addRow("question", "Sure?", "Sure?.");
        addRow("digit", "code 7", "code 7.");
        addRow("empty", "", "");
    }
    void fullStopRule() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(withFullStop(message), shown);
    }

    void filePresenceAndSize() {
        TempFolder folder;
        QVERIFY(!FileIsPresent(folder.file("none")));
        QCOMPARE(QueryFileSize(folder.file("none")), qint64(-1));
        QVERIFY(!FileIsPresent(folder.path()));
        writeFileContent(folder.file("empty"), QByteArray());
        QVERIFY(FileIsPresent(folder.file("empty")));
        QVERIFY(!outputIsNonEmpty(folder.file("empty")));
        writeFileContent(folder.file("full"), "x");
        QVERIFY(outputIsNonEmpty(folder.file("full")));
        // Only a regular file counts, reached through a link or not: a FIFO or a device would
        // block or mislead whoever reads it.
        QVERIFY(QFile::link(folder.file("full"), folder.file("link")));
        QVERIFY(FileIsPresent(folder.file("link")));
        QVERIFY(QFile::link(folder.file("none"), folder.file("dangling")));
        QVERIFY(!FileIsPresent(folder.file("dangling")));
        QCOMPARE(::mkfifo(QFile::encodeName(folder.file("fifo")).constData(), 0600), 0);
        QVERIFY(!FileIsPresent(folder.file("fifo")));
        QVERIFY(!FileIsPresent("/dev/null"));
    }

    void debugSwitchFromFirstArgumentOnly() {
        const char* lower[] = {"certwright", "-debug"};
        const char* second[] = {"certwright", "x", "-DEBUG"};
        const char* none[] = {"certwright"};
        const char* other[] = {"certwright", "-DEBUGX"};
        QVERIFY(readDebugSwitch(2, lower));
        QVERIFY(!readDebugSwitch(3, second));
        QVERIFY(!readDebugSwitch(1, none));
        QVERIFY(!readDebugSwitch(2, other));
    }

    // The tool and the pass-phrase files live beside the executable.
    void programFolderEndsInSeparator() {
        QCOMPARE(ProgramFolder(), QCoreApplication::applicationDirPath() + '/');
    }
};

QTEST_MAIN(TestCommon)
#include "tst_common.moc"
