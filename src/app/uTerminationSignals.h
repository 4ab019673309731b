#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a signal on the GUI thread, so that the program can
// end through its normal closing path (which empties the pass-phrase files) instead of dying
// where it stands; the tool runs in progress are ended first. One instance at a time; it restores
// the default actions when destroyed.
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
