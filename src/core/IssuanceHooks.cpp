#include "IssuanceHooks.h"

#include "uCertwrightCommon.h"
#include "uReloadCommand.h"

#include <optional>

namespace IssuanceHooks {

namespace {

const QString kPreHookFailedMessage = QStringLiteral(
    "The command before the validation (--pre-hook) \"%1\" failed: %2 No certificate was "
    "ordered.");
const QString kPostHookFailedMessage =
    QStringLiteral("The command after the validation (--post-hook) \"%1\" failed: %2");

QString withOutput(const QString& text, const QString& output) {
    return output.isEmpty() ? text : text + QLatin1Char('\n') + output;
}

// Runs the post-hook; empty when it ran well or there is none, else why not.
QString runPostHook(const QStringList& postHook, const ToolContext& context) {
    if (postHook.isEmpty())
        return QString();
    // Not cancelled with the validation: the web server that the pre-hook stopped comes back.
    const std::optional<ReloadCommand::Failure> failure =
        ReloadCommand::runWords(postHook, context);
    if (!failure)
        return QString();
    return withOutput(kPostHookFailedMessage.arg(failure->readable, failure->why),
                      printableText(failure->output, true));
}

} // namespace

QString runAround(const QStringList& preHook, const QStringList& postHook,
                  const ToolContext& context, RunCancel* cancel, ToolSteps::StepUser& user,
                  const std::function<void()>& validation) {
    if (cancel && cancel->cancelled())
        throw SilentAbort();
    try {
        if (!preHook.isEmpty()) {
            const std::optional<ReloadCommand::Failure> failure =
                ReloadCommand::runWords(preHook, context, cancel);
            if (cancel && cancel->cancelled())
                throw SilentAbort();
            if (failure)
                throw PageError(kPreHookFailedMessage.arg(failure->readable, failure->why),
                                printableText(failure->output, true));
        }
        validation();
    } catch (const PageError& error) {
        const QString problem = runPostHook(postHook, context);
        if (problem.isEmpty())
            throw;
        const QString explanation = error.explanation().isEmpty()
                                        ? problem
                                        : error.explanation() + QLatin1Char('\n') + problem;
        throw PageError(error.message(), explanation, error.details());
    } catch (const SilentAbort&) {
        if (const QString problem = runPostHook(postHook, context); !problem.isEmpty())
            user.tell(problem);
        throw;
    } catch (...) {
        runPostHook(postHook, context);
        throw;
    }
    return runPostHook(postHook, context);
}

} // namespace IssuanceHooks
