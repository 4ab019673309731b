// What another local user who can write to the export folder could do to a step: the shared
// folders are refused before anything is asked or written, and the program's own files are
// never written through what was planted under their names.

#include "CertificateWizardDriver.h"
#include "KeyAndCertificateFixtures.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uExportFolder.h"
#include "uGenerateCSRForm.h"
#include "uPrepareIISForm.h"
#include "uPrepareIndyIntrawebForm.h"

#include <QApplication>
#include <QProcess>
#include <QRadioButton>
#include <QTextEdit>

#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPassPhrase = QStringLiteral("hostile secret");
// The switch by which the test program, started as the scratch user, only judges a folder.
const char* const kJudgeSwitch = "--judge-folder";

enum class Step { Request, PrepareIIS, ExtractFromPfx, ConvertForIndy };

int run(const QString& program, const QStringList& arguments) {
    return QProcess::execute(program, arguments);
}

// A scratch user with a private group of its own, and a second group that it shares, made for
// one test and removed with the object; ready is false when they could not be made.
class ScratchAccount {
  public:
    ScratchAccount() {
        const QString suffix = QString::number(::getpid());
        userName = "cwhostile" + suffix;
        sharedGroupName = "cwshared" + suffix;
        madeUser = run("/usr/sbin/useradd", {"--no-create-home", "--user-group", "--shell",
                                             "/usr/sbin/nologin", userName}) == 0;
        madeGroup = run("/usr/sbin/groupadd", {sharedGroupName}) == 0;
        const passwd* account = ::getpwnam(qPrintable(userName));
        const group* shared = ::getgrnam(qPrintable(sharedGroupName));
        if (!madeUser || !madeGroup || !account || !shared ||
            run("/usr/sbin/usermod", {"--append", "--groups", sharedGroupName, userName}) != 0)
            return;
        user = account->pw_uid;
        ownGroup = account->pw_gid;
        sharedGroup = shared->gr_gid;
        ready = true;
    }
    ~ScratchAccount() {
        if (madeUser)
            run("/usr/sbin/userdel", {userName});
        if (madeGroup)
            run("/usr/sbin/groupdel", {sharedGroupName});
    }
    // The arguments of setpriv that run the command as the scratch user.
    QStringList asUser(const QStringList& command) const {
        return QStringList{"--reuid=" + QString::number(user),
                           "--regid=" + QString::number(ownGroup), "--init-groups"} +
               command;
    }
    ScratchAccount(const ScratchAccount&) = delete;
    ScratchAccount& operator=(const ScratchAccount&) = delete;

    bool ready = false;
    uid_t user = 0;
    gid_t ownGroup = 0;
    gid_t sharedGroup = 0;

  private:
    QString userName;
    QString sharedGroupName;
    bool madeUser = false;
    bool madeGroup = false;
};

