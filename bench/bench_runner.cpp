// How much a tool run through the runner costs on top of starting the tool directly.
//
// Runs `openssl version` many times, alternating between a tool run as the wizards make it
// (a fresh TExternalApp, StartProcess and WaitForProcess on the GUI thread of a QApplication)
// and posix_spawn + waitpid of the same program with its output sent to /dev/null, and prints
// the minimum, median and maximum of each and the difference of the medians in milliseconds.
// Then the same again with every processor kept busy (by `stress-ng --cpu N` where it is
// installed, else by busy threads of this program), where each hand-over between threads or
// processes costs a wait for a time slice; printed with the ratio of the medians.
//
// Usage: bench_runner [runs]   (default 200)

#include "BenchSupport.h"
#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

double directRunMs() {
    char program[] = OPENSSL_TOOL;
    char command[] = "openssl";
    char argument[] = "version";
    char* argv[] = {command, argument, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) == 0)
        waitpid(pid, nullptr, 0);
    const double elapsed = double(timer.nsecsElapsed()) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return elapsed;
}

double runnerRunMs() {
    QElapsedTimer timer;
    timer.start();
    OpenSSLCommands::runOpenSSLTool({QStringLiteral("version")}, desktopToolContext(), false);
    return double(timer.nsecsElapsed()) / 1e6;
}

// Alternates the two kinds of run and prints both spreads.
void measure(int runs, const char* heading) {
    for (int i = 0; i < 10; ++i) {
        directRunMs();
        runnerRunMs();
    }
    std::vector<double> direct;
    std::vector<double> runner;
    for (int i = 0; i < runs; ++i) {
        direct.push_back(directRunMs());
        runner.push_back(runnerRunMs());
    }
    const Spread directSpread = spreadOf(direct);
    const Spread runnerSpread = spreadOf(runner);
    std::printf("%s: %d runs each, `openssl version`\n", heading, runs);
    printSpread("direct posix_spawn + waitpid:", directSpread, 3);
    printSpread("TExternalApp tool run:", runnerSpread, 3);
    std::printf("  difference of the medians:         %.3f ms (ratio %.2f)\n",
                runnerSpread.median - directSpread.median,
                runnerSpread.median / directSpread.median);
}

// Keeps every processor busy while it lives.
class FullLoad {
  public:
    FullLoad() {
        const int processors = int(std::max(1u, std::thread::hardware_concurrency()));
        const QString stress = QStandardPaths::findExecutable(QStringLiteral("stress-ng"));
        if (!stress.isEmpty()) {
            stressNg.start(stress, {"--cpu", QString::number(processors), "--quiet"});
            if (stressNg.waitForStarted()) {
                std::printf("load: stress-ng --cpu %d\n", processors);
                // Its workers start a moment after it does.
                QThread::msleep(500);
                return;
            }
        }
        std::printf("load: %d busy threads\n", processors);
        for (int i = 0; i < processors; ++i)
            spinners.emplace_back([this] {
                while (!stop) {
                }
            });
    }
    ~FullLoad() {
        stop = true;
        for (std::thread& spinner : spinners)
            spinner.join();
        if (stressNg.state() != QProcess::NotRunning) {
            stressNg.terminate();
            stressNg.waitForFinished();
        }
    }

  private:
    QProcess stressNg;
    std::vector<std::thread> spinners;
    std::atomic<bool> stop{false};
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 200;
    // The tool run takes the tool from the program folder.
    QTemporaryDir program;
    QFile::link(QStringLiteral(OPENSSL_TOOL), program.filePath(OpenSSLCommands::kToolName));
    setProgramFolderForTesting(program.path());

    measure(runs, "idle");
    {
        const FullLoad load;
        measure(runs, "under full load");
    }
    return 0;
}
