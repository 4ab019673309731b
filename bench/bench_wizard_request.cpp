// Generating a 2048-bit key and request through the certificate request wizard, driven
// offscreen, against the same two openssl commands spawned directly. Runs alternate between
// the two ways so that both see the same machine load.
//
// The time of a 2048-bit key varies widely from run to run (the search for primes), which
// blurs the ratio; the same comparison at 512 bits, where the key costs little and varies
// little, shows what the wizard adds in milliseconds. Each way's own time, its wall time less
// the user and system time of the tool runs it waited for, leaves the search for primes out
// and stays the same at both key sizes.
//
// The request command of the built program is compared in the same way with the two openssl
// commands that it runs. It offers no 512-bit key; its cheap case is an elliptic-curve key
// (P-256), where the start-up of the program itself is most of the difference.
//
// Prints the minimum, median and maximum of each.
//
//   bench_wizard_request [runs] [certwright]   (default 61 runs of each, at each key size;
//                                               the program: the argument, else
//                                               CERTWRIGHT_EXECUTABLE, else ../certwright
//                                               beside this benchmark's folder)

#include "BenchSupport.h"
#include "TestSupport.h"
#include "uCertwrightCommon.h"
#include "uExternalApp.h"
#include "uGenerateCSRForm.h"
#include "uOpenSSLCommands.h"
#include "uPassPhraseFiles.h"
#include "uPasswordForm.h"
#include "uRequestConfig.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

const QString kPassPhrase = QStringLiteral("bench pass phrase");
// The command reads the new pass phrase from this variable of its environment.
const char kPassPhraseVariable[] = "CERTWRIGHT_BENCH_PASS_PHRASE";
const char kMissingProgramMessage[] =
    "no certwright program at \"%s\": give its path as the second argument or in "
    "CERTWRIGHT_EXECUTABLE, or build the target certwright\n";
const RequestConfigValues kSubject{
    "2048", "US", "New York", "Springfield", "Acme Widgets", "www.shop.test", "admin@shop.test"};

