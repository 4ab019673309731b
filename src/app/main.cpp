#include "uAboutForm.h"
#include "uCertwrightCommon.h"
#include "uMainForm.h"
#include "uPassPhraseFolder.h"
#include "uTerminationSignals.h"

#include <QApplication>
#include <QIcon>

#include <cstdlib>

int main(int argc, char** argv) {
    // Qt removes the options it knows from the arguments, so the switch is read first.
    const bool debugSwitch = readDebugSwitch(argc, argv);
    QApplication app(argc, argv);

    // Decided once: every pass-phrase path of this run lies in that folder. However the
    // program ends through exit() (also when Qt ends it on a broken display connection), the
    // files are emptied on the way out.
    choosePassPhraseFolder(ProgramFolder(), privatePassPhraseBase());
    std::atexit(endPassPhraseFolder);

    // A termination closes every window, so the chooser empties the pass-phrase files.
    TerminationSignals termination;
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
