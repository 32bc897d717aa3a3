#include "platform/linux/x11/x11_screen_capture.h"

#include "platform/linux/session_kind.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace zapum::x11 {

namespace {

QImage grab(int width, int height)
{
    // Without a GUI application there are no screens to grab.
    if (isWaylandSession() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0, 0, 0, width, height).toImage() : QImage();
}

}  // namespace

bool X11ScreenCapture::hasAccess()
{
    // One pixel answers the question as well as the whole screen.
    return !grab(1, 1).isNull();
}

QImage X11ScreenCapture::captureMainDisplay()
{
    return grab(-1, -1);
}

QString X11ScreenCapture::refusalMessage() const
{
    if (isWaylandSession())
        return QStringLiteral("Could not capture the display — this Wayland session does not let apps capture "
                              "the screen. Log in to an X11 session to use it.");
    return QStringLiteral("Could not capture the display. The X server sent no image of the screen.");
}

}  // namespace zapum::x11