// Answers the pass-phrase dialog as soon as it shows, without a polling delay.
class PassPhraseResponder : public QObject {
  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = qobject_cast<TfrmPasswordDlg*>(watched);
        if (dialog && event->type() == QEvent::Show) {
            QMetaObject::invokeMethod(
                dialog,
                [dialog] {
                    dialog->edtNewPassword->setText(kPassPhrase);
                    dialog->edtVerifyNewPassword->setText(kPassPhrase);
                    dialog->btnOk->click();
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

// The wall time of one way and the CPU time of the tool runs within it, in milliseconds.
struct Timing {
    double wallMs = 0;
    double toolCpuMs = 0;
};

Timing throughWizard(const QString& folder, const QString& bits) {
    TfrmGenerateCSR wizard(nullptr);
    wizard.show();
    wizard.btnNext->click();
    (bits == "2048" ? wizard.rb2048 : wizard.rb512)->setChecked(true);
    wizard.edtEmail->setText(kSubject.email);
    wizard.btnNext->click();
    wizard.edtState->setText(kSubject.state);
    wizard.edtCity->setText(kSubject.city);
    wizard.btnNext->click();
    wizard.edtDomainName->setText(kSubject.domain);
    wizard.edtLegalName->setText(kSubject.legalName);
    wizard.edtExportPath->setText(folder);
    const double toolCpuBefore = childrenCpuMs();
    QElapsedTimer timer;
    timer.start();
    wizard.btnNext->click();
    const Timing timing{double(timer.nsecsElapsed()) / 1e6, childrenCpuMs() - toolCpuBefore};
    if (wizard.currentPage() != 4 || !outputIsNonEmpty(folder + "www.shop.test.csr")) {
        std::fprintf(stderr, "the wizard did not generate the request\n");
        std::exit(1);
    }
    return timing;
}

// Runs the program with the arguments and waits for it; its exit status, or -1 when it could
// not start or did not exit. Standard error stays open when asked, so that a failure can say
// why.
int spawnAndWait(const QByteArray& program, const QStringList& arguments, bool keepErrors) {
    std::vector<QByteArray> words = {program};
    for (const QString& word : arguments)
        words.push_back(word.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!keepErrors)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    int status = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0 ||
        waitpid(child, &status, 0) != child || !WIFEXITED(status))
        status = -1;
    else
        status = WEXITSTATUS(status);
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

void spawnTool(const QStringList& arguments) {
    spawnAndWait(QByteArrayLiteral(OPENSSL_TOOL), arguments, false);
}

// What the wizard asks of the system, without the wizard: the pass-phrase file, the
// configuration file, the two runs and the removal of the configuration file. The key size is
// a number of RSA bits or an elliptic curve.
Timing direct(const QString& folder, const QString& keySize) {
    const QString prog = ProgramFolder();
    const double toolCpuBefore = childrenCpuMs();
    QElapsedTimer timer;
    timer.start();
    writePassPhrases(prog, {QString(), kPassPhrase});
    RequestConfigValues subject = kSubject;
    subject.keySize = keySize;
    RequestConfig::write(folder, subject);
    spawnTool(OpenSSLCommands::isEllipticCurve(keySize)
                  ? OpenSSLCommands::makeEncryptedEcKey(prog, folder, "www.shop.test", keySize)
                  : OpenSSLCommands::makeEncryptedKey(prog, folder, "www.shop.test", keySize));
    spawnTool(OpenSSLCommands::makeRequest(prog, folder, "www.shop.test"));
    QFile::remove(folder + RequestConfig::kFileName);
    const Timing timing{double(timer.nsecsElapsed()) / 1e6, childrenCpuMs() - toolCpuBefore};
    if (!outputIsNonEmpty(folder + "www.shop.test.csr")) {
        std::fprintf(stderr, "the direct commands did not generate the request\n");
        std::exit(1);
    }
    return timing;
}

// The request command of the program, started and waited for as a script would.
Timing throughCommand(const QString& program, const QString& folder, const QString& keyType) {
    const QStringList arguments = {QStringLiteral("request"),
                                   QStringLiteral("--domain"),
                                   kSubject.domain,
                                   QStringLiteral("--country"),
                                   kSubject.countryCode,
                                   QStringLiteral("--state"),
                                   kSubject.state,
                                   QStringLiteral("--city"),
                                   kSubject.city,
                                   QStringLiteral("--org"),
                                   kSubject.legalName,
                                   QStringLiteral("--email"),
                                   kSubject.email,
                                   QStringLiteral("--key-type"),
                                   keyType,
                                   QStringLiteral("--out"),
                                   folder,
                                   QStringLiteral("--passout"),
                                   QStringLiteral("env:") + QLatin1String(kPassPhraseVariable),
                                   QStringLiteral("--force")};
    const double toolCpuBefore = childrenCpuMs();
    QElapsedTimer timer;
    timer.start();
    const int status = spawnAndWait(QFile::encodeName(program), arguments, true);
    const Timing timing{double(timer.nsecsElapsed()) / 1e6, childrenCpuMs() - toolCpuBefore};
    if (status != 0 || !outputIsNonEmpty(folder + "www.shop.test.csr")) {
        std::fprintf(stderr, "the request command did not generate the request (exit status %d)\n",
                     status);
        std::exit(1);
    }
    return timing;
}

// The path of the program whose request command is measured; ends the benchmark when there is
// none.
QString certwrightProgram(int argc, char** argv) {
    QString program =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : qEnvironmentVariable("CERTWRIGHT_EXECUTABLE");
    if (program.isEmpty())
        program = QCoreApplication::applicationDirPath() + QStringLiteral("/../certwright");
    const QFileInfo info(program);
    if (!info.isFile() || !info.isExecutable()) {
        std::fprintf(stderr, kMissingProgramMessage, qPrintable(program));
        std::exit(2);
    }
    return info.absoluteFilePath();
}

// The timings of one way at one key size.
struct Timings {
    std::vector<double> wallMs;
    std::vector<double> ownMs;
    void add(const Timing& timing) {
        wallMs.push_back(timing.wallMs);
        ownMs.push_back(timing.wallMs - timing.toolCpuMs);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 61;
    const QString program = certwrightProgram(argc, argv);
    qputenv(kPassPhraseVariable, kPassPhrase.toLocal8Bit());
    PassPhraseResponder responder;
    application.installEventFilter(&responder);
    TempProgramFolder programFolder;
    TempFolder out;

    for (const QString& bits : {QStringLiteral("2048"), QStringLiteral("512")}) {
        Timings wizardTimes;
        Timings directTimes;
        for (int run = 0; run < runs; ++run) {
            const QString wizardFolder =
                out.file(QStringLiteral("wizard%1-%2/").arg(bits).arg(run));
            const QString directFolder =
                out.file(QStringLiteral("direct%1-%2/").arg(bits).arg(run));
            QDir().mkpath(wizardFolder);
            QDir().mkpath(directFolder);
            if (run % 2) {
                directTimes.add(direct(directFolder, bits));
                wizardTimes.add(throughWizard(wizardFolder, bits));
            } else {
                wizardTimes.add(throughWizard(wizardFolder, bits));
                directTimes.add(direct(directFolder, bits));
            }
        }
        const Spread wizardWall = spreadOf(wizardTimes.wallMs);
        const Spread directWall = spreadOf(directTimes.wallMs);
        const Spread wizardOwn = spreadOf(wizardTimes.ownMs);
        const Spread directOwn = spreadOf(directTimes.ownMs);
        std::printf("%s-bit key and request, %d runs each\n", qPrintable(bits), runs);
        printSpread("through the wizard:", wizardWall, 1);
        printSpread("direct commands:", directWall, 1);
        std::printf("  difference of the medians:         %+.1f ms\n",
                    wizardWall.median - directWall.median);
        std::printf("  ratio of the medians:              %.3f\n",
                    wizardWall.median / directWall.median);
        std::printf("  less the tool's CPU time:\n");
        printSpread("through the wizard:", wizardOwn, 1);
        printSpread("direct commands:", directOwn, 1);
        std::printf("  difference of the medians:         %+.1f ms\n",
                    wizardOwn.median - directOwn.median);
    }

    // The command's own process is among the children whose CPU time is counted, so only the
    // wall times compare fairly here.
    const struct {
        QString keyType;
        QString keySize;
        const char* note;
    } commandCases[] = {
        {QStringLiteral("rsa2048"), QStringLiteral("2048"), "the goal is a ratio of at most 1.05"},
        {QStringLiteral("ec256"), OpenSSLCommands::kCurveP256,
         "a cheap key: the program's start-up is most of the difference, so the ratio is "
         "higher"}};
    for (const auto& commandCase : commandCases) {
        std::vector<double> commandWall;
        std::vector<double> directWall;
        for (int run = 0; run < runs; ++run) {
            const QString commandFolder =
                out.file(QStringLiteral("command-%1-%2/").arg(commandCase.keyType).arg(run));
            const QString directFolder =
                out.file(QStringLiteral("command-direct-%1-%2/").arg(commandCase.keyType).arg(run));
            QDir().mkpath(commandFolder);
            QDir().mkpath(directFolder);
            if (run % 2) {
                directWall.push_back(direct(directFolder, commandCase.keySize).wallMs);
                commandWall.push_back(
                    throughCommand(program, commandFolder, commandCase.keyType).wallMs);
            } else {
                commandWall.push_back(
                    throughCommand(program, commandFolder, commandCase.keyType).wallMs);
                directWall.push_back(direct(directFolder, commandCase.keySize).wallMs);
            }
        }
        const Spread command = spreadOf(commandWall);
        const Spread bare = spreadOf(directWall);
        std::printf("request command, --key-type %s, %d runs each\n",
                    qPrintable(commandCase.keyType), runs);
        printSpread("certwright request:", command, 1);
        printSpread("direct commands:", bare, 1);
        std::printf("  difference of the medians:         %+.1f ms\n",
                    command.median - bare.median);
        std::printf("  ratio of the medians:              %.3f (%s)\n",
                    command.median / bare.median, commandCase.note);
        // Load from other programs lengthens both medians alike and so lowers their ratio; the
        // fastest runs of each show the program's own start-up as a quiet machine sees it.
        std::printf("  ratio of the minimums:             %.3f\n", command.minimum / bare.minimum);
    }
    return 0;
}
