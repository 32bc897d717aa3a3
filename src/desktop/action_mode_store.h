#pragma once

#include "desktop/desktop_records.h"
#include "foundation/failure.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QString>

#include <chrono>
#include <optional>

namespace zapum {

class SettingsStorage;
class WindowServer;
class Workspace;
class ScreenCapture;
class InputSynthesizer;

namespace settings_keys {
inline const QString kActionModeEnabled = QStringLiteral("ZaPumActionModeEnabled");
}  // namespace settings_keys

struct ActionModeTiming {
    // A grant given straight away in the system's prompt shows up by then.
    std::chrono::milliseconds permissionRecheckDelay{500};
};

// The user's switch that lets the assistant act on the desktop, with everything those actions
// need: the two permissions, the latest window and app snapshots, the latest capture of the main
// display and a one-line status for the settings window. performLeftClick is the only road to a
// synthesized click.
class ActionModeStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(bool screenCaptureGranted READ screenCaptureGranted NOTIFY screenCaptureGrantedChanged)
    Q_PROPERTY(bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)
    Q_PROPERTY(QString screenCaptureNote READ screenCaptureNote NOTIFY screenCaptureNoteChanged)
    Q_PROPERTY(QString accessibilityNote READ accessibilityNote NOTIFY accessibilityNoteChanged)
    Q_PROPERTY(QDateTime lastWindowsRefresh READ lastWindowsRefreshTime NOTIFY lastWindowsRefreshChanged)
    Q_PROPERTY(QList<zapum::DesktopWindowInfo> windows READ windows NOTIFY windowsChanged)
    Q_PROPERTY(QList<zapum::RunningAppSummary> runningApps READ runningApps NOTIFY runningAppsChanged)
    Q_PROPERTY(QImage lastSnapshot READ lastSnapshotImage NOTIFY lastSnapshotChanged)
    Q_PROPERTY(QString statusMessage READ statusMessageText NOTIFY statusMessageChanged)

public:
    using Timing = ActionModeTiming;

    static inline const QString kTurnOnFirst = QStringLiteral("Turn on Action mode first.");
    static inline const QString kCaptured = QStringLiteral("Captured main display.");

    ActionModeStore(SettingsStorage &settings, WindowServer &windowServer, Workspace &workspace,
                    ScreenCapture &screenCapture, InputSynthesizer &input, Timing timing = {},
                    QObject *parent = nullptr);

    bool isEnabled() const { return m_isEnabled; }
    // Stores the switch; switching on also re-reads the permissions and the snapshots. Switching
    // off keeps the snapshots, the image and the message as they were.
    void setEnabled(bool on);

    bool screenCaptureGranted() const { return m_screenCaptureGranted; }
    bool accessibilityGranted() const { return m_accessibilityGranted; }
    // Why a permission is missing, for a view to show beside it; empty while it is granted.
    QString screenCaptureNote() const { return m_screenCaptureNote; }
    QString accessibilityNote() const { return m_accessibilityNote; }

    std::optional<QDateTime> lastWindowsRefresh() const { return m_lastWindowsRefresh; }
    QDateTime lastWindowsRefreshTime() const { return m_lastWindowsRefresh.value_or(QDateTime()); }
    QList<DesktopWindowInfo> windows() const { return m_windows; }
    QList<RunningAppSummary> runningApps() const { return m_runningApps; }
    std::optional<QImage> lastSnapshot() const { return m_lastSnapshot; }
    QImage lastSnapshotImage() const { return m_lastSnapshot.value_or(QImage()); }
    std::optional<QString> statusMessage() const { return m_statusMessage; }
    QString statusMessageText() const { return m_statusMessage.value_or(QString()); }

    Q_INVOKABLE void refreshPermissionState();
    // Runs whether or not action mode is on.
    Q_INVOKABLE void refreshWindowsAndApps();
    // Each request re-reads the permissions once, a short while later.
    Q_INVOKABLE void requestScreenCaptureAccess();
    Q_INVOKABLE void requestAccessibilityAccess();
    Q_INVOKABLE void captureMainDisplay();

    // One left click at a point of the global display space, passed on unchanged. Only while
    // action mode is on and the last permission refresh found the process trusted; the caller
    // words the outcome.
    bool performLeftClick(QPointF point);

    // Failure (with a sentence to show) when this desktop has no such settings.
    Status openScreenRecordingSettings();
    Status openAccessibilitySettings();

Q_SIGNALS:
    void isEnabledChanged();
    void screenCaptureGrantedChanged();
    void accessibilityGrantedChanged();
    void screenCaptureNoteChanged();
    void accessibilityNoteChanged();
    void lastWindowsRefreshChanged();
    void windowsChanged();
    void runningAppsChanged();
    void lastSnapshotChanged();
    void statusMessageChanged();

private:
    void setStatusMessage(const std::optional<QString> &message);
    void scheduleRecheck();

    SettingsStorage &m_settings;
    WindowServer &m_windowServer;
    Workspace &m_workspace;
    ScreenCapture &m_screenCapture;
    InputSynthesizer &m_input;
    Timing m_timing;

    bool m_isEnabled = false;
    bool m_screenCaptureGranted = false;
    bool m_accessibilityGranted = false;
    QString m_screenCaptureNote;
    QString m_accessibilityNote;
    std::optional<QDateTime> m_lastWindowsRefresh;
    QList<DesktopWindowInfo> m_windows;
    QList<RunningAppSummary> m_runningApps;
    std::optional<QImage> m_lastSnapshot;
    std::optional<QString> m_statusMessage;
};

}  // namespace zapum
