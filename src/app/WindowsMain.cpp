#include "WindowsMain.h"

#include "uAboutForm.h"
#include "uCertwrightCommon.h"
#include "uDisplayOpening.h"
#include "uExternalApp.h"
#include "uMainForm.h"
#include "uNoSettingsFile.h"
#include "uOutputReplacement.h"
#include "uPassPhraseFolder.h"
#include "uTerminationSignals.h"
#include "uWindowsCommon.h"

#include <QApplication>
#include <QIcon>

int certwrightWindowsMain(int argc, char** argv) {
    // Qt removes the options it knows from the arguments, so the switch is read first.
    const bool debugSwitch = readDebugSwitch(argc, argv);
    preventSettingsFiles();
    watchDisplayOpening();
    QApplication app(argc, argv);
    displayOpened();
    showBusyCursorDuringRuns();

    // Decided once: every pass-phrase path of this run lies in that folder.
    choosePassPhraseFolder(ProgramFolder(), privatePassPhraseBase());
    tidyUpAtExit();

    // A termination ends the tool runs in progress first, so that a hung tool does not hold up
    // the ending; then it closes every window, so the chooser empties the pass-phrase files.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested,
                     &TExternalApp::EndRunsInProgress);
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app, [] {
        QApplication::closeAllWindows();
        QCoreApplication::exit(0);
    });

    {
        TfrmAbout about;
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/certwright.png")));
        about.exec();
    }

    QCoreApplication::setApplicationName(kApplicationTitle);
    DebugMode = debugSwitch;
    TfrmCertwright frmCertwright;
    frmCertwright.show();
    if (termination.arrived()) {
        frmCertwright.close();
        return 0;
    }
    const int exitCode = app.exec();
    // A window that refused to close may have kept the chooser open through a termination.
    if (frmCertwright.isVisible())
        frmCertwright.close();
    return exitCode;
}
