#include "ChildRun.h"

#include <QScopeGuard>

#include <cstring>
#include <memory>

namespace {
const QString kNoTrustedFile = QStringLiteral("SSL_CERT_FILE=/dev/null");
const QString kNoTrustedFolder = QStringLiteral("SSL_CERT_DIR=/dev/null");
constexpr int kMsPerSecond = 1000;
} // namespace

ChildRun finishedRun(const TExternalApp& runner, int timeLimitMs) {
    ChildRun run;
    run.program = runner.ModuleName;
    run.arguments = runner.Arguments;
    run.output = runner.Output();
    run.exitCode = runner.ExitCode();
    run.startError = runner.StartError();
    run.end = runner.End();
    run.endSignal = runner.EndSignal();
    run.timeLimitMs = timeLimitMs;
    return run;
}

ChildRun runChild(const ChildProgram& child, const RunLimits& limits) {
    const auto runner = std::make_unique<TExternalApp>();
    runner->ModuleName = child.program;
    runner->Arguments = child.arguments;
    runner->CurrentDirectory = child.directory;
    runner->ShowAppWindow = child.shown;
    runner->Environment = child.environment;
    if (limits.timeLimitMs > 0)
        runner->setTimeLimit(limits.timeLimitMs);
    if (limits.withoutTrustStore)
        runner->Environment << kNoTrustedFile << kNoTrustedFolder;
    QByteArray whole;
    bool cut = false;
    if (limits.wholeOutputBytes > 0 || child.outputHook)
        runner->OutputHook = [&](const QByteArray& piece) {
            if (limits.wholeOutputBytes > 0) {
                cut = cut || whole.size() + piece.size() > limits.wholeOutputBytes;
                if (!cut)
                    whole += piece;
            }
            if (child.outputHook)
                child.outputHook(piece);
        };
    if (limits.cancel)
        limits.cancel->attach(runner.get());
    const auto detach = qScopeGuard([&limits] {
        if (limits.cancel)
            limits.cancel->attach(nullptr);
    });
    if (!limits.cancel || !limits.cancel->cancelled()) {
        runner->StartProcess();
        if (limits.cancel && limits.cancel->cancelled())
            runner->EndRun();
        runner->WaitForProcess();
    }
    ChildRun run = finishedRun(*runner, limits.timeLimitMs > 0 ? limits.timeLimitMs
                                                               : TExternalApp::kTimeLimitMs);
    // Cancelled before it started: the run was ended as surely as one cancelled while it ran.
    if (run.end == RunEnd::NotStarted && run.startError.isEmpty())
        run.end = RunEnd::Stopped;
    if (limits.wholeOutputBytes > 0)
        run.output = whole;
    run.cut = cut;
    return run;
}

QString describeEnding(const ChildRun& run, const QString& subject) {
    switch (run.end) {
    case RunEnd::NotStarted:
        return kNotStartedEnding.arg(subject, run.startError);
    case RunEnd::Signalled:
        return kSignalEnding.arg(subject, QString::fromLocal8Bit(::strsignal(run.endSignal)));
    case RunEnd::TimeLimit:
        return kTimeLimitEnding.arg(subject, QString::number(run.timeLimitMs / kMsPerSecond));
    case RunEnd::Stopped:
        return kStoppedEnding.arg(subject);
    case RunEnd::Exited:
        break;
    }
    return run.exitCode == 0 ? QString() : kExitStatusEnding.arg(subject).arg(run.exitCode);
}
