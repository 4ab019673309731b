#pragma once

#include "RunCancel.h"
#include "uToolContext.h"
#include "uToolSteps.h"

#include <QString>
#include <QStringList>

#include <functional>

// The commands that run before and after the authority validates the names, recorded with the
// certificate like the reload command: a web server that holds port 80 is stopped before lego's
// temporary server starts and started again when lego ends, however it ends.
namespace IssuanceHooks {

// How the refusals of ReloadCommand::resolve name each hook.
inline const QString kPreHookWhat = QStringLiteral("pre-hook");
inline const QString kPostHookWhat = QStringLiteral("post-hook");

// Runs the pre-hook, then the validation, then the post-hook. The post-hook runs whenever the
// pre-hook was started: after a validation that succeeded, failed or was cancelled, and after a
// pre-hook that failed. A pre-hook that fails ends everything with PageError naming it, and the
// validation does not run; cancel ends the pre-hook like the validation (SilentAbort). A
// post-hook that fails after a failed validation is added to its explanation, and after a
// cancelled one told to the user. Returns why the post-hook failed after a validation that
// succeeded, for the user; empty when it ran well or there is none. Empty hooks run nothing.
QString runAround(const QStringList& preHook, const QStringList& postHook,
                  const ToolContext& context, RunCancel* cancel, ToolSteps::StepUser& user,
                  const std::function<void()>& validation);

} // namespace IssuanceHooks
