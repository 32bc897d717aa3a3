#include "platform/linux/x11/x11_workspace.h"

#include "foundation/logging.h"
#include "platform/linux/desktop_entries.h"
#include "platform/linux/x11/x11_desktop_state.h"
#include "platform/linux/x11/x11_display.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

namespace zapum::x11 {

X11Workspace::X11Workspace(std::shared_ptr<X11Display> display, std::shared_ptr<DesktopEntryIndex> entries)
    : m_display(std::move(display)), m_entries(std::move(entries))
{
}

QList<RunningApplication> X11Workspace::runningApplications()
{
    const DesktopState state = readDesktopState(*m_display);
    m_entries->refreshIfChanged();
    QHash<xcb_window_t, const ClientWindow *> byWindow;
    for (const ClientWindow &window : state.bottomToTop)
        byWindow.insert(window.window, &window);
    const ClientWindow *activeWindow = byWindow.value(state.active);
    const qint32 activePid = activeWindow ? activeWindow->pid.value_or(0) : 0;

    struct Owner {
        qint32 pid = 0;
        bool regular = false;
        const ClientWindow *namedBy = nullptr;  // an ordinary window's class says most about the app
    };
    QList<Owner> owners;
    QHash<qint32, qsizetype> ownerIndex;
    // Windows without a pid belong to no process we could activate or name.
    for (const xcb_window_t w : state.mappingOrder) {
        const ClientWindow *window = byWindow.value(w);
        if (!window || !window->pid)
            continue;
        auto it = ownerIndex.find(*window->pid);
        if (it == ownerIndex.end()) {
            it = ownerIndex.insert(*window->pid, owners.size());
            owners.append(Owner{*window->pid});
        }
        Owner &owner = owners[*it];
        const bool regular = window->kind == WindowKind::Normal;
        if (!owner.namedBy || (regular && !owner.regular))
            owner.namedBy = window;
        owner.regular = owner.regular || regular;
    }
    const qint32 ownPid = qint32(QCoreApplication::applicationPid());
    if (!ownerIndex.contains(ownPid))
        owners.append(Owner{ownPid});
    owners[ownerIndex.value(ownPid, owners.size() - 1)].regular = true;

    QHash<qint32, QString> processNames;
    QList<RunningApplication> apps;
    apps.reserve(owners.size());
    for (const Owner &owner : std::as_const(owners)) {
        const std::optional<AppIdentity> identity =
            owner.namedBy ? identifyOwner(*m_entries, *owner.namedBy, processNames)
                          : m_entries->identify({QString(), QCoreApplication::applicationName(), processName(owner.pid)});
        RunningApplication app;
        app.pid = owner.pid;
        app.policy = owner.regular ? ActivationPolicy::Regular : ActivationPolicy::Accessory;
        if (identity) {
            app.localizedName = identity->name;
            app.bundleId = identity->desktopFileId;
        }
        app.isActive = activePid != 0 && activePid == owner.pid;
        apps.append(std::move(app));
    }
    return apps;
}

bool X11Workspace::activateApp(qint32 pid)
{
    const DesktopState state = readDesktopState(*m_display);
    QList<xcb_window_t> windows;
    for (const ClientWindow &window : state.bottomToTop) {
        const bool belongsToDesktop = window.kind == WindowKind::Desktop || window.kind == WindowKind::Dock
                                      || window.kind == WindowKind::Notification;
        if (window.pid == pid && !belongsToDesktop)
            windows.append(window.window);
    }
    if (windows.isEmpty())
        return false;

    xcb_connection_t *c = m_display->connection();
    // Bottom to top, so the app's front-most window ends up in front and focused.
    for (const xcb_window_t window : std::as_const(windows)) {
        if (state.managed) {
            // Source "pager": a request on the user's behalf, which window managers do not
            // treat as focus stealing.
            xcb_ewmh_request_change_active_window(m_display->ewmh(), m_display->screenNumber(), window,
                                                  XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME, state.active);
        } else {
            const uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        }
    }
    if (!state.managed)
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, windows.last(), XCB_CURRENT_TIME);
    xcb_flush(c);
    return true;
}

Status X11Workspace::openPrivacySettings(PrivacyPane pane)
{
    const QStringList desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    if (desktops.contains(QStringLiteral("GNOME"), Qt::CaseInsensitive)) {
        const QString controlCenter = QStandardPaths::findExecutable(QStringLiteral("gnome-control-center"));
        if (!controlCenter.isEmpty() && QProcess::startDetached(controlCenter, {QStringLiteral("privacy")}))
            return Done{};
    }
    const QString message =
        pane == PrivacyPane::ScreenCapture
            ? QStringLiteral("This desktop has no privacy settings for screen capture — on X11 every app may "
                             "capture the screen.")
            : QStringLiteral("This desktop has no privacy settings for synthetic clicks — on X11 every app may "
                             "click when the X server offers the XTEST extension.");
    return Failure{QStringLiteral("Desktop"), 0, message};
}

}  // namespace zapum::x11
