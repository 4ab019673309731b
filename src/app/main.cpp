#include "uAboutForm.h"
#include "uCertwrightCommon.h"
#include "uCommandLine.h"
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

#include <cstdio>
#include <cstring>

namespace {
const char kUsage[] =
    "Usage: certwright [-DEBUG]\n"
    "       certwright <command> [options]\n"
    "       certwright <command> --help\n"
    "       certwright --help | --version\n"
    "\n"
    "Guides a web-server administrator through making keys, certificate requests,\n"
    "self-signed certificates and certificate bundles; the system's openssl tool\n"
    "does the cryptography.\n"
    "\n"
    "  -DEBUG     copy the output of the openssl runs to standard error\n"
    "             (first argument only, any letter case); any other first\n"
    "             argument must be a command\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Commands, which run one task without a window:\n"
    "  request    make an encrypted key and a certificate request\n"
    "  selfsign   make a key and a self-signed certificate\n"
    "  pfx        pack a key, its certificate and its chain into a .pfx file\n"
    "  pem        make key.pem, cert.pem and root.pem from a .pfx file, or from a key,\n"
    "             its certificate and its chain\n"
    "  check      check a server's certificate, or certificate files, and name\n"
    "             each problem with what to do about it\n"
    "  acme       get a certificate from an ACME authority (Let's Encrypt) and\n"
    "             make the server files from it\n"
    "  renew      renew the certificates obtained with acme that end soon\n";
const char kVersionLine[] = "certwright " CERTWRIGHT_VERSION "\n";

// The text that --help or --version asks for, or nullptr when the program is to start.
const char* requestedInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return kUsage;
        if (std::strcmp(argv[i], "--version") == 0)
            return kVersionLine;
    }
    return nullptr;
}

// Exit status 1 when the text could not be written (a closed or full standard output).
int printInformation(const char* text) {
    const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
    return written ? 0 : 1;
}
} // namespace

int main(int argc, char** argv) {
    // A command runs without a window, so it needs no display.
    if (CommandLine::isCommand(argc, argv))
        return CommandLine::run(argc, argv);
    // Answered before QApplication exists, so they need no display and open no window.
    if (const char* information = requestedInformation(argc, argv))
        return printInformation(information);
    // A mistyped command must not open the windows, nor ask for a display.
    if (!CommandLine::opensWindows(argc, argv))
        return CommandLine::refuseUnknownCommand(argv[1]);

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