void makeFolder(const QString& path, mode_t mode, uid_t owner = 0, gid_t group = 0) {
    QVERIFY(QDir().mkpath(path));
    QCOMPARE(::chown(QFile::encodeName(path).constData(), owner, group), 0);
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

// The step's first question or message, after it has been started on the folder, and the
// explanation below it; the step's dialogs are all closed unanswered after the first.
QStringList startStep(Step step, const QString& folder, const QString& inputs) {
    MessageBoxTexts texts;
    ModalScript script({noteTextsAndPressOk(&texts)});
    switch (step) {
    case Step::Request: {
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        TypedSubject subject;
        subject.domain = QStringLiteral("hostile.shop.test");
        fillPages(wizard, subject, folder);
        clickNext(wizard);
        break;
    }
    case Step::PrepareIIS:
    case Step::ConvertForIndy: {
        std::unique_ptr<TKeyAndCertificateWizard> wizard;
        if (step == Step::PrepareIIS) {
            wizard = std::make_unique<TfrmPrepareIIS>(nullptr);
            wizard->show();
            wizard->btnNext->click();
        } else {
            auto indy = std::make_unique<TfrmPrepareIndyIntraweb>(nullptr);
            indy->show();
            indy->btnNext->click();
            indy->btnNext->click();
            wizard = std::move(indy);
        }
        fillKeyPage(*wizard, inputs + "hostile.key", folder, "Shop");
        break;
    }
    case Step::ExtractFromPfx: {
        TfrmPrepareIndyIntraweb wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        wizard.rbGenIIS->setChecked(true);
        wizard.btnNext->click();
        wizard.rbPFXyes->setChecked(true);
        wizard.btnNext->click();
        wizard.edtPFXFile->setText(inputs + "hostile.pfx");
        wizard.edtPFXExport->setText(folder);
        wizard.btnNext->click();
        break;
    }
    }
    return script.seen << texts.informative;
}

// The names in a folder that the steps of this test write.
QStringList writtenNamesIn(const QString& folder) {
    return QDir(folder).entryList(
        {"__config.tmp", "__cert.txt", "__tmp.p12", "hostile*", "key.pem", "cert.pem"},
        QDir::AllEntries | QDir::Hidden | QDir::System);
}

// A tool that notes the mode and type of the program's own temporary files in the program
// folder's "modes.log" whenever a run is given one of them, and then lets the real tool do the
// work.
void installNotingTool(const TempProgramFolder& program, const QString& exportFolder) {
    const QString script = program.file("openssl");
    QFile::remove(script);
    writeFileContent(script, ("#!/bin/sh\n"
                              "for f in '" +
                              exportFolder.toUtf8() + "__config.tmp' '" + exportFolder.toUtf8() +
                              "__cert.txt'; do\n"
                              "  case \"$*\" in *\"$f\"*) stat -c '%n %a %F' \"$f\" >> '" +
                              program.file("modes.log").toUtf8() +
                              "';; esac\n"
                              "done\n"
                              "case \"$1\" in -new) c=req;; -des3|-out) c=genrsa;; *) c=pkcs12;; "
                              "esac\n"
                              "exec " OPENSSL_TOOL " $c \"$@\"\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestHostileFolder : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(authority.isReady());
        if (::geteuid() != 0)
            QSKIP("the hostile-folder cases need root to make a scratch user");
    }

    // Every step refuses a folder that others can change, or that is missing or no folder, on
    // the page where it is typed, before its first question or file.
    void sharedFolderIsRefusedFirst_data() {
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("kind");
        const std::pair<Step, const char*> steps[] = {{Step::Request, "request"},
                                                      {Step::PrepareIIS, "IIS"},
                                                      {Step::ExtractFromPfx, "Indy from pfx"},
                                                      {Step::ConvertForIndy, "Indy from key"}};
        for (const auto& [step, stepName] : steps)
            for (const char* kind :
                 {"tmp", "other user's", "shared group", "sticky", "under a shared folder",
                  "missing", "missing in a shared folder", "hostile.key"})
                QTest::addRow("%s, %s", stepName, kind) << step << QString(kind);
    }
    void sharedFolderIsRefusedFirst() {
        QFETCH(Step, step);
        QFETCH(QString, kind);
        TempProgramFolder program;
        TempFolder base;
        writeFileContent(base.file("hostile.key"), "key");
        writeFileContent(base.file("hostile.pfx"), "pfx");
        QString folder = base.file(kind + "/");
        std::unique_ptr<ScratchAccount> scratch;
        if (kind == "other user's" || kind == "shared group") {
            scratch = std::make_unique<ScratchAccount>();
            QVERIFY(scratch->ready);
        }
        if (kind == "tmp")
            folder = "/tmp/";
        else if (kind == "other user's")
            makeFolder(folder, 0755, scratch->user, scratch->ownGroup);
        else if (kind == "shared group")
            makeFolder(folder, 0775, 0, scratch->sharedGroup);
        else if (kind == "sticky")
            makeFolder(folder, 01777);
        else if (kind == "under a shared folder") {
            makeFolder(base.file("shared"), 0777);
            folder = base.file("shared/mine/");
            makeFolder(folder, 0700);
        } else if (kind == "hostile.key") {
            folder = base.file(kind);
        } else if (kind == "missing in a shared folder") {
            makeFolder(base.file("sticky"), 01777);
            folder = base.file("sticky/missing/");
        }
        const QStringList before = writtenNamesIn(folder);
        const QStringList shown = startStep(step, folder, base.path());
        QCOMPARE(shown.size(), 2);
        const QString& message = kind.startsWith("missing") ? kMissingExportFolderMessage
                                 : kind == "hostile.key"    ? kNotAFolderMessage
                                                            : kSharedExportFolderMessage;
        const QString expected = message.left(message.indexOf(':')).arg(folder);
        // The preparation wizards show their page's own message, the folder's reason below it.
        const bool pageMessage = step != Step::Request;
        QVERIFY2(shown[pageMessage ? 1 : 0].startsWith(expected), qPrintable(shown.join('\n')));
        QCOMPARE(shown[0].startsWith("Please make sure that both"), pageMessage);
        QCOMPARE(writtenNamesIn(folder), before);
        QVERIFY(!QFile::exists(program.file("passnew.txt")));
    }

    // A folder that only the user and root can change is accepted; run as an ordinary user
    // (the scratch user), since root's folders are its own. The extra is an ACL entry of the
    // folder or its parent, a twin of the user's group (same ID), or a depth beyond PATH_MAX.
    void ordinaryUsersFolders_data() {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("extra");
        addRow("own", "user", "own", 0700, true, "");
        addRow("own, private group may write", "user", "own", 0770, true, "");
        addRow("own, shared group may write", "user", "shared", 0770, false, "");
        addRow("own, all may write", "user", "own", 0707, false, "");
        addRow("root's", "root", "root", 0755, true, "");
        addRow("root's, sticky for all", "root", "root", 01777, false, "");
        addRow("nobody's", "nobody", "own", 0755, false, "");
        addRow("ACL: nobody may write", "user", "own", 0700, false, "u:nobody:rwx");
        addRow("ACL: nobody may write, mask forbids", "user", "own", 0700, true,
               "u:nobody:rwx,m::rx");
        addRow("ACL: shared group may write", "user", "own", 0700, false, "g:SHARED:rwx");
        addRow("ACL: nobody may write the parent", "user", "own", 0700, false,
               "parent u:nobody:rwx");
        addRow("private group with a twin", "user", "own", 0770, false, "twin");
        addRow("deeper than PATH_MAX", "user", "own", 0700, false, "deep");
    }
    void ordinaryUsersFolders() {
        QFETCH(QString, owner);
        QFETCH(QString, group);
        QFETCH(int, mode);
        QFETCH(bool, accepted);
        QFETCH(QString, extra);
        const ScratchAccount scratch;
        QVERIFY(scratch.ready);
        TempFolder base;
        const QString twin = "cwtwin" + QString::number(::getpid());
        // Also a folder deeper than PATH_MAX, which Qt cannot remove.
        const auto removeAll = qScopeGuard([&] {
            run("rm", {"-rf", base.path()});
            if (extra == "twin")
                run("/usr/sbin/groupdel", {"-f", twin});
        });
        // The scratch user may pass through the test's folder, but not write to it.
        QCOMPARE(::chmod(QFile::encodeName(base.path()).constData(), 0711), 0);
        const uid_t ownerId = owner == "user"   ? scratch.user
                              : owner == "root" ? 0
                                                : ::getpwnam("nobody")->pw_uid;
        const gid_t groupId = group == "own"      ? scratch.ownGroup
                              : group == "shared" ? scratch.sharedGroup
                                                  : 0;
        QString folder = base.file("export/");
        makeFolder(folder, mode_t(mode), ownerId, groupId);
        const QString acl = QString(extra).replace("SHARED", QString::number(scratch.sharedGroup));
        // The parent's group is the user's private one, whose write bit the mask then sets.
        if (acl.startsWith("parent"))
            QCOMPARE(::chown(QFile::encodeName(base.path()).constData(), 0, scratch.ownGroup), 0);
        if (acl.contains(':'))
            QCOMPARE(run("setfacl", {"-m", acl.section(' ', -1),
                                     acl.startsWith("parent") ? base.path() : folder}),
                     0);
        if (extra == "twin")
            QCOMPARE(run("/usr/sbin/groupadd", {"-o", "-g", QString::number(groupId), twin}), 0);
        // mkdir makes the folders one by one from the one above, so no path is too long for it.
        const QString deep = QString(QString(200, 'd') + '/').repeated(extra == "deep" ? 25 : 0);
        QCOMPARE(run("mkdir", {"-p", folder + deep}), 0);
        folder += deep;
        QProcess judge;
        judge.start("setpriv", scratch.asUser({QCoreApplication::applicationFilePath(),
                                               kJudgeSwitch, folder}));
        QVERIFY(judge.waitForFinished(30000));
        const QString said = QString::fromLocal8Bit(judge.readAll());
        QCOMPARE(judge.exitStatus(), QProcess::NormalExit);
        QVERIFY2(judge.exitCode() == (accepted ? 0 : 1), qPrintable(said));
        if (!accepted)
            QVERIFY2(said.contains(folder), qPrintable(said));
    }

    // A link in the typed folder is followed once: the step writes into the folder that it led
    // to then, wherever another user points it later, and the finished page names that folder.
    // A folder put in place of the checked one stops the step before its next run.
    void folderChangedDuringStep_data() {
        addBoolRows("replaced", "link repointed", "folder replaced");
    }
    void folderChangedDuringStep() {
        QFETCH(bool, replaced);
        const ScratchAccount scratch;
        QVERIFY(scratch.ready);
        TempProgramFolder program;
        TempFolder base;
        QCOMPARE(::chmod(QFile::encodeName(base.path()).constData(), 0711), 0);
        const QString mine = base.file("mine/");
        const QString theirs = base.file("theirs/");
        const QString link = base.file("drop/certs");
        makeFolder(base.file("drop"), 01777);
        makeFolder(mine, 0700);
        makeFolder(theirs, 0777, scratch.user, scratch.ownGroup);
        QCOMPARE(run("setpriv", scratch.asUser({"ln", "-s", mine, link})), 0);
        const ModalScript::Action passPhrases = enterPassPhrases("", kPassPhrase);
        ModalScript script(
            {[&](QWidget* dialog) {
                 if (!replaced)
                     QCOMPARE(run("setpriv", scratch.asUser({"ln", "-sfn", theirs, link})), 0);
                 else if (QDir(base.path()).rename("mine", "moved"))
                     makeFolder(mine, 0700);
                 passPhrases(dialog);
             },
             pressButton(QMessageBox::Ok)});
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        fillPages(wizard, TypedSubject(), link);
        clickNext(wizard);
        QVERIFY(QDir(theirs).isEmpty());
        if (replaced) {
            QCOMPARE(script.seen,
                     (QStringList{kPassPhraseTitle, kReplacedExportFolderMessage.arg(mine)}));
            QVERIFY(QDir(mine).isEmpty());
            return;
        }
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        const QString listed = wizard.findChild<QLabel*>("lblMadeFiles")->text();
        for (const char* name : {"www.shop.test.key", "www.shop.test.csr"})
            QVERIFY2(outputIsNonEmpty(mine + name) && listed.contains(mine + name),
                     qPrintable(listed));
    }

    // What stands under the name of a file that the program writes is never written through,
    // and nothing planted there makes a step wait for good; the program's own files are the
    // user's alone while they exist.
    void plantedItemsAreNotFollowed_data() {
        QTest::addColumn<Step>("step");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("planted");
        for (const char* planted : {"link", "fifo", "open file"}) {
            QTest::addRow("__config.tmp as %s", planted)
                << Step::Request << "__config.tmp" << QString(planted);
            QTest::addRow("__cert.txt as %s", planted)
                << Step::PrepareIIS << "__cert.txt" << QString(planted);
        }
        QTest::addRow("key output as fifo") << Step::Request << "hostile.shop.test.key"
                                            << "fifo";
        QTest::addRow("pfx output as fifo") << Step::PrepareIIS << "hostile.pfx"
                                            << "fifo";
    }
    void plantedItemsAreNotFollowed() {
        QFETCH(Step, step);
        QFETCH(QString, name);
        QFETCH(QString, planted);
        TempProgramFolder program;
        TempFolder inputs;
        TempFolder out;
        installNotingTool(program, out.path());
        const QString victim = inputs.file("victim.txt");
        writeFileContent(victim, "the victim's own file");
        const QString item = out.file(name);
        if (planted == "link")
            QVERIFY(QFile::link(victim, item));
        else if (planted == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(item).constData(), 0666), 0);
        else {
            writeFileContent(item, "another user's file");
            QVERIFY(QFile::setPermissions(item, QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ReadOther | QFile::WriteOther));
        }
        QStringList shown;
        if (step == Step::Request) {
            TfrmGenerateCSR wizard(nullptr);
            wizard.show();
            TypedSubject subject;
            subject.domain = "hostile.shop.test";
            fillPages(wizard, subject, out.path());
            ModalScript script({enterPassPhrases("", kPassPhrase), pressButton(QMessageBox::Yes)});
            clickNext(wizard);
            shown = script.seen;
            QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsFinished));
            QVERIFY(QFileInfo(out.file("hostile.shop.test.csr")).size() > 0);
        } else {
            const QString key = inputs.file("hostile.key");
            QVERIFY(makeKey(key, kPassPhrase));
            QVERIFY(
                authority.sign(key, kPassPhrase, "www.example.org", inputs.file("hostile.cer")));
            TfrmPrepareIIS wizard(nullptr);
            wizard.show();
            wizard.btnNext->click();
            fillKeyPage(wizard, key, out.path(), "Shop");
            QCOMPARE(wizard.memPasteCert->toPlainText(), pemText(inputs.file("hostile.cer")));
            ModalScript script(
                {enterPassPhrases(kPassPhrase, kPassPhrase), pressButton(QMessageBox::Yes)});
            wizard.btnNext->click();
            shown = script.seen;
            QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));
            QVERIFY(!bundleContent(out.file("hostile.pfx"), kPassPhrase).isEmpty());
        }
        // Only the pass-phrase dialog: a FIFO is no file to be asked about.
        QCOMPARE(shown, QStringList{kPassPhraseTitle});
        QCOMPARE(fileContent(victim), QByteArray("the victim's own file"));
        const QString temporary = step == Step::Request ? "__config.tmp" : "__cert.txt";
        const QString modes = QString::fromUtf8(fileContent(program.file("modes.log")));
        QVERIFY2(modes.startsWith(out.file(temporary) + " 600 regular file\n"), qPrintable(modes));
        for (const QString& line : modes.split('\n', Qt::SkipEmptyParts))
            QVERIFY2(line.endsWith(" 600 regular file"), qPrintable(modes));
        QVERIFY(!QFileInfo::exists(out.file(temporary)));
    }

    // A certificate file beside the key that is a FIFO, or too large to be a certificate,
    // leaves the paste page usable at once.
    void hostileSiblingCertificate_data() {
        QTest::addColumn<QString>("sibling");
        QTest::addColumn<bool>("reported");
        QTest::newRow("fifo") << "fifo" << false;
        QTest::newRow("2 MiB") << "large" << true;
    }
    void hostileSiblingCertificate() {
        QFETCH(QString, sibling);
        QFETCH(bool, reported);
        TempProgramFolder program;
        TempFolder work;
        writeFileContent(work.file("site.key"), "key");
        const QString cer = work.file("site.cer");
        if (sibling == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(cer).constData(), 0666), 0);
        else
            writeFileContent(cer, "-----BEGIN CERTIFICATE-----\n" +
                                      (QByteArray(63, 'A') + '\n').repeated(2 << 14));
        TfrmPrepareIIS wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        ModalScript script({pressButton(QMessageBox::Ok)});
        fillKeyPage(wizard, work.file("site.key"), work.path(), "Shop");
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsPasteCert));
        QVERIFY(wizard.memPasteCert->toPlainText().isEmpty());
        if (reported)
            QCOMPARE(script.seen, QStringList{withFullStop(
                                      TKeyAndCertificateWizard::kSiblingTooLargeMessage.arg(cer))});
        else
            QCOMPARE(script.seen, QStringList());
    }

  private:
    SigningAuthority authority;
};

// Started as the scratch user with kJudgeSwitch and a folder, the program judges the folder
// only: exit code 0 when it is accepted, 1 with the page error on its output when not.
int main(int argc, char** argv) {
    if (argc == 3 && QByteArray(argv[1]) == kJudgeSwitch) {
        try {
            requirePrivateExportFolder(QString::fromLocal8Bit(argv[2]), QDir::currentPath());
            return 0;
        } catch (const PageError& error) {
            std::fputs(qPrintable(error.message()), stdout);
            return 1;
        }
    }
    QApplication application(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    TestHostileFolder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostilefolder.moc"
