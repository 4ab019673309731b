#include "TestCoreSupport.h"
#include "uCertwrightCommon.h"
#include "uReloadCommand.h"
#include "uRenewal.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

// The renewal records, their due points, the reload command and the timer's refusals, apart
// from any authority.
class TestRenewal : public QObject {
    Q_OBJECT

    // The data folder of the records written here.
    QTemporaryDir records{QDir::tempPath() + "/tst_renewal records-XXXXXX"};

    Acme::AcmeValues valuesOf(const QString& name, const QString& friendlyName = {}) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(records.path()));
        Acme::AcmeValues values;
        values.names = {name};
        values.outputs = {"nginx"};
        values.friendlyName = friendlyName;
        return values;
    }

    // A record that is not due, written by this process into records.
    QString writeRecord(const QString& name, const QString& friendlyName = {}) {
        return Renewal::writeRecord(valuesOf(name, friendlyName),
                                    QDateTime::currentDateTimeUtc().addDays(90))
            .first();
    }

    // The record of the name among those read back, with the problems of the others.
    std::optional<Renewal::Record> readBack(const QString& name, QStringList* problems) {
        for (const Renewal::Record& record : Renewal::records(problems))
            if (record.name == name)
                return record;
        return std::nullopt;
    }

  private slots:
    // What is written is read back as it was; the pass phrase is kept beside the record, and
    // both are the user's alone.
    void recordRoundTrip() {
        Acme::AcmeValues values = valuesOf("round.test", "Round \"trip\"");
        values.names << "www.round.test";
        values.outputs << ServerFiles::kForIis;
        values.passPhrase = "kept secret ü";
        values.reloadCommand = {"/bin/true", "a b"};
        values.legacyPfx = true;
        const QDateTime expiry = QDateTime::currentDateTimeUtc().addDays(60).addMSecs(-123);
        const QStringList paths = Renewal::writeRecord(values, expiry);
        QCOMPARE(paths.size(), 2);
        for (const QString& path : paths) {
            struct stat status {};
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &status), 0);
            QCOMPARE(status.st_mode & 07777, 0600u);
        }
        QStringList problems;
        const std::optional<Renewal::Record> record = readBack("round.test", &problems);
        QVERIFY(record);
        QCOMPARE(problems, QStringList());
        QCOMPARE(record->values.names, values.names);
        QCOMPARE(record->values.passPhrase, values.passPhrase);
        QCOMPARE(record->values.reloadCommand, values.reloadCommand);
        QCOMPARE(record->values.friendlyName, values.friendlyName);
        QCOMPARE(record->values.legacyPfx, true);
        QCOMPARE(record->expiry.toSecsSinceEpoch(), expiry.toSecsSinceEpoch());
    }

    // A record that cannot be read is named among the problems, and the others are still read.
    void unreadableRecord_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("passPhraseGone");
        QTest::newRow("not JSON") << QByteArray("{ not json") << false;
        QTest::newRow("no names") << QByteArray("{}") << false;
        QTest::newRow("pass phrase file gone") << QByteArray() << true;
    }
    void unreadableRecord() {
        QFETCH(QByteArray, content);
        QFETCH(bool, passPhraseGone);
        writeRecord("good.test");
        Acme::AcmeValues values = valuesOf("bad.test");
        values.outputs << ServerFiles::kForIndy;
        values.passPhrase = "secret";
        const QStringList paths =
            Renewal::writeRecord(values, QDateTime::currentDateTimeUtc().addDays(90));
        if (passPhraseGone)
            QVERIFY(QFile::remove(paths.last()));
        else
            writeFileContent(paths.first(), content);
        QStringList problems;
        QVERIFY(readBack("good.test", &problems));
        QVERIFY(!readBack("bad.test", &problems));
        QCOMPARE(problems.size(), 2); // read twice above
        QVERIFY2(problems.first().contains(paths.first()), qPrintable(problems.first()));
        QVERIFY(QFile::remove(paths.first()));
    }

    // Due within the days asked, or (-1) once a third of the lifetime, at most 30 days, is left.
    void dueSelection_data() {
        QTest::addColumn<int>("lifetimeDays");
        QTest::addColumn<int>("leftDays");
        QTest::addColumn<int>("days");
        QTest::addColumn<bool>("due");
        QTest::newRow("90 days, 31 left") << 90 << 31 << -1 << false;
        QTest::newRow("90 days, 29 left") << 90 << 29 << -1 << true;
        QTest::newRow("6 days, 3 left") << 6 << 3 << -1 << false;
        QTest::newRow("6 days, 1 left") << 6 << 1 << -1 << true;
        QTest::newRow("asked 40, 39 left") << 90 << 39 << 40 << true;
        QTest::newRow("asked 10, 11 left") << 90 << 11 << 10 << false;
        QTest::newRow("expired") << 90 << -1 << 0 << true;
    }
    void dueSelection() {
        QFETCH(int, lifetimeDays);
        QFETCH(int, leftDays);
        QFETCH(int, days);
        QFETCH(bool, due);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        Renewal::Record record;
        record.expiry = now.addDays(leftDays);
        record.notBefore = record.expiry.addDays(-lifetimeDays);
        QCOMPARE(Renewal::isDue(record, days, now), due);
    }

    // The reload command split as by a shell, its program made absolute ("%S": the current folder
    // with reload.sh, "run me", plain.txt and sub/; "%T": touch in PATH), or refused.
    void reloadCommand_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const QString& typed, const QStringList& words,
                            const QString& error = {}) {
            QTest::newRow(name) << typed << words << error;
        };
        row("single quotes keep blanks", "touch '/x/a b'", {"%T", "/x/a b"});
        row("double quotes and their escapes", "./reload.sh \"a \\\"b\\\" \\\\ \\$c \\d 'e'\"",
            {"%S/reload.sh", "a \"b\" \\ $c \\d 'e'"});
        row("backslashes, joined parts, empty words",
            "sub/../reload.sh a\\ b \\'c\\' x'y'\"z\" '' \"\"",
            {"%S/reload.sh", "a b", "'c'", "xyz", "", ""});
        row("blanks, tabs, nothing expanded", "\t'%S/run me'   $HOME ~ *.pem\t",
            {"%S/run me", "$HOME", "~", "*.pem"});
        row("blank: no command", "  ", {});
        row("single quote not closed", "touch 'a b", {}, "single quote (') that is not closed");
        row("double quote not closed", "touch \"a b", {}, "double quote (\") that is not closed");
        row("backslash at the end", "touch a\\", {}, "ends with a backslash");
        row("a shell's operator", "touch a; rm b", {}, "holds \";\", which only a shell");
        row("a line end", "touch a\nrm b", {}, "a line end or another control character");
        row("unknown program", "no-such-program-21", {}, "is in no folder of PATH");
        row("missing relative program", "./missing.sh", {}, "\"./missing.sh\" of the reload");
        row("not executable", "./plain.txt", {}, "is not an executable file");
    }

    void reloadCommand() {
        QFETCH(QString, typed);
        QFETCH(QStringList, words);
        QFETCH(QString, error);
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir("sub"));
        for (const char* name : {"reload.sh", "run me", "plain.txt"}) {
            writeFileContent(folder.filePath(name), "#!/bin/sh\n");
            QVERIFY(QFile::setPermissions(folder.filePath(name),
                                          name[0] == 'p' ? QFile::ReadOwner : QFile::ExeOwner));
        }
        try {
            const QStringList found =
                ReloadCommand::resolve(typed.replace("%S", folder.path()), folder.path());
            QVERIFY2(error.isEmpty(), qPrintable(found.join('|')));
            QCOMPARE(found, words.replaceInStrings("%S", folder.path())
                                .replaceInStrings("%T", QStandardPaths::findExecutable("touch")));
        } catch (const PageError& refused) {
            QVERIFY2(!error.isEmpty() && refused.message().contains(error),
                     qPrintable(refused.message()));
        }
    }

    // A reload command that fails says how it ended, with what it wrote.
    void reloadEnding_data() {
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("said");
        QTest::newRow("ended well") << QStringList{"/bin/sh", "-c", "exit 0"} << QString();
        QTest::newRow("status") << QStringList{"/bin/sh", "-c", "echo why; exit 3"}
                                << "failed: it ended with status 3.\nwhy";
        QTest::newRow("signal") << QStringList{"/bin/sh", "-c", "kill -TERM $$"}
                                << "failed: it was ended by a signal (Terminated).";
        QTest::newRow("not found")
            << QStringList{"no-such-program-21"} << "failed: the program was not found.";
    }
    void reloadEnding() {
        QFETCH(QStringList, command);
        QFETCH(QString, said);
        TempProgramFolder program(false);
        const QString message = ReloadCommand::run(command, program.context());
        QVERIFY2(said.isEmpty() ? message.isEmpty() : message.contains(said), qPrintable(message));
    }

    // A record is replaced whole: a rewrite that fails (here at the file size limit) leaves the
    // earlier record as it was and nothing beside it.
    void recordSurvivesAFailedRewrite() {
        const QString record = writeRecord("kept.test");
        const QByteArray before = fileContent(record);
        const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY},
            small{rlim_t(before.size()), RLIM_INFINITY};
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        QVERIFY_THROWS_EXCEPTION(PageError, writeRecord("kept.test", QString(before.size(), 'x')));
        QCOMPARE(fileContent(record), before);
        QCOMPARE(QDir(QFileInfo(record).path())
                     .entryList({"kept*", ".kept*"}, QDir::Files | QDir::Hidden),
                 QStringList{"kept.test.json"});
    }

    // Refused before any unit is written: a path with a control character, and for the system a
    // program (changed by the row's shell command: $1 the file, $2 its folder) others can change.
    void timerRefusals_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("system");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const char* change, bool system, const char* error) {
            QTest::newRow(name) << QString(change) << system << QString(error);
        };
        row("system: a second user's ACL entry on its folder", "setfacl -m u:65534:rwx \"$2\"",
            true, "an access control list lets the user \"nobody\" write to");
        row("system: the program is a second user's", "chown 65534 \"$1\"", true,
            "belongs to another user (user ID 65534)");
        for (const bool system : {false, true})
            row(system ? "system: a line end in its path" : "user: a line end in its path", "",
                system, "/a\\x0ab/certwright\" holds a line end");
    }

    void timerRefusals() {
        QFETCH(QString, change);
        QFETCH(bool, system);
        QFETCH(QString, error);
        QTemporaryDir scratch;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.path()));
        const QString program = scratch.filePath(change.isEmpty() ? "a\nb" : "bin") + "/certwright";
        QVERIFY(QDir().mkdir(QFileInfo(program).path()));
        writeFileContent(program, "");
        QCOMPARE(QProcess::execute("sh", {"-c", change, "sh", program, QFileInfo(program).path()}),
                 0);
        try {
            Renewal::installTimer(program, system);
            QFAIL("installed");
        } catch (const PageError& refused) {
            QVERIFY2(refused.message().contains(error), qPrintable(refused.message()));
        }
        QVERIFY(!QFile::exists(scratch.filePath("systemd")));
    }
};

QTEST_GUILESS_MAIN(TestRenewal)
#include "tst_renewal.moc"
