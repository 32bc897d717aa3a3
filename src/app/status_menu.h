#pragma once

#include "app/status_icon.h"

#include <QObject>

#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace zapum {

class ActionModeStore;
class EnvironmentStore;
class SessionController;
class VoiceSettingsStore;

// Paused wins over signed in: a paused desktop ignores pushed help whoever is signed in.
StatusDot statusDotFor(bool remoteHelpPaused, bool signedIn);
// What the dot says to assistive technology; empty without a dot.
QString statusDotLabel(StatusDot dot);

// The status menu's own actions; the rest go straight to the three stores it observes.
struct StatusMenuActions {
    std::function<void()> showCompanion;
    std::function<void()> toggleCompanion;
    std::function<void()> centerAboveDock;
    std::function<void()> refreshGuidance;
    std::function<void()> talk;
    std::function<void()> openSettings;
    std::function<void()> showOnboarding;
    std::function<void()> quit;
};

// The tray's menu in its signed-in or signed-out form, rebuilt whenever one of the stores it shows
// changes (the talk key included, for the Talk item's hint), and the icon with its status dot.
class StatusMenu : public QObject {
    Q_OBJECT
public:
    StatusMenu(EnvironmentStore &environment, SessionController &sessions, ActionModeStore &actionMode,
               VoiceSettingsStore &voice, StatusMenuActions actions, QObject *parent = nullptr);
    ~StatusMenu() override;

    // Makes this the tray icon's menu, opened by the primary click as well as the context click.
    void attachTo(QSystemTrayIcon &tray);

    QMenu *menu() const { return m_menu.get(); }
    StatusDot dot() const;
    void rebuild();

Q_SIGNALS:
    // After every rebuild; the tray redraws its icon on it.
    void changed();

private:
    void scheduleRebuild();
    void buildSignedIn();
    void buildSignedOut();
    void addCommonTail();

    EnvironmentStore &m_environment;
    SessionController &m_sessions;
    ActionModeStore &m_actionMode;
    VoiceSettingsStore &m_voice;
    StatusMenuActions m_actions;
    std::unique_ptr<QMenu> m_menu;
    bool m_rebuildPending = false;
};

}  // namespace zapum
