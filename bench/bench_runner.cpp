// How much a tool run through the runner costs on top of starting the tool directly.
//
// Runs `openssl version` many times, alternating between a tool run as the wizards make it
// (a fresh TExternalApp, StartProcess and WaitForProcess on the GUI thread of a QApplication)
// and posix_spawn + waitpid of the same program with its output sent to /dev/null, and prints
// the minimum, median and maximum of each and the difference of the medians in milliseconds.
//
// Usage: bench_runner [runs]   (default 200)

#include "BenchSupport.h"
#include "uCertwrightCommon.h"
#include "uOpenSSLCommands.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
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
    std::printf("runs: %d each, `openssl version`\n", runs);
    printSpread("direct posix_spawn + waitpid:", directSpread, 3);
    printSpread("TExternalApp tool run:", runnerSpread, 3);
    std::printf("  difference of the medians:         %.3f ms\n",
                runnerSpread.median - directSpread.median);
    return 0;
}
