#pragma once

#include "uAcme.h"

class TfrmAcme;

// The ACME window's outputs page: the kinds of server to make the files for, the folder they go
// to and the command that runs after each new certificate.
class AcmeOutputsPage {
  public:
    explicit AcmeOutputsPage(TfrmAcme& window);
    void add();

    // The folder that the page offers first: "certificates" in the home folder.
    static QString defaultExportFolder();
    // Throws PageError for a reload command that cannot be run (ReloadCommand::resolve).
    void fillValues(Acme::AcmeValues& values) const;
    // Throws PageError when no output is chosen or the folder cannot take them; makes the folder
    // offered first, for the user alone, the first time it is used.
    void check(const Acme::AcmeValues& values) const;

  private:
    TfrmAcme& window;
};
