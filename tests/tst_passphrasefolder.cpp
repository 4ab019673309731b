#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uMainForm.h"
#include "uPassPhraseFolder.h"
#include "uPasswordForm.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kOtherOwner = QStringLiteral("it belongs to another user");
const QString kWideMode = QStringLiteral("its mode is 0755 instead of 0700");
const QString kNotAFolder = QStringLiteral("it is a link or a file, not a folder");
const QString kNotSafe = QStringLiteral(
    "The folder \"%1\" is not safe for pass phrases: %2. Certwright writes no pass phrase "
    "there; remove that folder and start Certwright again.");
const QString kCannotCreate =
    QStringLiteral("The folder \"%1\" for pass phrases cannot be created (%2).");

// Ends the choice of a test, whatever happens in it.
struct ChoiceGuard {
    ~ChoiceGuard() { endPassPhraseFolder(); }
};

uid_t nobody() {
    const passwd* entry = ::getpwnam("nobody");
    return entry ? entry->pw_uid : 65534;
}

int modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

bool setMode(const QString& path, mode_t mode) {
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool giveToNobody(const QString& path) {
    return ::chown(QFile::encodeName(path).constData(), nobody(), gid_t(-1)) == 0;
}

// Confirms the pass-phrase dialog with a new pass phrase and writes it as a step does; returns the
// texts of error boxes and the error of the writing.
QStringList confirmPassPhrase(const QString& passPhrase) {
    TfrmPasswordDlg dialog(nullptr);
    dialog.setUp(PassPhraseUse::CertificateRequest);
    dialog.show();
    dialog.edtNewPassword->setText(passPhrase);
    dialog.edtVerifyNewPassword->setText(passPhrase);
    ModalScript script({pressButton(QMessageBox::Ok)});
    dialog.btnOk->click();
    QStringList seen = script.seen;
    // The step writes what the dialog answered; its error is what the user sees.
    if (dialog.result() == QDialog::Accepted) {
        try {
            writePassPhrases(PassPhraseFolder(), {QString(), dialog.newPassPhrase()});
        } catch (const PageError& error) {
            seen << error.message();
        }
    }
    return seen;
}

// Shows and closes the chooser as the program's end does; returns what any window showed.
QStringList closeChooser() {
    TfrmCertwright chooser;
    chooser.show();
    ModalScript script({pressButton(QMessageBox::Ok)});
    chooser.close();
    return script.seen;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}
} // namespace

