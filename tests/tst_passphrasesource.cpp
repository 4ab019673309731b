#include "TestCoreSupport.h"
#include "uPassPhraseSource.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

// Where the command line reads a pass phrase from, and what it refuses.
class TestPassPhraseSource : public QObject {
    Q_OBJECT
  private slots:
    // "%F" is a folder that holds "pass.txt" (the row's content), "fifo" and "folder"; "%D" a
    // descriptor of a pipe that holds the content; PASSWORD_ROW holds the content too.
    void read_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const char* source, const QByteArray& content,
                            const QString& read, const char* error = "") {
            QTest::newRow(name) << QString(source) << content << read << QString(error);
        };
        row("file: its first line", "file:%F/pass.txt", "first line\nsecond\n", "first line");
        row("file: CR LF line end", "file:%F/pass.txt", "dos line\r\nnext", "dos line");
        row("file: no line end, blanks kept", "file:%F/pass.txt", " a b ", " a b ");
        row("file: UTF-8", "file:%F/pass.txt", "Z\xc3\xbcrich\n", QString::fromUtf8("Zürich"));
        row("file: missing", "file:%F/none.txt", "", {}, "\"%F/none.txt\" cannot be read");
        row("file: a FIFO is not waited for", "file:%F/fifo", "", {}, "not a regular file");
        row("file: a folder", "file:%F/folder", "", {}, "not a regular file");
        row("env: the variable", "env:PASSWORD_ROW", "from the environment",
            "from the environment");
        row("env: not set", "env:NO_SUCH_VARIABLE_21", "", {},
            "\"NO_SUCH_VARIABLE_21\" is not set");
        row("fd: the first line", "fd:%D", "through a pipe\nrest", "through a pipe");
        row("fd: not a number", "fd:x", "", {}, "\"fd:x\" is not a pass-phrase source");
        row("pass: refused", "pass:secret", "", {}, "\"pass:\" is not accepted");
        row("unknown source", "secret", "", {}, "\"secret\" is not a pass-phrase source");
    }
    void read() {
        QFETCH(QString, source);
        QFETCH(QByteArray, content);
        QFETCH(QString, read);
        QFETCH(QString, error);
        TempFolder folder;
        const QString root = folder.path().chopped(1);
        writeFileContent(folder.file("pass.txt"), content);
        QCOMPARE(::mkfifo(QFile::encodeName(folder.file("fifo")).constData(), 0600), 0);
        QVERIFY(QDir(root).mkdir("folder"));
        qputenv("PASSWORD_ROW", content);
        int pipeEnds[2] = {-1, -1};
        QCOMPARE(::pipe(pipeEnds), 0);
        QCOMPARE(::write(pipeEnds[1], content.constData(), size_t(content.size())),
                 ssize_t(content.size()));
        ::close(pipeEnds[1]);
        source.replace("%F", root).replace("%D", QString::number(pipeEnds[0]));
        try {
            QCOMPARE(PassPhraseSource::read("--passin", source), read);
            QVERIFY(error.isEmpty());
        } catch (const UsageError& refused) {
            QVERIFY2(!error.isEmpty() && refused.message().startsWith("--passin: ") &&
                         refused.message().contains(QString(error).replace("%F", root)),
                     qPrintable(refused.message()));
        }
        ::close(pipeEnds[0]);
    }
};

QTEST_GUILESS_MAIN(TestPassPhraseSource)
#include "tst_passphrasesource.moc"
