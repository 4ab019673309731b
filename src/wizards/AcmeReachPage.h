#pragma once

#include "uAcme.h"

class TfrmAcme;

// The ACME window's page of how the authority reaches this server to check the names: a file in
// the web root that the server already serves, or a temporary web server of this program.
class AcmeReachPage {
  public:
    explicit AcmeReachPage(TfrmAcme& window);
    void add();

    void fillValues(Acme::AcmeValues& values) const;
    // The web root field's "..." button.
    void chooseWebRoot();

  private:
    // Throws PageError for a web root that this program cannot write the checked files into.
    void check() const;

    TfrmAcme& window;
};
