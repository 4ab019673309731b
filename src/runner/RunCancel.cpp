#include "RunCancel.h"

#include "uExternalApp.h"

#include <mutex>

struct RunCancel::State {
    std::mutex mutex;
    bool cancelled = false;
    TExternalApp* run = nullptr;
    std::function<void()> ender;
};

RunCancel::RunCancel() : state(std::make_unique<State>()) {}
RunCancel::~RunCancel() = default;

void RunCancel::cancel() {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->cancelled = true;
    if (state->run)
        state->run->EndRun();
    if (state->ender)
        state->ender();
}

bool RunCancel::cancelled() const {
    const std::lock_guard<std::mutex> lock(state->mutex);
    return state->cancelled;
}

void RunCancel::attach(TExternalApp* run) {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->run = run;
}

void RunCancel::attachEnder(std::function<void()> ender) {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->ender = std::move(ender);
}
