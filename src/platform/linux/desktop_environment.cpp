#include "platform/desktop_environment.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace zapum {

std::optional<QString> desktopUnavailableReason()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return std::nullopt;  // offscreen or another platform chosen on purpose
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return QStringLiteral("ZaPum needs an X11 desktop, but no display is set (DISPLAY is empty).");
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return QStringLiteral("ZaPum cannot open the X11 display \"%1\".").arg(QString::fromLocal8Bit(display));
    return std::nullopt;
}

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

std::unique_ptr<TerminationWatcher> watchTermination()
{
    auto watcher = std::make_unique<TerminationWatcher>();
    if (g_signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return watcher;
    // Only a write to a socket is safe inside a signal handler; the notifier picks it up on the
    // main loop.
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, watcher.get());
    QObject::connect(notifier, &QSocketNotifier::activated, watcher.get(), [w = watcher.get()] {
        char byte = 0;
        if (::read(g_signalPipe[0], &byte, 1) == 1)
            Q_EMIT w->terminationRequested(int(byte));
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
    return watcher;
}

}  // namespace zapum
