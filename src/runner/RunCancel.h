#pragma once

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

  private:
    struct State;
    std::unique_ptr<State> state;
};
