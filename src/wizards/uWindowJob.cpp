#include "uWindowJob.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <mutex>
#include <utility>

struct WindowJob::State {
    Work work;
    Ended ended;
    RunCancel cancel;
    std::exception_ptr thrown;
    QThread* thread = nullptr;
    bool givenUp = false; // read and written on the window's thread alone
};

std::vector<std::shared_ptr<WindowJob::State>> WindowJob::live;

namespace {

// Held by the work that runs.
std::mutex oneAtATime;

} // namespace

WindowJob::WindowJob(Work work, Ended ended) : state(std::make_shared<State>()) {
    static const QMetaObject::Connection endedBeforeQuit =
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, &WindowJob::endAll);
    state->work = std::move(work);
    state->ended = std::move(ended);
    State* const job = state.get();
    state->thread = QThread::create([job] {
        const std::lock_guard<std::mutex> turn(oneAtATime);
        if (job->cancel.cancelled())
            return;
        try {
            job->work(job->cancel);
        } catch (...) {
            job->thrown = std::current_exception();
        }
    });
    // The thread's object lives on the window's thread, so this runs there.
    QObject::connect(state->thread, &QThread::finished, state->thread, [kept = state] {
        live.erase(std::find(live.begin(), live.end(), kept));
        kept->thread->deleteLater();
        kept->thread = nullptr;
        if (!kept->givenUp)
            std::exchange(kept->ended, nullptr)(kept->thrown);
    });
    live.push_back(state);
    state->thread->start();
}

WindowJob::~WindowJob() {
    giveUp();
}

void WindowJob::giveUp() {
    state->givenUp = true;
    state->cancel.cancel();
}

void WindowJob::cancel() {
    state->cancel.cancel();
}

void WindowJob::endAll() {
    for (const std::shared_ptr<State>& job : live) {
        job->givenUp = true;
        job->cancel.cancel();
    }
    for (const std::shared_ptr<State>& job : live)
        job->thread->wait();
}

int WindowJob::running() {
    return int(live.size());
}
