#pragma once

#include <functional>
#include <memory>

class TExternalApp;

// Ends a piece of work from another thread (or from an event handler while it waits): the run
// in progress is ended at once, and the work sees cancelled() and ends with SilentAbort.
class RunCancel {
  public:
    RunCancel();
    ~RunCancel();
    RunCancel(const RunCancel&) = delete;
    RunCancel& operator=(const RunCancel&) = delete;
    void cancel();
    bool cancelled() const;

    // For the work: the run that cancel() ends, or none.
    void attach(TExternalApp* run);
    // For the work that waits on something other than a run (a fetch): called by cancel(), on
    // its thread, while it is set; an empty function takes it away again.
    void attachEnder(std::function<void()> ender);

  private:
    struct State;
    std::unique_ptr<State> state;
};
