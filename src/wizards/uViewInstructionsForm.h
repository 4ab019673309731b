#pragma once

#include "uWizardFrame.h"

class QComboBox;
class QLabel;

// Opens the chosen web server's certificate installation page in the browser.
class TfrmViewInstructions : public TWizardFrame {
    Q_OBJECT
  public:
    enum Page { tsOrganizationInfo };

    explicit TfrmViewInstructions(QWidget* owner);

    QLabel* Label11 = nullptr;
    QComboBox* cbWebServers = nullptr;
    QLabel* Label12 = nullptr;

  private:
    void openSelectedPage();
};
