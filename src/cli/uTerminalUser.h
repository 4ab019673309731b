#pragma once

#include "StepUser.h"

#include <QString>

#include <optional>

// The user of a step run from the command line: the pass phrases come from the options (or,
// for one that no option gives, from the terminal), an existing output is replaced only with
// --force, and notices go to standard error.
class TerminalUser : public ToolSteps::StepUser {
  public:
    // An empty current pass phrase stands for a key without one, where the step allows it.
    TerminalUser(std::optional<QString> currentPassPhrase, std::optional<QString> newPassPhrase,
                 bool force);

    PassPhrases askPassPhrases(PassPhraseUse use) override;
    bool mayReplace(const QString& question, bool keepIsDefault) override;
    void tell(const QString& notice) override;

  private:
    std::optional<QString> current;
    std::optional<QString> fresh;
    bool replaces;
};

// What a command tells when an output exists and --force was not given: the overwrite
// question as a statement.
QString existingOutputStatement(const QString& fileName);
