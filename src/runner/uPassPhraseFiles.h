#pragma once

#include "uPassPhraseFolder.h"

#include <QString>

// Which pass phrases a wizard step needs, and so how the pass-phrase dialog asks for them.
enum class PassPhraseUse {
    CertificateRequest, // new pass phrase only (the current row is hidden)
    IISBundle,          // current (may be empty) and new
    IndyFromPfx,        // current (required) and new
    IndyFromKey,        // current (required) and new
    ServerFiles,        // new pass phrase only, for a .pfx and key.pem made from a fresh key
};

// Writes a pass phrase into a file of the pass-phrase folder, created afresh with mode
// kFreshFileMode (nothing that stood at its name is followed), as UTF-8 bytes without a line
// end. The empty pass phrase is written as a lone line end, since the tool refuses an empty
// file but reads that as the empty pass phrase. Throws PageError naming the path and the
// reason when it fails, and the folder's refusal when the folder may not hold pass phrases.
void writePassPhraseFile(const QString& fileName, const QString& passPhrase);

// Replaces both pass-phrase files by empty ones, "passcurrent.txt" first; both are always
// tried, and the first that cannot be emptied is reported (PageError). A refused folder is
// left alone: no pass phrase was ever written there.
void emptyPassPhraseFiles();

// Copies the new pass phrase over the current one: "passnew.txt" is read only when it is a
// regular file, "passcurrent.txt" is created afresh. Throws PageError when it fails.
void copyNewPassPhraseOverCurrent();
