#pragma once

#include "uRenewal.h"

#include <QPushButton>
#include <QVector>

// The chooser's line about certificates whose last renewal failed: "1 certificate could not be
// renewed: <reason>". Pressing it shows the details of each (names, files, expiry, when the
// renewal was tried and why it failed). Hidden when no renewal failed.
class FailedRenewalsButton : public QPushButton {
    Q_OBJECT
  public:
    explicit FailedRenewalsButton(QWidget* parent);

    // Reads the renewal records again and shows what failed.
    void refresh();
    // The failed renewals shown, the latest attempt first.
    const QVector<Renewal::Record>& failures() const { return failed; }

  public slots:
    void showDetails();

  private:
    QVector<Renewal::Record> failed;
};
