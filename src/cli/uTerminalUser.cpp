#include "uTerminalUser.h"

#include "uCertwrightCommon.h"
#include "uPassPhraseRules.h"
#include "uPassPhraseSource.h"

#include <cstdio>

namespace {

const QString kExistingOutputStatement =
    QStringLiteral("The file \"%1\" exists; use --force to replace it.");
const QString kReplaceRefusedMessage =
    QStringLiteral("An output file exists; use --force to replace it.");
const QString kNewPassPhrasePrompt = QStringLiteral("New pass phrase: ");
const QString kVerifyPassPhrasePrompt = QStringLiteral("Verify the new pass phrase: ");
const QString kCurrentPassPhrasePrompt = QStringLiteral("Current pass phrase: ");
const QString kMissingPassOutMessage = QStringLiteral(
    "--passout is missing, and standard input is no terminal to ask for the pass phrase.");
const QString kMissingPassInMessage = QStringLiteral(
    "--passin is missing, and standard input is no terminal to ask for the pass phrase.");

} // namespace

QString existingOutputStatement(const QString& fileName) {
    return kExistingOutputStatement.arg(fileName);
}

TerminalUser::TerminalUser(std::optional<QString> currentPassPhrase,
                           std::optional<QString> newPassPhrase, bool force)
    : current(std::move(currentPassPhrase)), fresh(std::move(newPassPhrase)), replaces(force) {}

PassPhrases TerminalUser::askPassPhrases(PassPhraseUse use) {
    const bool currentRequired =
        use == PassPhraseUse::IndyFromPfx || use == PassPhraseUse::IndyFromKey;
    if (!current && currentRequired) {
        if (!PassPhraseSource::canAsk())
            throw UsageError(kMissingPassInMessage);
        current = PassPhraseSource::ask(kCurrentPassPhrasePrompt);
    }
    if (!fresh) {
        if (!PassPhraseSource::canAsk())
            throw UsageError(kMissingPassOutMessage);
        const QString typed = PassPhraseSource::ask(kNewPassPhrasePrompt);
        if (PassPhraseSource::ask(kVerifyPassPhrasePrompt) != typed)
            throw PageError(PassPhraseRules::kMismatchMessage);
        fresh = typed;
    }
    // An empty answer is refused here as the dialog refuses an empty field; the step holds
    // every other answer to the pass-phrase rules.
    if (fresh->isEmpty())
        PassPhraseRules::checkNewPassPhrase(*fresh);
    return {current.value_or(QString()), *fresh};
}

// The command checks the outputs before the step starts; this answers only for an output that
// appeared since.
bool TerminalUser::mayReplace(const QString& question, bool) {
    if (!replaces)
        throw PageError(kReplaceRefusedMessage, question);
    return true;
}

void TerminalUser::tell(const QString& notice) {
    std::fprintf(stderr, "%s\n", notice.toLocal8Bit().constData());
}
