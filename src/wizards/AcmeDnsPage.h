#pragma once

#include "uAcme.h"

#include <QObject>

class TfrmAcme;

// The ACME window's page of the DNS record, when the page before chose one: a script of the
// user's that sets and removes it (lego's exec), or signed updates to a DNS server (RFC 2136,
// with a TSIG key); and the DNS server asked whether the record is in place, or how long to
// wait for a script's record instead.
class AcmeDnsPage : public QObject {
    Q_OBJECT
  public:
    explicit AcmeDnsPage(TfrmAcme& window);
    void add();

    void fillValues(Acme::AcmeValues& values) const;
    // The script field's "..." button.
    void chooseScript();

  private:
    // Enables the fields of the kind chosen.
    void enableChosenFields();
    // Throws PageError for a field that the kind chosen needs and that is empty.
    void check() const;

    TfrmAcme& window;
};