// Where the pass-phrase files of a run live: the program folder when only the user may
// write it, else a private folder that must be the user's own, and a folder of its own for
// a second copy of the program.
class TestPassPhraseFolder : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY2(geteuid() == 0, "the ownership cases need root to give folders to nobody");
    }

    void choosingTheFolder_data() {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<bool>("inPrivate");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("program folder of the user's own") << "own" << false << "";
        QTest::newRow("program folder writable by its group") << "group" << true << "";
        QTest::newRow("program folder writable by all") << "all" << true << "";
        QTest::newRow("program folder of another user") << "nobody" << true << "";
        QTest::newRow("private folder made earlier") << "earlier" << true << "";
        QTest::newRow("private folder of another user")
            << "private of nobody" << true << kNotSafe.arg("%1", kOtherOwner);
        QTest::newRow("private folder open to others")
            << "private 0755" << true << kNotSafe.arg("%1", kWideMode);
        QTest::newRow("link in place of the private folder")
            << "private link" << true << kNotSafe.arg("%1", kNotAFolder);
        QTest::newRow("file in place of the private folder")
            << "private file" << true << kNotSafe.arg("%1", kNotAFolder);
        QTest::newRow("base that cannot be made")
            << "base under a file" << true << kCannotCreate.arg("%1", "Not a directory");
    }
    void choosingTheFolder() {
        QFETCH(QString, setUp);
        QFETCH(bool, inPrivate);
        QFETCH(QString, refusal);
        TempFolder program;
        TempFolder scratch;
        QString base = scratch.file("base");
        QVERIFY(QDir().mkdir(base));
        const QString privateFolder = base + "/certwright";
        const QString elsewhere = scratch.file("elsewhere");
        QVERIFY(QDir().mkdir(elsewhere) && setMode(elsewhere, 0700));

        if (setUp == "group")
            QVERIFY(setMode(program.path(), 0770));
        else if (setUp == "all")
            QVERIFY(setMode(program.path(), 01777));
        else if (inPrivate)
            QVERIFY(giveToNobody(program.path()));
        if (setUp == "earlier" || setUp == "private of nobody" || setUp == "private 0755")
            QVERIFY(QDir().mkdir(privateFolder));
        if (setUp == "earlier")
            QVERIFY(setMode(privateFolder, 0700));
        if (setUp == "private of nobody")
            QVERIFY(setMode(privateFolder, 0700) && giveToNobody(privateFolder));
        if (setUp == "private 0755")
            QVERIFY(setMode(privateFolder, 0755));
        if (setUp == "private link")
            QVERIFY(QFile::link(elsewhere, privateFolder));
        if (setUp == "private file")
            writeFileContent(privateFolder, "a file");
        if (setUp == "base under a file") {
            writeFileContent(scratch.file("file"), "a file");
            base = scratch.file("file") + "/base";
        }
        const QString expected = inPrivate ? base + "/certwright/" : program.path();

        ChoiceGuard guard;
        choosePassPhraseFolder(program.path(), base);
        QCOMPARE(PassPhraseFolder(), expected);
        QVERIFY(!passPhraseFolderIsOwnCopy());
        QCOMPARE(PassPhraseFolderRefusal(),
                 refusal.isEmpty() ? refusal : refusal.arg(base + "/certwright"));

        const QStringList shown = confirmPassPhrase("new secret");
        if (refusal.isEmpty()) {
            QCOMPARE(shown, QStringList());
            if (inPrivate)
                QCOMPARE(modeOf(privateFolder), 0700);
            QCOMPARE(fileContent(expected + kNewPassPhraseFile), QByteArray("new secret"));
            QCOMPARE(modeOf(expected + kNewPassPhraseFile), 0600);
        } else {
            // The dialog says why and writes nothing, neither here nor through a link.
            QCOMPARE(shown, QStringList{PassPhraseFolderRefusal()});
            if (QFileInfo(privateFolder).isDir())
                QVERIFY(!QFile::exists(privateFolder + "/" + kNewPassPhraseFile));
        }
        if (inPrivate)
            QVERIFY(!QFile::exists(program.file(kNewPassPhraseFile)));
        QCOMPARE(entriesOf(elsewhere), QStringList());

        // The end shows no error box, also for a refused folder, and leaves the files empty.
        QCOMPARE(closeChooser(), QStringList());
        if (refusal.isEmpty())
            QVERIFY(passPhraseFilesEmpty(expected));
        endPassPhraseFolder();
        QCOMPARE(PassPhraseFolder(), ProgramFolder());
        if (refusal.isEmpty())
            QVERIFY(passPhraseFilesEmpty(expected));
        else
            QCOMPARE(entriesOf(elsewhere), QStringList());
        QVERIFY(setMode(program.path(), 0700));
    }

    // A second copy of the program never touches the files of the first: it gets a folder of
    // its own, also where the base folder is still missing; it holds that folder's lock, so
    // that no other copy takes it for a killed copy's, and the folder goes at its end.
    void secondCopyGetsAFolderOfItsOwn_data() {
        QTest::addColumn<bool>("inPrivate");
        QTest::addColumn<bool>("missingBase");
        addRow("first copy in its program folder", false, false);
        addRow("first copy in the private folder", true, false);
        addRow("first copy in its program folder, no base folder yet", false, true);
    }
    void secondCopyGetsAFolderOfItsOwn() {
        QFETCH(bool, inPrivate);
        QFETCH(bool, missingBase);
        TempFolder program;
        TempFolder base;
        const QString usual = inPrivate ? base.file("certwright/") : program.path();
        const QString ownBase = missingBase ? base.file("cache/certwright-parent/") : base.path();
        if (inPrivate)
            QVERIFY(setMode(program.path(), 0770));
        QProcess first;
        QProcessEnvironment environment = offscreenEnvironment();
        environment.insert("XDG_RUNTIME_DIR", ownBase);
        startProgramCopy(first, program.path(), environment);
        if (QTest::currentTestFailed())
            return;
        QTRY_VERIFY(QFileInfo(usual).isDir());
        writePassPhraseFiles(usual, "first current", "first new");

        {
            ChoiceGuard guard;
            choosePassPhraseFolder(program.path(), ownBase);
            QVERIFY(passPhraseFolderIsOwnCopy());
            const QString own = PassPhraseFolder();
            QVERIFY2(own.startsWith(ownBase + "certwright-"), qPrintable(own));
            const HeldLock other(own);
            QVERIFY(other.file.fd >= 0 && !other.locked);
            QCOMPARE(modeOf(own), 0700);
            QCOMPARE(confirmPassPhrase("second new"), QStringList());
            QCOMPARE(fileContent(own + kNewPassPhraseFile), QByteArray("second new"));
            QCOMPARE(closeChooser(), QStringList());
            endPassPhraseFolder();
            QVERIFY(!QFileInfo::exists(own));
        }
        QCOMPARE(fileContent(usual + kCurrentPassPhraseFile), QByteArray("first current"));
        QCOMPARE(fileContent(usual + kNewPassPhraseFile), QByteArray("first new"));

        // Once the first copy has ended, the usual folder is free again.
        QVERIFY(::kill(pid_t(first.processId()), SIGTERM) == 0);
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(passPhraseFilesEmpty(usual));
        ChoiceGuard guard;
        choosePassPhraseFolder(program.path(), ownBase);
        QVERIFY(!passPhraseFolderIsOwnCopy());
        QCOMPARE(PassPhraseFolder(), usual);
        QVERIFY(setMode(program.path(), 0700));
    }

    // At the start, only a real folder of the user's own whose lock is free is taken for a
    // killed copy's folder and removed; the held folder's files are emptied.
    void leftoversOfKilledCopies_data() {
        QTest::addColumn<QString>("setUp");
        addRow("folder of a killed copy", "killed");
        addRow("folder of a running copy", "held");
        addRow("folder of another user", "nobody");
        addRow("link to a folder", "link");
    }
    void leftoversOfKilledCopies() {
        QFETCH(QString, setUp);
        TempFolder program;
        TempFolder base;
        TempFolder elsewhere;
        writePassPhraseFiles(program.path(), "last current", "last new");
        const QString copy = base.file("certwright-Ab3xYz");
        const QString target = setUp == "link" ? elsewhere.path() : copy + "/";
        if (setUp == "link")
            QVERIFY(QFile::link(elsewhere.path(), copy));
        else
            QVERIFY(QDir().mkdir(copy) && setMode(copy, 0700));
        writePassPhraseFiles(target, "other current", "other new");
        if (setUp == "nobody")
            QVERIFY(giveToNobody(copy));
        const HeldLock held(copy, setUp == "held");
        QCOMPARE(held.locked, setUp == "held");
        {
            ChoiceGuard guard;
            choosePassPhraseFolder(program.path(), base.path());
            QCOMPARE(PassPhraseFolder(), program.path());
            QVERIFY(passPhraseFilesEmpty(program.path()));
        }
        QCOMPARE(QFileInfo::exists(copy), setUp != "killed");
        if (setUp != "killed")
            QCOMPARE(fileContent(target + kNewPassPhraseFile), QByteArray("other new"));
    }

    void privateBase_data() {
        QTest::addColumn<QString>("runtime");
        QTest::addColumn<bool>("runtimeUsed");
        QTest::newRow("runtime folder of the user's own") << "own" << true;
        QTest::newRow("runtime folder of another user") << "nobody" << false;
        QTest::newRow("relative runtime folder") << "relative" << false;
        QTest::newRow("no runtime folder") << "" << false;
    }
    void privateBase() {
        QFETCH(QString, runtime);
        QFETCH(bool, runtimeUsed);
        TempFolder scratch;
        const QString cache = scratch.file("cache");
        const QString runtimeFolder = scratch.file("runtime");
        QVERIFY(QDir().mkdir(runtimeFolder));
        if (runtime == "nobody")
            QVERIFY(giveToNobody(runtimeFolder));
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        if (runtime.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", runtime == "relative" ? QByteArray("runtime")
                                                             : QFile::encodeName(runtimeFolder));
        const QString chosen = privatePassPhraseBase();
        qputenv("XDG_CACHE_HOME", savedCache);
        if (savedCache.isNull())
            qunsetenv("XDG_CACHE_HOME");
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        if (savedRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(chosen, runtimeUsed ? runtimeFolder : cache);
    }
};

QTEST_MAIN(TestPassPhraseFolder)
#include "tst_passphrasefolder.moc"
