#include "IssuanceJob.h"

#include "uCertificateCheck.h"
#include "uCertwrightCommon.h"
#include "uRenewal.h"
#include "uWindowJob.h"

#include <QCoreApplication>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

namespace {

const QString kCheckText = QStringLiteral("The check of the new certificate:\n%1");
const QString kCheckFailedText = QStringLiteral("The new certificate could not be checked: %1");

} // namespace

// What the issuance's thread and the window's thread share. The job pointer is set and read on
// the window's thread alone: it is cleared when the job is given up, after which nothing that
// the issuance posts reaches the window.
struct IssuanceJob::Shared {
    IssuanceJob* job = nullptr;
    Acme::AcmeResult result; // written by the issuance, read once it has ended
    QString checkText;
    bool done = false;
};

namespace {

// The window's user as the issuance's thread sees it: each question is posted to the window's
// thread and the issuance waits for the answer, or until it is cancelled.
class WaitingUser : public ToolSteps::StepUser {
    std::shared_ptr<IssuanceJob::Shared> shared;
    ToolSteps::StepUser& window;
    RunCancel& cancel;

    // Asks on the window's thread and hands back the answer or what the question threw. The
    // question takes its values with it, since a cancelled issuance does not wait for it.
    template <class Answer, class Ask> Answer onWindowThread(Ask ask) {
        struct Exchange {
            std::mutex mutex;
            std::condition_variable settled;
            bool over = false;
            std::optional<Answer> answer;
            std::exception_ptr thrown;
        };
        const auto exchange = std::make_shared<Exchange>();
        const auto settle = [exchange](std::optional<Answer> answer, std::exception_ptr thrown) {
            const std::lock_guard<std::mutex> lock(exchange->mutex);
            if (exchange->over)
                return;
            exchange->over = true;
            exchange->answer = std::move(answer);
            exchange->thrown = thrown;
            exchange->settled.notify_all();
        };
        cancel.attachEnder([settle] { settle(std::nullopt, nullptr); });
        if (cancel.cancelled())
            settle(std::nullopt, nullptr);
        QMetaObject::invokeMethod(
            qApp,
            [kept = shared, exchange, settle, ask, user = &window] {
                {
                    const std::lock_guard<std::mutex> lock(exchange->mutex);
                    if (exchange->over || !kept->job)
                        return;
                }
                try {
                    settle(ask(*user), nullptr);
                } catch (...) {
                    settle(std::nullopt, std::current_exception());
                }
            },
            Qt::QueuedConnection);
        std::unique_lock<std::mutex> lock(exchange->mutex);
        exchange->settled.wait(lock, [&] { return exchange->over; });
        lock.unlock();
        cancel.attachEnder({});
        if (exchange->thrown)
            std::rethrow_exception(exchange->thrown);
        if (!exchange->answer)
            throw SilentAbort();
        return *exchange->answer;
    }

  public:
    WaitingUser(std::shared_ptr<IssuanceJob::Shared> shared, ToolSteps::StepUser& window,
                RunCancel& cancel)
        : shared(std::move(shared)), window(window), cancel(cancel) {}

    PassPhrases askPassPhrases(PassPhraseUse use) override {
        return onWindowThread<PassPhrases>(
            [use](ToolSteps::StepUser& user) { return user.askPassPhrases(use); });
    }
    bool mayReplace(const QString& question, bool keepIsDefault) override {
        return onWindowThread<bool>([question, keepIsDefault](ToolSteps::StepUser& user) {
            return user.mayReplace(question, keepIsDefault);
        });
    }
    void tell(const QString& notice) override {
        onWindowThread<bool>([notice](ToolSteps::StepUser& user) {
            user.tell(notice);
            return true;
        });
    }
};

} // namespace

IssuanceJob::IssuanceJob(const Acme::CheckedAcmeValues& values, const ToolContext& context,
                         ToolSteps::StepUser& user)
    : shared(std::make_shared<Shared>()) {
    shared->job = this;
    job = std::make_unique<WindowJob>(
        [values, context, kept = shared, &user](RunCancel& cancel) {
            WaitingUser waiting(kept, user, cancel);
            kept->result = Renewal::obtainAndRecord(
                values, waiting, context,
                [kept](const QString& step, double fraction) {
                    QMetaObject::invokeMethod(
                        qApp,
                        [kept, step, fraction] {
                            if (kept->job && !kept->job->cancelled())
                                emit kept->job->progress(step, fraction);
                        },
                        Qt::QueuedConnection);
                },
                &cancel);
            try {
                kept->checkText = kCheckText.arg(CertificateCheck::problemsText(
                    Acme::checkResult(values.values(), kept->result, context).problems));
            } catch (const PageError& error) {
                kept->checkText = kCheckFailedText.arg(error.message());
            }
            kept->done = true;
        },
        [this](std::exception_ptr thrown) {
            // Work cancelled before it began ended without a word.
            if (!thrown && !shared->done)
                thrown = std::make_exception_ptr(SilentAbort());
            emit finished(thrown);
        });
}

IssuanceJob::~IssuanceJob() {
    shared->job = nullptr;
}

void IssuanceJob::cancel() {
    wasCancelled = true;
    job->cancel();
}

const Acme::AcmeResult& IssuanceJob::result() const {
    return shared->result;
}

const QString& IssuanceJob::checkText() const {
    return shared->checkText;
}
