#include "desktop/action_mode_store.h"

#include "desktop/running_apps_snapshot.h"
#include "desktop/window_snapshot_reader.h"
#include "foundation/logging.h"
#include "foundation/settings_storage.h"
#include "platform/input_synthesizer.h"
#include "platform/screen_capture.h"
#include "platform/workspace.h"

#include <QTimer>

#include <utility>

namespace zapum {

namespace {

template <typename T, typename Signal>
void assign(ActionModeStore *store, T &field, T value, Signal changed)
{
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(store->*changed)();
}

}  // namespace

ActionModeStore::ActionModeStore(SettingsStorage &settings, WindowServer &windowServer, Workspace &workspace,
                                 ScreenCapture &screenCapture, InputSynthesizer &input, Timing timing,
                                 QObject *parent)
    : QObject(parent),
      m_settings(settings),
      m_windowServer(windowServer),
      m_workspace(workspace),
      m_screenCapture(screenCapture),
      m_input(input),
      m_timing(timing)
{
    m_isEnabled = m_settings.storedBool(settings_keys::kActionModeEnabled).value_or(false);
    refreshPermissionState();
}

void ActionModeStore::setEnabled(bool on)
{
    m_settings.setValue(settings_keys::kActionModeEnabled, on);
    assign(this, m_isEnabled, on, &ActionModeStore::isEnabledChanged);
    if (on) {
        refreshPermissionState();
        refreshWindowsAndApps();
    }
}

void ActionModeStore::refreshPermissionState()
{
    const bool capture = m_screenCapture.hasAccess();
    assign(this, m_screenCaptureGranted, capture, &ActionModeStore::screenCaptureGrantedChanged);
    const bool trusted = m_input.isTrusted();
    assign(this, m_accessibilityGranted, trusted, &ActionModeStore::accessibilityGrantedChanged);
    assign(this, m_screenCaptureNote, capture ? QString() : m_screenCapture.refusalMessage(),
           &ActionModeStore::screenCaptureNoteChanged);
    assign(this, m_accessibilityNote, trusted ? QString() : m_input.untrustedMessage(),
           &ActionModeStore::accessibilityNoteChanged);
}

void ActionModeStore::refreshWindowsAndApps()
{
    assign(this, m_windows, WindowSnapshotReader::onScreenWindows(m_windowServer, true),
           &ActionModeStore::windowsChanged);
    assign(this, m_runningApps, RunningAppsSnapshot::regularApps(m_workspace), &ActionModeStore::runningAppsChanged);
    m_lastWindowsRefresh = QDateTime::currentDateTime();
    Q_EMIT lastWindowsRefreshChanged();
}

void ActionModeStore::scheduleRecheck()
{
    // One timer per request, not a shared member: two requests in quick succession each get
    // their own re-read. The store as context drops the call if the store is gone.
    QTimer::singleShot(m_timing.permissionRecheckDelay, this, &ActionModeStore::refreshPermissionState);
}

void ActionModeStore::requestScreenCaptureAccess()
{
    m_screenCapture.requestAccess();
    scheduleRecheck();
}

void ActionModeStore::requestAccessibilityAccess()
{
    m_input.requestTrust();
    scheduleRecheck();
}

void ActionModeStore::setStatusMessage(const std::optional<QString> &message)
{
    assign(this, m_statusMessage, message, &ActionModeStore::statusMessageChanged);
}

void ActionModeStore::captureMainDisplay()
{
    setStatusMessage(std::nullopt);
    if (!m_isEnabled) {
        setStatusMessage(kTurnOnFirst);
        return;
    }
    QImage image = m_screenCapture.captureMainDisplay();
    if (!image.isNull()) {
        // Pixels count as points: the stored image has the captured pixel size.
        image.setDevicePixelRatio(1.0);
        m_lastSnapshot = std::move(image);
        Q_EMIT lastSnapshotChanged();
        setStatusMessage(kCaptured);
        return;
    }
    qCInfo(lcDesktop) << "display capture refused";
    setStatusMessage(m_screenCapture.refusalMessage());
    refreshPermissionState();
}

bool ActionModeStore::performLeftClick(QPointF point)
{
    if (!m_isEnabled || !m_accessibilityGranted)
        return false;
    return m_input.postLeftClick(point);
}

Status ActionModeStore::openScreenRecordingSettings()
{
    return m_workspace.openPrivacySettings(PrivacyPane::ScreenCapture);
}

Status ActionModeStore::openAccessibilitySettings()
{
    return m_workspace.openPrivacySettings(PrivacyPane::Accessibility);
}

}  // namespace zapum
