#pragma once

#include "uAcme.h"

class TfrmAcme;

// The ACME window's page of how the authority checks that the names are the user's: a file in
// the web root that the server already serves, a file from a temporary web server of this
// program, or a DNS record (the only way for names such as *.example.com), whose details the
// DNS page that follows asks.
class AcmeReachPage {
  public:
    explicit AcmeReachPage(TfrmAcme& window);
    void add();

    // Whether the authority is to check the names through a DNS record.
    bool byDns() const;
    void fillValues(Acme::AcmeValues& values) const;
    // The web root field's "..." button.
    void chooseWebRoot();

  private:
    // Throws PageError for a web root that this program cannot write the checked files into,
    // and for names such as *.example.com without a DNS record.
    void check() const;

    TfrmAcme& window;
};
