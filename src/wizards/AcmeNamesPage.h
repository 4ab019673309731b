#pragma once

#include "uAcme.h"

#include <QStringList>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QVBoxLayout;
class TfrmAcme;

// The ACME window's first page: the names of this server, the e-mail address for the
// authority's notices and the type of the new key.
class AcmeNamesPage {
  public:
    // Makes the page's controls into the window's fields.
    explicit AcmeNamesPage(TfrmAcme& window);
    // Adds the page to the window, after the page before it.
    void add();

    // The names as typed: one a line, without blanks around them, empty lines and repeats
    // left out.
    QStringList names() const;
    // Throws PageError for names or an e-mail address that no authority takes; names such as
    // *.example.com only when the authority checks them through a DNS record.
    void check(bool byDns) const;
    // Puts the page's choices into the values.
    void fillValues(Acme::AcmeValues& values) const;

  private:
    TfrmAcme& window;
};
