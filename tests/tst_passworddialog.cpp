#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uPassPhraseFiles.h"
#include "uPasswordForm.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(PassPhraseUse)

namespace {
const QString kAllFields = QStringLiteral("All fields must be completed.");
const QString kMismatch = QStringLiteral("Your verified password must match your new password.");
const QString kTooShort = QStringLiteral("Your password must be at least 4 characters long.");
const QString kTooLong = QStringLiteral("Your password must be at most 1023 bytes long in UTF-8.");
const QString kControl = QStringLiteral(
    "Your password must not contain line breaks or other control characters (it contains %1).");
const QString kTwoEmoji = QString::fromUtf8("\xf0\x9f\x98\x80\xf0\x9f\x90\x8d");
const QByteArray kEarlierCurrent = "earlier current";
const QByteArray kEarlierNew = "earlier new";
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The file's access bits as the system holds them.
int modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Presses OK in the error box and records how it looked.
struct ErrorBoxes {
    QStringList texts;
    bool allLookRight = true;
    ModalScript::Action answer() {
        return onWindow<QMessageBox>([this](QMessageBox* box) {
            texts << box->text();
            allLookRight = allLookRight && box->windowTitle() == kApplicationTitle &&
                           box->icon() == QMessageBox::Critical;
            box->button(QMessageBox::Ok)->click();
        });
    }
};

// Types the entries into a shown dialog and presses Ok; returns the texts of the error boxes.
QStringList confirm(TfrmPasswordDlg& dialog, const QString& current, const QString& fresh,
                    const QString& verify, bool* boxesLookRight = nullptr) {
    dialog.edtCurrentPassword->setText(current);
    dialog.edtNewPassword->setText(fresh);
    dialog.edtVerifyNewPassword->setText(verify);
    ErrorBoxes boxes;
    ModalScript script({boxes.answer()});
    dialog.btnOk->click();
    if (boxesLookRight)
        *boxesLookRight = boxes.allLookRight;
    return boxes.texts;
}

void writeEarlierContents(const TempProgramFolder& program) {
    writePassPhraseFiles(program.path(), kEarlierCurrent, kEarlierNew);
}

bool earlierContentsKept(const TempProgramFolder& program) {
    return fileContent(program.file(kCurrentPassPhraseFile)) == kEarlierCurrent &&
           fileContent(program.file(kNewPassPhraseFile)) == kEarlierNew;
}

// Puts an item of the given kind at the path: a symbolic link to the target, a link to a
// target that does not exist yet, a hard link to the target, or a FIFO.
bool plant(const QString& kind, const QString& path, const QString& target) {
    const QByteArray bytes = QFile::encodeName(path);
    const QByteArray targetBytes = QFile::encodeName(target);
    if (kind == "link" || kind == "dangling link")
        return ::symlink(targetBytes.constData(), bytes.constData()) == 0;
    if (kind == "hard link")
        return ::link(targetBytes.constData(), bytes.constData()) == 0;
    return ::mkfifo(bytes.constData(), 0600) == 0;
}

// True when the path names a regular file (not followed through a link) of mode 0600.
bool isOwnerOnlyRegularFile(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           (info.st_mode & 07777) == 0600;
}

int openKey(const QString& keyPath, const QString& passFile) {
    int exitCode = -1;
    runOpenSSL({"rsa", "-in", keyPath, "-passin", "file:" + passFile, "-noout"}, &exitCode);
    return exitCode;
}
} // namespace

