#pragma once

#include "uAcme.h"

#include <QString>

class TfrmAcme;

// The ACME window's last page: when the new certificate ends, the files made, where the pass
// phrase is kept, a reload command that failed, the check of the new certificate, and the offer
// to renew it without the user.
class AcmeFinishedPage {
  public:
    explicit AcmeFinishedPage(TfrmAcme& window);
    void add();

    // Fills the page with what the issuance left and the check of its certificate.
    void show(const Acme::AcmeResult& result, const QString& checkText);

  private:
    // Installs the renewal timer when the user leaves it ticked.
    void leave();

    TfrmAcme& window;
};
