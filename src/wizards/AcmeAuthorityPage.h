#pragma once

#include "uAcme.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class TfrmAcme;
class WindowJob;

// The ACME window's authority page: Let's Encrypt, its staging service or another directory
// (with a CA file for its HTTPS), and the authority's terms of service to agree to. The terms
// are read only once the user asks for them (Next or btnShowTerms), off the window's thread
// with a time limit; Cancel, Escape, the close box and another choice stop the reading.
class AcmeAuthorityPage : public QObject {
    Q_OBJECT
  public:
    explicit AcmeAuthorityPage(TfrmAcme& window);
    ~AcmeAuthorityPage() override;
    void add();

    // The directory address as chosen.
    QString directoryAddress() const;
    void fillValues(Acme::AcmeValues& values) const;

    bool isReadingTerms() const { return lookup != nullptr; }
    // Stops reading the terms; the page shows that they were not read.
    void stopTermsLookup();
    // Reads the terms unless they are being read (btnShowTerms).
    void showTermsClicked();
    // The CA file field's "..." button.
    void chooseCaFile();

  private:
    struct TermsKey {
        QString directory;
        QString caFile;
        bool operator==(const TermsKey&) const = default;
    };
    // What the lookup found: the terms' address, or why there is none.
    struct Terms {
        QString address;
        QString problem;
    };
    TermsKey chosenTerms() const;
    // Reads the chosen authority's terms first and stays, until they are shown and agreed to.
    int leave();
    void choiceChanged();
    void lookUpTerms();
    void endLookup();
    void showTerms(const TermsKey& key, const Terms& terms);

    TfrmAcme& window;
    std::unique_ptr<WindowJob> lookup;
    std::optional<TermsKey> shownTerms; // the choice whose terms (or why not) are shown
};