// The pass-phrase dialog: its checks, its four set-ups and the files it writes for the tool.
class TestPasswordDialog : public QObject {
    Q_OBJECT
  private slots:
    void failedChecksShowTheirMessageAndWriteNothing_data() {
        QTest::addColumn<PassPhraseUse>("use");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("fresh");
        QTest::addColumn<QString>("verify");
        QTest::addColumn<QString>("message");
        const auto key = PassPhraseUse::IndyFromKey;
        addRow("required current empty", key, "", "abcd", "abcd", kAllFields);
        addRow("current checked before a mismatch", key, "", "abc", "xyz", kAllFields);
        addRow("new empty", key, "cur", "", "abcd", kAllFields);
        addRow("verify empty", key, "cur", "abcd", "", kAllFields);
        addRow("both new empty, current optional", PassPhraseUse::IISBundle, "", "", "",
               kAllFields);
        addRow("short mismatch", key, "cur", "abc", "abd", kMismatch);
        addRow("letter case", key, "cur", "Secret", "secret", kMismatch);
        addRow("blanks count", key, "cur", "abcd", "abcd ", kMismatch);
        addRow("three characters", key, "cur", "abc", "abc", kTooShort);
        addRow("hidden current, short", PassPhraseUse::CertificateRequest, "", "ab", "ab",
               kTooShort);
        addRow("two emoji are two characters", key, "cur", kTwoEmoji, kTwoEmoji, kTooShort);
        // The tool reads only the first line: these would give keys under other pass phrases.
        addRow("leading line break", key, "cur", "\nabcdefgh", "\nabcdefgh",
               kControl.arg("U+000A"));
        addRow("line break inside", key, "cur", "abcd\r\nWXYZ", "abcd\r\nWXYZ",
               kControl.arg("U+000D"));
        addRow("tab in the current one", key, "a\tb", "abcd", "abcd", kControl.arg("U+0009"));
        addRow("line separator", key, "cur", QString::fromUtf8("abcd\u2028e"),
               QString::fromUtf8("abcd\u2028e"), kControl.arg("U+2028"));
        addRow("delete", key, "cur", "abcd\x7f", "abcd\x7f", kControl.arg("U+007F"));
        // The tool would silently cut what lies past 1023 bytes.
        addRow("1024 bytes", key, "cur", QString(1024, 'a'), QString(1024, 'a'), kTooLong);
        addRow("512 two-byte characters", key, "cur", QString(512, QChar(0xe9)),
               QString(512, QChar(0xe9)), kTooLong);
        addRow("current of 1024 bytes", PassPhraseUse::IISBundle, QString(1024, 'k'), "abcd",
               "abcd", kTooLong);
    }
    void failedChecksShowTheirMessageAndWriteNothing() {
        QFETCH(PassPhraseUse, use);
        QFETCH(QString, current);
        QFETCH(QString, fresh);
        QFETCH(QString, verify);
        QFETCH(QString, message);
        TempProgramFolder program(false);
        writeEarlierContents(program);
        TfrmPasswordDlg dialog(nullptr);
        dialog.setUp(use);
        dialog.show();
        bool boxesLookRight = false;
        QCOMPARE(confirm(dialog, current, fresh, verify, &boxesLookRight), QStringList{message});
        QVERIFY(boxesLookRight);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.edtNewPassword->text(), fresh);
        QCOMPARE(dialog.edtVerifyNewPassword->text(), verify);
        QVERIFY(earlierContentsKept(program));
    }

    void confirmedEntriesGoIntoBothFiles_data() {
        QTest::addColumn<PassPhraseUse>("use");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("fresh");
        QTest::addColumn<QByteArray>("currentFile");
        QTest::addColumn<QByteArray>("newFile");
        addRow("four blanks", PassPhraseUse::IndyFromPfx, "cur", "    ", QByteArray("cur"),
               QByteArray("    "));
        addRow("request: hidden current", PassPhraseUse::CertificateRequest, "", "secret",
               QByteArray("\n"), QByteArray("secret"));
        addRow("IIS: empty current", PassPhraseUse::IISBundle, "", "pfxpass", QByteArray("\n"),
               QByteArray("pfxpass"));
        addRow("IIS: given current", PassPhraseUse::IISBundle, " k e y ", "pfxpass",
               QByteArray(" k e y "), QByteArray("pfxpass"));
        addRow("non-ASCII as UTF-8", PassPhraseUse::IndyFromKey, QString::fromUtf8("Zürich"),
               QString::fromUtf8("€uro"), QByteArray("Z\xc3\xbcrich"),
               QByteArray("\xe2\x82\xacuro"));
        addRow("four emoji", PassPhraseUse::IndyFromKey, "cur", kTwoEmoji + kTwoEmoji,
               QByteArray("cur"), (kTwoEmoji + kTwoEmoji).toUtf8());
        addRow("1023 bytes", PassPhraseUse::IndyFromKey, "cur", QString(1023, 'z'),
               QByteArray("cur"), QByteArray(1023, 'z'));
    }
    void confirmedEntriesGoIntoBothFiles() {
        QFETCH(PassPhraseUse, use);
        QFETCH(QString, current);
        QFETCH(QString, fresh);
        QFETCH(QByteArray, currentFile);
        QFETCH(QByteArray, newFile);
        TempProgramFolder program(false);
        // Earlier files, longer than the new contents and readable by all, must end up cut and
        // owner-only.
        writeEarlierContents(program);
        QFile::setPermissions(program.file(kCurrentPassPhraseFile),
                              kOwnerOnly | QFileDevice::ReadOther | QFileDevice::ReadGroup);
        TfrmPasswordDlg dialog(nullptr);
        dialog.setUp(use);
        dialog.show();
        QVERIFY(confirm(dialog, current, fresh, fresh).isEmpty());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(fileContent(program.file(kCurrentPassPhraseFile)), currentFile);
        QCOMPARE(fileContent(program.file(kNewPassPhraseFile)), newFile);
        for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile})
            QCOMPARE(modeOf(program.file(name)), 0600);
    }

    void toolReadsTheFilesAsTyped() {
        TempProgramFolder program(false);
        TempFolder keys;
        const QString plainKey = keys.file("plain.key");
        // Trailing blanks must survive: the key is encrypted under "pass " exactly.
        const QString encryptedKey = keys.file("enc.key");
        QVERIFY(makeKey(plainKey, QString(), 1024) && makeKey(encryptedKey, "pass ", 1024));

        TfrmPasswordDlg dialog(nullptr);
        dialog.setUp(PassPhraseUse::IISBundle);
        dialog.show();
        QVERIFY(confirm(dialog, "", "pass ", "pass ").isEmpty());
        const QString currentFile = program.file(kCurrentPassPhraseFile);
        const QString newFile = program.file(kNewPassPhraseFile);
        QCOMPARE(openKey(plainKey, currentFile), 0);
        QCOMPARE(openKey(encryptedKey, newFile), 0);
        QVERIFY(openKey(encryptedKey, currentFile) != 0);

        // The longest pass phrase that the dialog takes reaches the tool whole.
        const QString longest = QString(1022, 'l') + 'x';
        const QString longKey = keys.file("long.key");
        QVERIFY(makeKey(longKey, longest, 1024));
        QVERIFY(confirm(dialog, "", longest, longest).isEmpty());
        QCOMPARE(openKey(longKey, newFile), 0);
        writeFileContent(newFile, QString(1022, 'l').toUtf8());
        QVERIFY(openKey(longKey, newFile) != 0);

        // Why the empty pass phrase is not written as an empty file.
        writeFileContent(currentFile, QByteArray());
        QVERIFY(openKey(plainKey, currentFile) != 0);
    }

    void setUps_data() {
        QTest::addColumn<PassPhraseUse>("use");
        QTest::addColumn<bool>("currentShown");
        QTest::addColumn<bool>("required");
        QTest::addColumn<QString>("caption1");
        QTest::addColumn<QString>("caption2");
        addRow("request", PassPhraseUse::CertificateRequest, false, true,
               "Current Password:", "New Password for Key file:");
        addRow("IIS", PassPhraseUse::IISBundle, true, false,
               "Current Key File Password:", "New Password for PFX file:");
        addRow("Indy from PFX", PassPhraseUse::IndyFromPfx, true, true,
               "Current PFX File Password:", "New Password for PEM file:");
        addRow("Indy from key", PassPhraseUse::IndyFromKey, true, true,
               "Current Key File Password:", "New Password for PEM file:");
        addRow("server files from a fresh key", PassPhraseUse::ServerFiles, false, true,
               "Current Password:", "New Password for PFX and PEM files:");
    }
    void setUps() {
        QFETCH(PassPhraseUse, use);
        QFETCH(bool, currentShown);
        QFETCH(bool, required);
        QFETCH(QString, caption1);
        QFETCH(QString, caption2);
        TfrmPasswordDlg dialog(nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Password..."));
        QVERIFY(dialog.CurrentPasswordRequired);
        const QSize before = dialog.size();
        const QPoint row1Label = dialog.lblPass1->pos(),
                     row1Edit = dialog.edtCurrentPassword->pos();
        const QPoint row2Label = dialog.lblPass2->pos(), row2Edit = dialog.edtNewPassword->pos();
        const QPoint row3Label = dialog.lblPass3->pos(),
                     row3Edit = dialog.edtVerifyNewPassword->pos();

        dialog.setUp(use);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.CurrentPasswordRequired, required);
        QCOMPARE(dialog.lblPass1->text(), caption1);
        QCOMPARE(dialog.lblPass2->text(), caption2);
        QCOMPARE(dialog.lblPass3->text(), QStringLiteral("Verify New Password:"));
        QCOMPARE(dialog.lblPass1->isVisible(), currentShown);
        QCOMPARE(dialog.edtCurrentPassword->isVisible(), currentShown);
        if (currentShown) {
            QCOMPARE(dialog.size(), before);
            QCOMPARE(dialog.lblPass2->pos(), row2Label);
            QCOMPARE(dialog.edtNewPassword->pos(), row2Edit);
            QCOMPARE(dialog.lblPass3->pos(), row3Label);
            QCOMPARE(dialog.edtVerifyNewPassword->pos(), row3Edit);
        } else {
            QCOMPARE(dialog.size(), QSize(before.width(), before.height() - 58));
            QCOMPARE(dialog.lblPass2->pos(), row1Label);
            QCOMPARE(dialog.edtNewPassword->pos(), row1Edit);
            QCOMPARE(dialog.lblPass3->pos(), row2Label);
            QCOMPARE(dialog.edtVerifyNewPassword->pos(), row2Edit);
        }
        // Nothing hangs off the bottom edge or overlaps the last row.
        const QRect lastRow = dialog.edtVerifyNewPassword->geometry();
        for (QPushButton* button : {dialog.btnOk, dialog.btnCancel}) {
            QVERIFY(dialog.rect().contains(button->geometry()));
            QVERIFY(button->y() > lastRow.bottom());
        }
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        for (QLineEdit* edit :
             {dialog.edtCurrentPassword, dialog.edtNewPassword, dialog.edtVerifyNewPassword})
            QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(QApplication::focusWidget(),
                 currentShown ? dialog.edtCurrentPassword : dialog.edtNewPassword);
        QVERIFY(dialog.btnOk->isDefault());
    }

    // Every field shows a star for each character, whatever the style's own mask character.
    void fieldsShowStars() {
        TfrmPasswordDlg dialog(nullptr);
        dialog.show();
        for (QLineEdit* edit :
             {dialog.edtCurrentPassword, dialog.edtNewPassword, dialog.edtVerifyNewPassword}) {
            QTest::keyClicks(edit, "se cret");
            QCOMPARE(edit->text(), QStringLiteral("se cret"));
            QCOMPARE(edit->displayText(), QStringLiteral("*******"));
        }
    }

    void centredOverItsOwner() {
        QWidget owner;
        owner.setGeometry(40, 30, 900, 700);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        TfrmPasswordDlg dialog(&owner);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QPoint offset = dialog.frameGeometry().center() - owner.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 2,
                 qPrintable(QString("%1,%2").arg(offset.x()).arg(offset.y())));
    }

    void askReturnsThePassPhrasesOnEnterAndWritesNothing() {
        TempProgramFolder program(false);
        writeEarlierContents(program);
        ModalScript script({onWindow<TfrmPasswordDlg>([](TfrmPasswordDlg* dialog) {
            dialog->edtCurrentPassword->setText("old");
            dialog->edtNewPassword->setText("brand new");
            dialog->edtVerifyNewPassword->setText("brand new");
            QTest::keyClick(dialog->edtVerifyNewPassword, Qt::Key_Return);
        })});
        const PassPhrases given = TfrmPasswordDlg::ask(nullptr, PassPhraseUse::IndyFromPfx);
        QCOMPARE(given.current, QStringLiteral("old"));
        QCOMPARE(given.fresh, QStringLiteral("brand new"));
        QVERIFY(earlierContentsKept(program));
    }

    // The current pass phrase alone, for a task that reads files: it is returned, not written.
    void askCurrentShowsOneFieldAndWritesNothing() {
        TempProgramFolder program(false);
        writeEarlierContents(program);
        ModalScript script({onWindow<TfrmPasswordDlg>([](TfrmPasswordDlg* dialog) {
                                QVERIFY(!dialog->edtNewPassword->isVisible());
                                QTest::keyClicks(dialog->edtCurrentPassword, "pfx secret");
                                QTest::keyClick(dialog->edtCurrentPassword, Qt::Key_Return);
                            }),
                            rejectDialog()});
        QCOMPARE(TfrmPasswordDlg::askCurrent(nullptr, "PFX File Password:"), "pfx secret");
        QVERIFY_THROWS_EXCEPTION(SilentAbort, TfrmPasswordDlg::askCurrent(nullptr, "Key:"));
        QVERIFY(earlierContentsKept(program));
    }

    void cancelAndEscapeWriteNothing_data() { addBoolRows("escape", "Cancel", "Escape"); }
    void cancelAndEscapeWriteNothing() {
        QFETCH(bool, escape);
        TempProgramFolder program(false);
        writeEarlierContents(program);
        ModalScript script({onWindow<TfrmPasswordDlg>([escape](TfrmPasswordDlg* dialog) {
            dialog->edtCurrentPassword->setText("old");
            dialog->edtNewPassword->setText("brand new");
            dialog->edtVerifyNewPassword->setText("brand new");
            if (escape)
                QTest::keyClick(dialog->edtVerifyNewPassword, Qt::Key_Escape);
            else
                dialog->btnCancel->click();
        })});
        QVERIFY_THROWS_EXCEPTION(SilentAbort,
                                 TfrmPasswordDlg::ask(nullptr, PassPhraseUse::IndyFromKey));
        QCOMPARE(script.remaining(), 0);
        QVERIFY(earlierContentsKept(program));
    }

    // The first file that cannot be created stops the writing, with the dialog still open.
    void unwritableFileKeepsTheDialogOpen_data() {
        QTest::addColumn<QString>("blocked");
        QTest::addColumn<QByteArray>("currentAfter");
        addRow("first file", kCurrentPassPhraseFile, QByteArray());
        addRow("second file", kNewPassPhraseFile, QByteArray("cur"));
    }
    void unwritableFileKeepsTheDialogOpen() {
        QFETCH(QString, blocked);
        QFETCH(QByteArray, currentAfter);
        TempProgramFolder program(false);
        QVERIFY(QDir(program.path()).mkdir(blocked));
        const QString other =
            blocked == kCurrentPassPhraseFile ? kNewPassPhraseFile : kCurrentPassPhraseFile;
        if (blocked == kNewPassPhraseFile)
            writeFileContent(program.file(other), kEarlierCurrent);
        else
            writeFileContent(program.file(other), kEarlierNew);

        TfrmPasswordDlg dialog(nullptr);
        dialog.setUp(PassPhraseUse::IndyFromKey);
        dialog.show();
        const QStringList errors = confirm(dialog, "cur", "abcd", "abcd");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains('"' + program.file(blocked) + '"'),
                 qPrintable(errors.first()));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        if (blocked == kCurrentPassPhraseFile)
            QCOMPARE(fileContent(program.file(kNewPassPhraseFile)), kEarlierNew);
        else
            QCOMPARE(fileContent(program.file(kCurrentPassPhraseFile)), currentAfter);
    }

    void readOnlyProgramFolder() {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders; the blocked-file case covers the error");
        TempProgramFolder outer(false);
        const QString folder = outer.path() + "readonly/";
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        setProgramFolderForTesting(folder);
        TfrmPasswordDlg dialog(nullptr);
        dialog.setUp(PassPhraseUse::IndyFromKey);
        dialog.show();
        const QStringList errors = confirm(dialog, "cur", "abcd", "abcd");
        QFile::setPermissions(folder, kOwnerOnly | QFileDevice::ExeOwner);
        setProgramFolderForTesting(outer.path());
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains(folder + kCurrentPassPhraseFile));
        QVERIFY(dialog.isVisible());
        QVERIFY(!QFile::exists(folder + kNewPassPhraseFile));
    }

    // Whatever stands under a pass-phrase file's name is removed, never written through: a file
    // that a link points at or that shares the data keeps its content, and a FIFO does not
    // hold the program up.
    void plantedItemsAreNeverFollowed_data() {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("emptying");
        for (const char* planted : {"link", "dangling link", "hard link", "fifo"}) {
            QTest::addRow("%s, dialog", planted) << QString(planted) << false;
            QTest::addRow("%s, emptying", planted) << QString(planted) << true;
        }
    }
    void plantedItemsAreNeverFollowed() {
        QFETCH(QString, planted);
        QFETCH(bool, emptying);
        TempProgramFolder program(false);
        TempFolder elsewhere;
        const QByteArray victimData = "the victim's own data";
        for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile}) {
            const QString target = elsewhere.file("target-" + name);
            if (planted != "dangling link")
                writeFileContent(target, victimData);
            QVERIFY(plant(planted, program.file(name), target));
        }
        if (emptying) {
            emptyPassPhraseFiles();
        } else {
            TfrmPasswordDlg dialog(nullptr);
            dialog.setUp(PassPhraseUse::IndyFromKey);
            dialog.show();
            QCOMPARE(confirm(dialog, "cur", "abcd", "abcd"), QStringList());
        }
        for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile}) {
            const QString target = elsewhere.file("target-" + name);
            if (planted == "dangling link")
                QVERIFY(!QFileInfo::exists(target));
            else
                QCOMPARE(fileContent(target), victimData);
            QVERIFY(isOwnerOnlyRegularFile(program.file(name)));
        }
        QCOMPARE(fileContent(program.file(kCurrentPassPhraseFile)),
                 emptying ? QByteArray() : QByteArray("cur"));
        QCOMPARE(fileContent(program.file(kNewPassPhraseFile)),
                 emptying ? QByteArray() : QByteArray("abcd"));
    }

    // Between two runs the new pass phrase replaces the current one; the new file is read only
    // when it is a regular file, and the current one is made afresh.
    void copyingTheNewPassPhraseOverTheCurrentOne_data() {
        QTest::addColumn<QString>("plantedAsCurrent");
        QTest::addColumn<QString>("plantedAsNew");
        QTest::addColumn<QString>("error");
        const QString notRegular = "It is not a regular file";
        addRow("two files", "", "", "");
        addRow("current is a link", "link", "", "");
        addRow("current is a hard link", "hard link", "", "");
        addRow("new is a link", "", "link", notRegular);
        addRow("new is a FIFO", "", "fifo", notRegular);
        addRow("new is missing", "", "missing", "No such file or directory");
    }
    void copyingTheNewPassPhraseOverTheCurrentOne() {
        QFETCH(QString, plantedAsCurrent);
        QFETCH(QString, plantedAsNew);
        QFETCH(QString, error);
        TempProgramFolder program(false);
        TempFolder elsewhere;
        const QString victim = elsewhere.file("victim.txt");
        writeFileContent(victim, "the victim's own data");
        const QString current = program.file(kCurrentPassPhraseFile);
        const QString fresh = program.file(kNewPassPhraseFile);
        if (plantedAsCurrent.isEmpty())
            writeFileContent(current, "old secret");
        else
            QVERIFY(plant(plantedAsCurrent, current, victim));
        if (plantedAsNew.isEmpty())
            writeFileContent(fresh, "new secret");
        else if (plantedAsNew != "missing")
            QVERIFY(plant(plantedAsNew, fresh, victim));

        try {
            copyNewPassPhraseOverCurrent(program.path());
            QVERIFY2(error.isEmpty(), "no error raised");
            QCOMPARE(fileContent(current), QByteArray("new secret"));
            QVERIFY(isOwnerOnlyRegularFile(current));
        } catch (const PageError& raised) {
            QCOMPARE(raised.message(), QString("Cannot read file \"%1\". %2").arg(fresh, error));
            QCOMPARE(fileContent(current), QByteArray("old secret"));
        }
        QCOMPARE(fileContent(victim), QByteArray("the victim's own data"));
    }

    void emptyingCutsBothFiles_data() { addBoolRows("existing", "missing", "with contents"); }
    void emptyingCutsBothFiles() {
        QFETCH(bool, existing);
        TempProgramFolder program(false);
        if (existing)
            writeEarlierContents(program);
        emptyPassPhraseFiles();
        QVERIFY(passPhraseFilesEmpty(program.path()));
        for (const QString& name : {kCurrentPassPhraseFile, kNewPassPhraseFile})
            QCOMPARE(modeOf(program.file(name)), 0600);
    }

    // A file that cannot be emptied is reported, and the other file is emptied all the same.
    void emptyingGoesOnPastAFailure() {
        TempProgramFolder program(false);
        writePassPhraseFiles(program.path(), "current secret", "new secret");
        QVERIFY(QFile::remove(program.file(kCurrentPassPhraseFile)));
        QVERIFY(QDir(program.path()).mkdir(kCurrentPassPhraseFile));
        try {
            emptyPassPhraseFiles();
            QFAIL("no error raised");
        } catch (const PageError& error) {
            QVERIFY(error.message().contains(program.file(kCurrentPassPhraseFile)));
        }
        QCOMPARE(QFileInfo(program.file(kNewPassPhraseFile)).size(), 0);
    }
};

QTEST_MAIN(TestPasswordDialog)
#include "tst_passworddialog.moc"
