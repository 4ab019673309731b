#pragma once

#include <QString>

// What a new pass phrase must be, for the pass-phrase dialog and the command line alike.
namespace PassPhraseRules {

inline const QString kMismatchMessage =
    QStringLiteral("Your verified password must match your new password.");

// Refuses (PageError) a pass phrase that the tool would read differently from what was typed:
// a line break or another control character, or more bytes than the tool reads.
void checkToolCanReadAsTyped(const QString& passPhrase);

// Refuses (PageError) a new pass phrase that is too short or that the tool cannot read as
// typed.
void checkNewPassPhrase(const QString& passPhrase);

} // namespace PassPhraseRules
