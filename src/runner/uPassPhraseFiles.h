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

// The two pass phrases of a step as the user gave them: the current one (empty where the use
// has none) and the new one.
struct PassPhrases {
    QString current;
    QString fresh;
};

// Writes both pass-phrase files into the folder (ending in a separator; the folder chosen at
// start-up is written through its held descriptor), each created afresh with mode
// kFreshFileMode (nothing that stood at its name is followed), as UTF-8 bytes without a line
// end, "passcurrent.txt" first. The empty pass phrase is written as a lone line end, since the
// tool refuses an empty file but reads that as the empty pass phrase. Throws PageError naming
// the path and the reason when it fails, and the folder's refusal when the folder may not hold
// pass phrases. The one writer of pass-phrase files.
void writePassPhrases(const QString& folder, const PassPhrases& phrases);

// Replaces both pass-phrase files of the folder by empty ones, "passcurrent.txt" first; both
// are always tried, and the first that cannot be emptied is reported (PageError). A refused
// folder is left alone: no pass phrase was ever written there.
void emptyPassPhraseFiles(const QString& folder);
// The same for PassPhraseFolder().
void emptyPassPhraseFiles();

// Copies the new pass phrase over the current one in the folder: "passnew.txt" is read only
// when it is a regular file, "passcurrent.txt" is created afresh. Throws PageError when it
// fails.
void copyNewPassPhraseOverCurrent(const QString& folder);
