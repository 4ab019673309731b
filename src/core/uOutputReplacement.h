#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Replaces the existing output files of one step so that a step that fails loses none of them.
// Each output that exists is first moved aside, in its own folder, under a fresh hidden name
// that names this program's process and the output; a regular file is locked while it waits
// there. Then the step makes its files. When the step ends by an exception, whatever it left in
// the place of a moved output goes and the old file comes back, byte for byte, and the
// exception travels on; when it returns, the old files are deleted. Outputs that did not exist
// before are the step's own business: a failed step deletes what it must itself.
void replaceOutputs(const QStringList& outputs, const std::function<void()>& makeOutputs);

// Puts back the files in the folder that a replacement set aside in a copy of the program that
// no longer runs (it was killed, or crashed): each under its own name again, where that name is
// free. Returns, for the user, which ones could not be put back and where they are kept; empty
// when there are none.
QString putBackLeftBehindFiles(const QString& folder);

// Files that a step writes for its own use (a pasted certificate, the request configuration,
// a temporary bundle): they go when the object ends, however the step ends.
class ScratchFiles {
  public:
    explicit ScratchFiles(const QStringList& paths);
    ~ScratchFiles();
    ScratchFiles(const ScratchFiles&) = delete;
    ScratchFiles& operator=(const ScratchFiles&) = delete;

  private:
    QStringList paths;
};

// For an atexit handler, once the tool runs have ended: a program that ends through exit() in
// the middle of a step (Qt ends it so when the display connection breaks) removes the step's
// scratch files and puts back every file that a replacement in progress has set aside.
void tidyUpStepFilesAtExit() noexcept;

// Makes every ending through exit() (also Qt's, when the display connection breaks) end like a
// termination: the tool runs in progress end, the steps' scratch files go and the files they
// set aside come back, and the pass-phrase files are emptied, in that order. Call once, after
// the pass-phrase folder has been chosen.
void tidyUpAtExit();
