#pragma once

#include "uAcme.h"
#include "uToolContext.h"
#include "uToolSteps.h"

#include <QObject>
#include <QString>

#include <exception>
#include <memory>

class WindowJob;

// One issuance of the ACME window: the certificate is obtained, its files made and recorded for
// renewal, and the new certificate checked, off the window's thread. The window hears how far
// it has come through progress and of its end through finished. The issuance's questions (may
// an existing file be replaced) are put to `user` on the window's thread while the issuance
// waits; Cancel ends that wait as it ends a tool run.
class IssuanceJob : public QObject {
    Q_OBJECT
  public:
    // Starts the issuance of values that passed the check; to be made on the window's thread.
    // `user` outlives the job.
    IssuanceJob(const Acme::CheckedAcmeValues& values, const ToolContext& context,
                ToolSteps::StepUser& user);
    // Gives the issuance up: the window hears no more of it.
    ~IssuanceJob() override;

    // Ends the issuance at once; finished follows with SilentAbort once it has ended.
    void cancel();
    bool cancelled() const { return wasCancelled; }

    // What a successful issuance left, once finished has come without an exception.
    const Acme::AcmeResult& result() const;
    // The check of the new certificate in words, or why it could not be checked.
    const QString& checkText() const;

    struct Shared;

  signals:
    void progress(const QString& step, double fraction);
    // The issuance has ended: thrown holds what it threw, or nothing when it succeeded.
    void finished(std::exception_ptr thrown);

  private:
    std::shared_ptr<Shared> shared;
    std::unique_ptr<WindowJob> job;
    bool wasCancelled = false;
};
