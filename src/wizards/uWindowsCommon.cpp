#include "uWindowsCommon.h"

#include "uExternalApp.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>

namespace {
std::function<void(const QUrl&)> shellOpenerOverride;
} // namespace

void showErrorBox(QWidget* parent, const QString& message, const QString& explanation,
                  const QString& details) {
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, withFullStop(message),
                    QMessageBox::Ok, parent);
    box.setInformativeText(explanation);
    box.setDetailedText(details);
    box.exec();
}

void runGuarded(QWidget* parent, const std::function<void()>& body) {
    try {
        body();
    } catch (const SilentAbort&) {
    } catch (const PageError& error) {
        showErrorBox(parent, error.message(), error.explanation(), error.details());
    } catch (const std::exception& error) {
        showErrorBox(parent, QString::fromLocal8Bit(error.what()));
    }
}

void openWithShell(const QUrl& address) {
    if (shellOpenerOverride)
        shellOpenerOverride(address);
    else
        QDesktopServices::openUrl(address);
}

void setShellOpenerForTesting(std::function<void(const QUrl&)> opener) {
    shellOpenerOverride = std::move(opener);
}

void showBusyCursorDuringRuns() {
    TExternalApp::setGuiWaitHook([](bool waiting) {
        if (waiting)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        else
            QGuiApplication::restoreOverrideCursor();
    });
}
