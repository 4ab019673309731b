#pragma once

#include "uWizardFrame.h"

class QComboBox;
class QLabel;

// Makes the built-in installation pages (":/installation/<server>.html") readable; every window
// that shows them calls it first.
void registerInstallationPages();

// Shows the chosen web server's certificate installation steps: a page built into the program,
// which opens in the viewer and can be printed, or the maker's web page in the browser.
class TfrmViewInstructions : public TWizardFrame {
    Q_OBJECT
  public:
    enum Page { tsOrganizationInfo, tsGuide };

    explicit TfrmViewInstructions(QWidget* owner);

    QLabel* Label11 = nullptr;
    QComboBox* cbWebServers = nullptr;
    QLabel* Label12 = nullptr;
    // The built-in page of the chosen server.
    QTextEdit* memGuide = nullptr;

  private:
    bool builtInChosen() const;
    // Fits the note and the Next button to the chosen entry.
    void showChoice();
    int openSelectedPage();
};
