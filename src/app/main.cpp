#include "uAboutForm.h"
#include "uCertwrightCommon.h"
#include "uMainForm.h"
#include "uNoSettingsFile.h"
#include "uTerminationSignals.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    // Qt removes the options it knows from the arguments, so the switch is read first.
    const bool debugSwitch = readDebugSwitch(argc, argv);
    preventSettingsFiles();
    QApplication app(argc, argv);

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
