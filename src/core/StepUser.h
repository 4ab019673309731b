#pragma once

#include "uPassPhraseFiles.h"

#include <QString>

namespace ToolSteps {

// The person in front of a step, as the step sees them: whoever answers its questions (the
// pass-phrase dialog and message boxes, the terminal, a test's script). A user only answers;
// the step itself checks the pass phrases and writes them for the tool.
class StepUser {
  public:
    virtual ~StepUser() = default;
    // The pass phrases of the use, as the user gives them; the current one is empty where the
    // use has none. Writes nothing. Throws SilentAbort when the user does not confirm.
    virtual PassPhrases askPassPhrases(PassPhraseUse use) = 0;
    // Whether an existing output may be replaced: the overwrite question, Yes or No. Enter
    // answers No when keepIsDefault (the output is a private key), else Yes.
    virtual bool mayReplace(const QString& question, bool keepIsDefault) = 0;
    // Tells the user something that needs no answer.
    virtual void tell(const QString& notice) = 0;
};

} // namespace ToolSteps
