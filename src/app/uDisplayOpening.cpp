#include "uDisplayOpening.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <cstdio>
#include <unistd.h>

namespace {

const char kDisplayUnreachable[] =
    "Certwright cannot open the display \"%s\": is a desktop running there?\n";
const char kNoDisplay[] =
    "Certwright needs a graphical desktop: no DISPLAY or WAYLAND_DISPLAY is set.\n";
// How the X11 platform reports that it could not connect, before Qt gives up.
const char kConnectionCategory[] = "qt.qpa.xcb";
const QString kConnectionFailure = QStringLiteral("could not connect to display");

struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

QtMessageHandler earlierHandler = nullptr;
QVector<HeldMessage> held;

void passOn(const HeldMessage& message) {
    // A message without a category keeps none, as Qt writes those without a prefix.
    const QMessageLogContext context(
        nullptr, 0, nullptr, message.category.isNull() ? nullptr : message.category.constData());
    earlierHandler(message.type, context, message.text);
}

bool connectionFailed() {
    for (const HeldMessage& message : held)
        if (message.category == kConnectionCategory && message.text.startsWith(kConnectionFailure))
            return true;
    return false;
}

void holdMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    held.append({type, QByteArray(context.category), text});
    if (type != QtFatalMsg)
        return;
    if (connectionFailed()) {
        const QByteArray display = qgetenv("DISPLAY");
        if (display.isEmpty())
            std::fputs(kNoDisplay, stderr);
        else
            std::fprintf(stderr, kDisplayUnreachable, display.constData());
        std::fflush(stderr);
        // Nothing has been written yet that an ending would have to put back or empty.
        ::_exit(1);
    }
    // Any other failure takes Qt's own course, with everything Qt said before it.
    qInstallMessageHandler(earlierHandler);
    for (const HeldMessage& message : held)
        passOn(message);
}

} // namespace

void watchDisplayOpening() {
    earlierHandler = qInstallMessageHandler(holdMessage);
}

void displayOpened() {
    qInstallMessageHandler(earlierHandler);
    for (const HeldMessage& message : held)
        passOn(message);
    held.clear();
}
