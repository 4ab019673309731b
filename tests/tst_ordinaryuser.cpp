#include "CertificateWizardDriver.h"
#include "KeyAndCertificateFixtures.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uGenerateCSRForm.h"
#include "uMainForm.h"
#include "uPassPhraseFolder.h"
#include "uPrepareIISForm.h"
#include "uPrepareIndyIntrawebForm.h"

#include <QProcess>
#include <QRadioButton>
#include <QTextEdit>
#include <QtTest>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// The program installed into a prefix that only root may write, used by an ordinary user:
// the pass-phrase files go into the user's private folder, and the wizards that need pass
// phrases work. Run as root, the test installs the build and runs itself again as "nobody"
// with this variable naming the prefix; that second run drives the real wizards.
namespace {
const char* const kPrefixVariable = "CERTWRIGHT_TEST_INSTALLED_PREFIX";
const char* const kExpectedFolderVariable = "CERTWRIGHT_TEST_EXPECTED_FOLDER";

const QString kRequestSecret = QStringLiteral("request secret");

int modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

QString programFolderIn(const QString& prefix) {
    return prefix + QStringLiteral("/lib/certwright/");
}
} // namespace

// The second run, as the ordinary user.
class TestAsOrdinaryUser : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY2(geteuid() != 0, "this part runs with privileges dropped");
        // What main() does, with the program folder of the installed copy.
        setProgramFolderForTesting(programFolderIn(qEnvironmentVariable(kPrefixVariable)));
        QVERIFY(::access(QFile::encodeName(ProgramFolder()).constData(), W_OK) != 0);
        choosePassPhraseFolder(ProgramFolder(), privatePassPhraseBase());
        QCOMPARE(PassPhraseFolder(), qEnvironmentVariable(kExpectedFolderVariable));
        QCOMPARE(PassPhraseFolderRefusal(), QString());
        QVERIFY(authority.isReady());
    }

    void requestWizard() {
        TfrmGenerateCSR wizard(nullptr);
        wizard.show();
        fillPages(wizard, TypedSubject(), work.path());
        ModalScript script({enterPassPhrases("", kRequestSecret)});
        clickNext(wizard);
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(TCertificateWizard::tsFinished));
        QCOMPARE(keySizeOf(key(), kRequestSecret), QString("1024"));
        int exitCode = -1;
        runOpenSSL({"req", "-in", work.file("www.shop.test.csr"), "-noout", "-verify"}, &exitCode);
        QCOMPARE(exitCode, 0);
        verifyPassPhraseFilesEmptied();
        QVERIFY(authority.sign(key(), kRequestSecret, "www.shop.test", certificate()));
    }

    void iisWizard() {
        TfrmPrepareIIS wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        fillKeyPage(wizard, key(), work.path(), "Shop Server");
        wizard.memPasteCert->setPlainText(pemText(certificate()));
        ModalScript script({enterPassPhrases(kRequestSecret, "pfx secret")});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIIS::tsFinished));
        const QString content = bundleContent(work.file("www.shop.test.pfx"), "pfx secret");
        QVERIFY(content.contains("friendlyName: Shop Server"));
        verifyPassPhraseFilesEmptied();
    }

    // Both routes: from the key (which copies the new pass phrase over the current one between
    // its runs) and from the bundle that the IIS wizard made.
    void indyWizard_data() { addBoolRows("fromBundle", "key and certificate", "bundle"); }
    void indyWizard() {
        QFETCH(bool, fromBundle);
        TempFolder output;
        TfrmPrepareIndyIntraweb wizard(nullptr);
        wizard.show();
        wizard.btnNext->click();
        if (fromBundle) {
            wizard.rbGenIIS->click();
            wizard.btnNext->click();
            wizard.rbPFXyes->click();
            wizard.btnNext->click();
            QTest::keyClicks(wizard.edtPFXFile, work.file("www.shop.test.pfx"));
            QTest::keyClicks(wizard.edtPFXExport, output.path());
        } else {
            wizard.btnNext->click();
            fillKeyPage(wizard, key(), output.path(), "Indy Server");
            wizard.memPasteCert->setPlainText(pemText(certificate()));
        }
        ModalScript script(
            {enterPassPhrases(fromBundle ? "pfx secret" : kRequestSecret, "pem secret")});
        wizard.btnNext->click();
        QCOMPARE(script.seen, QStringList{kPassPhraseTitle});
        QCOMPARE(wizard.currentPage(), int(TfrmPrepareIndyIntraweb::tsFinished));
        QCOMPARE(keyModulus(output.file("key.pem"), "pem secret"),
                 keyModulus(key(), kRequestSecret));
        QCOMPARE(certificateModulus(output.file("cert.pem")), certificateModulus(certificate()));
        verifyPassPhraseFilesEmptied();
    }

    // The program's end: no error box, both files left empty where they were written.
    void closingTheChooser() {
        {
            TfrmCertwright chooser;
            chooser.show();
            ModalScript script({pressButton(QMessageBox::Ok)});
            chooser.close();
            QCOMPARE(script.seen, QStringList());
        }
        QVERIFY(passPhraseFilesEmpty(PassPhraseFolder()));
        endPassPhraseFolder();
    }

  private:
    TempFolder work;
    SigningAuthority authority;

    QString key() const { return work.file("www.shop.test.key"); }
    QString certificate() const { return work.file("www.shop.test.crt"); }

    // The new pass phrase went into the private folder, owner-only, and was emptied at the
    // step's end; nothing is in the program folder.
    void verifyPassPhraseFilesEmptied() {
        const QString file = PassPhraseFolder() + kNewPassPhraseFile;
        QVERIFY(passPhraseFilesEmpty(PassPhraseFolder()));
        QCOMPARE(modeOf(file), 0600);
        QVERIFY(!QFile::exists(ProgramFolder() + kNewPassPhraseFile));
    }
};

