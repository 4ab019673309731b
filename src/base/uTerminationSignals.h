#pragma once

#include <QObject>

class QSocketNotifier;

// Turns every signal that would end the program (SIGINT, SIGTERM, SIGHUP, SIGQUIT and the
// other catchable ones) into a signal on the GUI thread, so that the program can end through
// its normal closing path instead of dying where it stands; the handler first empties the
// chosen pass-phrase files itself, in case the GUI thread is busy. A crash (SIGSEGV, SIGABRT
// and the like) ends the pass-phrase folder and then takes its default course, unless another
// handler (a sanitizer's) already takes it. Signals that the program was started with ignored
// stay ignored. Ending the tool runs in progress is left to the program, which connects that
// first to terminationRequested. One instance at a time; it restores the earlier actions when
// destroyed.
class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // True once one of the signals has been received on the GUI thread.
    bool arrived() const { return received; }

  signals:
    void terminationRequested();

  private:
    QSocketNotifier* notifier = nullptr;
    bool received = false;
    void drain();
};
