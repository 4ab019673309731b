#include "TestSupport.h"
#include "UserFile.h"
#include "uCertwrightCommon.h"

#include <QtTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

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

    // A file that the user names is read only when it is what the reader allows; nothing put at
    // its name holds the reader up.
    void userFileWithinItsLimits_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("largest");
        QTest::addColumn<bool>("followLinks");
        QTest::addColumn<bool>("ownedByUser");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<int>("error");
        const auto row = [](const char* why, const char* name, qint64 largest, bool follow,
                            bool owned, UserFile::Refusal refusal, int error = 0) {
            QTest::newRow(why) << QString(name) << largest << follow << owned << int(refusal)
                               << error;
        };
        using UserFile::Refusal;
        row("a regular file", "full", 4, true, true, Refusal::None);
        row("of any size", "full", 0, true, false, Refusal::None);
        row("larger than allowed", "full", 3, true, false, Refusal::TooLarge);
        row("through a link", "link", 4, true, false, Refusal::None);
        row("a link that is not followed", "link", 4, false, false, Refusal::NotRegular, ELOOP);
        row("a FIFO", "fifo", 4, true, false, Refusal::NotRegular);
        row("a folder", ".", 4, true, false, Refusal::NotRegular);
        row("a device", "/dev/zero", 4, true, false, Refusal::NotRegular);
        row("none", "none", 4, true, false, Refusal::System, ENOENT);
        row("another user's", "theirs", 4, true, true, Refusal::NotOwned);
        row("another user's, for any reader", "theirs", 4, true, false, Refusal::None);
    }
    void userFileWithinItsLimits() {
        QFETCH(QString, name);
        QFETCH(qint64, largest);
        QFETCH(bool, followLinks);
        QFETCH(bool, ownedByUser);
        QFETCH(int, refusal);
        QFETCH(int, error);
        TempFolder folder;
        writeFileContent(folder.file("full"), "full");
        writeFileContent(folder.file("theirs"), "full");
        QCOMPARE(::chown(QFile::encodeName(folder.file("theirs")).constData(), ::geteuid() + 1,
                         ::getegid()),
                 0);
        QVERIFY(QFile::link(folder.file("full"), folder.file("link")));
        QCOMPARE(::mkfifo(QFile::encodeName(folder.file("fifo")).constData(), 0600), 0);
        const QString path = name.startsWith('/') ? name : folder.file(name);
        UserFile::Failure failure;
        const std::optional<QByteArray> content =
            UserFile::read(path, {largest, followLinks, ownedByUser}, &failure);
        QCOMPARE(int(failure.refusal), refusal);
        QCOMPARE(failure.error, error);
        QCOMPARE(content.has_value(), refusal == int(UserFile::Refusal::None));
        if (content)
            QCOMPARE(*content, QByteArray("full"));
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
