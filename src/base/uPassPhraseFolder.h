#pragma once

#include <QString>

#include <cstddef>
#include <sys/types.h>

// The two pass-phrase files that the tool reads through its "file:" arguments; their names
// also as plain bytes, for the handlers of signals and of the exit.
inline constexpr char kCurrentPassPhraseName[] = "passcurrent.txt";
inline constexpr char kNewPassPhraseName[] = "passnew.txt";
inline const QString kCurrentPassPhraseFile = QLatin1String(kCurrentPassPhraseName);
inline const QString kNewPassPhraseFile = QLatin1String(kNewPassPhraseName);

// The folder of the pass-phrase files, ending in a separator: the folder chosen at start-up,
// or, while none is chosen (as in most tests), the program folder.
QString PassPhraseFolder();

// Why no pass phrase may be written into the chosen folder; empty when it may be used.
QString PassPhraseFolderRefusal();

// True while the chosen folder belongs to this copy of the program alone, because another
// copy holds the usual one; it is removed at the end.
bool passPhraseFolderIsOwnCopy();

// A new descriptor of the pass-phrase folder, which the caller closes; -1 with errno set when
// it cannot be opened. While a folder is chosen it is the very folder that was checked and
// locked, whatever has become of its name since.
int openPassPhraseFolder();

// Where private pass-phrase folders are made: $XDG_RUNTIME_DIR when it is set and is a folder
// of the user's own, else the user's cache folder.
QString privatePassPhraseBase();

// Chooses, once at start-up, where the pass-phrase files live, and holds that folder with an
// exclusive lock until endPassPhraseFolder(). The program folder is used when the user may
// write it and nobody else may; otherwise the folder "certwright" in privateBase, which is
// created with mode 0700 and, when it already exists, used only when it is a real folder of
// the user's own with mode 0700 (else it is refused). When another copy of the program holds
// the folder, a new folder of this copy alone is made in privateBase instead.
void choosePassPhraseFolder(const QString& programFolder, const QString& privateBase);

// Empties both pass-phrase files of the chosen folder, never following a link; nothing
// happens when no folder is chosen or it was refused. Only async-signal-safe calls on the
// folder's held descriptor, so that signal handlers may call it.
void emptyChosenPassPhraseFiles() noexcept;

// Ends the choice: empties both files (or removes a folder of this copy alone, with its
// files) and gives up the lock; PassPhraseFolder() answers the program folder again. Runs at
// most once per choice and only makes async-signal-safe calls, for an atexit handler and the
// handlers of fatal signals.
void endPassPhraseFolder() noexcept;
