#pragma once

#include <QWidget>

class FailedRenewalsButton;
class QButtonGroup;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

// The task chooser: the main window from which every wizard is opened.
class TfrmCertwright : public QWidget {
    Q_OBJECT
  public:
    explicit TfrmCertwright(QWidget* parent = nullptr);

    // Shown above the tasks when renewals failed; opens their details.
    FailedRenewalsButton* btnRenewalFailures;
    QLabel* Label1;
    QRadioButton* rbGenerateCSR;
    QRadioButton* rbSelfSign;
    QRadioButton* rbAcme;
    QFrame* Bevel1;
    QLabel* Label2;
    QRadioButton* rbExtractRoot;
    QRadioButton* rbPrepareIIS;
    QRadioButton* rbPrepareIndy;
    QRadioButton* rbViewInstall;
    QRadioButton* rbCheck;
    QRadioButton* rbInstall;
    QRadioButton* rbExpiry;
    QButtonGroup* tasks;
    QPushButton* btnStart;
    QPushButton* btnClose;

  public slots:
    void btnStartClick();
    void btnCloseClick();

  protected:
    // The pass-phrase files are emptied when the chooser closes, however the program ends,
    // while the event loop still runs to show a failure.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // A double click on a task starts it, as on a choice in a list.
    bool eventFilter(QObject* watched, QEvent* event) override;
};
