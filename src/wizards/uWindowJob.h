#pragma once

#include "RunCancel.h"

#include <exception>
#include <functional>
#include <memory>
#include <vector>

// Work of a window that runs on a thread of its own, so that the window keeps taking input
// while a tool or the network makes the work wait. The window can give the work up at any time
// (Cancel, Escape, the close box): the tool run in progress ends at once through the RunCancel,
// and the window hears no more of the work, even while it takes a moment longer to end. The
// work therefore touches nothing of the window: it works on copies and leaves its result where
// `ended` finds it, and it never waits for the window's thread.
//
// The work of one job runs at a time: a job's work starts once the work of any job before it has
// ended, so that two never share the pass-phrase files. Before the program ends, the work that
// still runs is given up and waited for.
class WindowJob {
  public:
    using Work = std::function<void(RunCancel& cancel)>;
    // Called on the window's thread once the work has ended, with what it threw (or nothing),
    // unless the job was given up before.
    using Ended = std::function<void(std::exception_ptr thrown)>;

    // Starts the work; to be made on the window's thread.
    WindowJob(Work work, Ended ended);
    // Gives the work up.
    ~WindowJob();
    WindowJob(const WindowJob&) = delete;
    WindowJob& operator=(const WindowJob&) = delete;

    void giveUp();
    // Ends the work as giveUp does, but the window still hears of its end through `ended`
    // (with nothing thrown when the work was cancelled before it began).
    void cancel();

    // Gives up all work that still runs and waits until it has ended.
    static void endAll();
    // How many jobs' work has not ended yet, given up or not.
    static int running();

  private:
    struct State;
    std::shared_ptr<State> state;
    // The jobs whose work has not ended yet; on the window's thread alone.
    static std::vector<std::shared_ptr<State>> live;
};
