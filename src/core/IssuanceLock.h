#pragma once

#include <QString>

#include <functional>

// One issuance at a time in lego's state folder: two runs for the same name (the renewal timer
// and the user, two windows) would share lego's files, and one could make its outputs from the
// other's key and certificate. The lock is held from before lego starts until the outputs are
// made, and the system lets it go when the program ends however it ends.
class IssuanceLock {
  public:
    // Takes the lock of the folder. While another run holds it, waiting() is called once and
    // the lock is tried again every moment, until it is free, stop() says true (SilentAbort) or
    // the time limit passes (PageError, saying why).
    IssuanceLock(const QString& stateFolder, int timeLimitMs, const std::function<void()>& waiting,
                 const std::function<bool()>& stop);
    ~IssuanceLock();
    IssuanceLock(const IssuanceLock&) = delete;
    IssuanceLock& operator=(const IssuanceLock&) = delete;

  private:
    int fd = -1;
};