namespace {
struct OrdinaryUser {
    uid_t uid = 65534;
    gid_t gid = 65534;
};

OrdinaryUser nobody() {
    OrdinaryUser user;
    if (const passwd* entry = ::getpwnam("nobody")) {
        user.uid = entry->pw_uid;
        user.gid = entry->pw_gid;
    }
    return user;
}

bool makeFolderOf(const QString& path, const OrdinaryUser& user) {
    const QByteArray bytes = QFile::encodeName(path);
    return ::mkdir(bytes.constData(), 0700) == 0 &&
           ::chown(bytes.constData(), user.uid, user.gid) == 0;
}

// The arguments that start a program as the user, with privileges really dropped.
QStringList asUser(const OrdinaryUser& user, const QString& program) {
    return {QStringLiteral("--reuid=%1").arg(user.uid), QStringLiteral("--regid=%1").arg(user.gid),
            QStringLiteral("--clear-groups"), QStringLiteral("--"), program};
}
} // namespace

// The first run, as root: installs, prepares the user's folders and runs the second.
class TestOrdinaryUser : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (geteuid() != 0)
            QSKIP("dropping privileges to another user needs root");
        QVERIFY(root.isValid());
        QVERIFY(QFile::setPermissions(root.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ReadOther |
                                                       QFile::ExeOther));
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(testPath("CMAKE_COMMAND_PATH"),
                      {"--install", testPath("CERTWRIGHT_BUILD_DIR"), "--prefix", prefix()});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAll().constData());
        // Readable by all, whatever the umask under which the test runs.
        QCOMPARE(QProcess::execute("chmod", {"-R", "a+rX", prefix()}), 0);
        QVERIFY(QFileInfo(programFolderIn(prefix()) + "openssl").isExecutable());
        // Only root may write the installed program folder.
        QVERIFY(QFileInfo(programFolderIn(prefix())).ownerId() == 0);
        // The user cannot reach the build folder: the test program runs from a copy.
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), testCopy()));
        QVERIFY(QFile::setPermissions(testCopy(), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner | QFile::ReadOther |
                                                      QFile::ExeOther));
    }

    // With a runtime folder, and without one, when the cache folder takes its place.
    void wizardsWorkForAnOrdinaryUser_data() {
        addBoolRows("withRuntimeFolder", "cache folder", "runtime folder");
    }
    void wizardsWorkForAnOrdinaryUser() {
        QFETCH(bool, withRuntimeFolder);
        const OrdinaryUser user = nobody();
        const QString home = root.filePath(QStringLiteral("home-%1").arg(withRuntimeFolder));
        const QString runtime = home + "-runtime";
        const QString temporary = home + "-tmp";
        QVERIFY(makeFolderOf(home, user) && makeFolderOf(runtime, user) &&
                makeFolderOf(temporary, user));
        const QString expected = (withRuntimeFolder ? runtime : home + "/.cache") + "/certwright/";

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        // Everything the user's runs leave in the temporary folder goes with this test's.
        environment.insert("TMPDIR", temporary);
        environment.remove("XDG_CACHE_HOME");
        environment.remove("XDG_CONFIG_HOME");
        environment.remove("XDG_RUNTIME_DIR");
        if (withRuntimeFolder)
            environment.insert("XDG_RUNTIME_DIR", runtime);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert(kPrefixVariable, prefix());
        environment.insert(kExpectedFolderVariable, expected);

        QProcess second;
        second.setProcessChannelMode(QProcess::MergedChannels);
        second.setProcessEnvironment(environment);
        second.setWorkingDirectory(home);
        second.start("setpriv", asUser(user, testCopy()));
        QVERIFY(second.waitForFinished(300000));
        const QByteArray output = second.readAll();
        QVERIFY2(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0,
                 output.constData());

        const QFileInfo folder(expected);
        QVERIFY(folder.isDir() && !folder.isSymLink());
        QCOMPARE(folder.ownerId(), user.uid);
        QCOMPARE(modeOf(expected), 0700);
        QVERIFY(passPhraseFilesEmpty(expected));
        QVERIFY(!QFile::exists(programFolderIn(prefix()) + kNewPassPhraseFile));
        QVERIFY(!QFile::exists(programFolderIn(prefix()) + kCurrentPassPhraseFile));

        // The installed program itself, started by its launcher and asked to end, empties the
        // files of the private folder on its way out.
        writePassPhraseFiles(expected, "current secret", "new secret");
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(home);
        program.start("setpriv", asUser(user, prefix() + "/bin/certwright"));
        QVERIFY(program.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(catchesTerminationSignals(program.processId()), 10000);
        QVERIFY(::kill(pid_t(program.processId()), SIGTERM) == 0);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(passPhraseFilesEmpty(expected));
        QVERIFY(!QFile::exists(programFolderIn(prefix()) + kNewPassPhraseFile));
    }

  private:
    QTemporaryDir root;
    QString prefix() const { return root.filePath(QStringLiteral("prefix")); }
    QString testCopy() const { return root.filePath(QStringLiteral("tst_ordinaryuser")); }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (qEnvironmentVariableIsSet(kPrefixVariable)) {
        TestAsOrdinaryUser second;
        return QTest::qExec(&second, argc, argv);
    }
    TestOrdinaryUser first;
    return QTest::qExec(&first, argc, argv);
}

#include "tst_ordinaryuser.moc"
