#include "app/status_menu.h"

#include "backend/environment_store.h"
#include "backend/session_controller.h"
#include "desktop/action_mode_store.h"
#include "platform/platform_words.h"
#include "voice/global_hotkey_service.h"
#include "voice/talk_key.h"
#include "voice/voice_settings_store.h"

#include <QActionGroup>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace zapum {

StatusDot statusDotFor(bool remoteHelpPaused, bool signedIn)
{
    if (remoteHelpPaused)
        return StatusDot::Paused;
    return signedIn ? StatusDot::SignedIn : StatusDot::None;
}

QString statusDotLabel(StatusDot dot)
{
    switch (dot) {
    case StatusDot::Paused: return QStringLiteral("Remote help paused");
    case StatusDot::SignedIn: return QStringLiteral("Signed in");
    case StatusDot::None: break;
    }
    return {};
}

namespace {

QAction *addCaption(QMenu &menu, const QString &text)
{
    QAction *action = menu.addAction(text);
    action->setEnabled(false);
    return action;
}

QAction *addButton(QMenu &menu, const QString &text, const std::function<void()> &callback)
{
    QAction *action = menu.addAction(text);
    QObject::connect(action, &QAction::triggered, &menu, [callback] {
        if (callback)
            callback();
    });
    return action;
}

}  // namespace

StatusMenu::StatusMenu(EnvironmentStore &environment, SessionController &sessions, ActionModeStore &actionMode,
                       VoiceSettingsStore &voice, StatusMenuActions actions, QObject *parent)
    : QObject(parent),
      m_environment(environment),
      m_sessions(sessions),
      m_actionMode(actionMode),
      m_voice(voice),
      m_actions(std::move(actions)),
      m_menu(std::make_unique<QMenu>())
{
    m_menu->setToolTipsVisible(true);
    for (auto signal : {&EnvironmentStore::currentChanged, &EnvironmentStore::isPausedChanged,
                        &EnvironmentStore::lastSyncDateChanged})
        connect(&m_environment, signal, this, &StatusMenu::scheduleRebuild);
    connect(&m_sessions, &SessionController::sessionChanged, this, &StatusMenu::scheduleRebuild);
    connect(&m_actionMode, &ActionModeStore::isEnabledChanged, this, &StatusMenu::scheduleRebuild);
    connect(&m_voice, &VoiceSettingsStore::talkKeyChanged, this, &StatusMenu::scheduleRebuild);
    // The last-sync label is relative ("5 min. ago"): freshen it whenever the menu opens.
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        if (auto *sync = m_menu->findChild<QAction *>(QStringLiteral("lastSync")))
            sync->setText(m_environment.lastSyncLabel());
    });
    rebuild();
}

StatusMenu::~StatusMenu() = default;

void StatusMenu::attachTo(QSystemTrayIcon &tray)
{
    tray.setContextMenu(m_menu.get());
    // Linux trays expect the primary click to do something; it opens the same menu, where the
    // pointer is.
    connect(&tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
}

StatusDot StatusMenu::dot() const
{
    return statusDotFor(m_environment.isPaused(), m_sessions.isSignedIn());
}

void StatusMenu::scheduleRebuild()
{
    // Several stores often change in one go (sign-in touches the session and the sync time);
    // rebuild once, and never under the feet of an action that is still running.
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    QTimer::singleShot(0, this, [this] {
        m_rebuildPending = false;
        rebuild();
    });
}

void StatusMenu::rebuild()
{
    m_menu->clear();
    for (QObject *child : m_menu->children())
        if (qobject_cast<QMenu *>(child) || qobject_cast<QActionGroup *>(child))
            child->deleteLater();
    if (m_sessions.isSignedIn())
        buildSignedIn();
    else
        buildSignedOut();
    Q_EMIT changed();
}

void StatusMenu::buildSignedIn()
{
    QMenu &menu = *m_menu;
    addButton(menu, QStringLiteral("Show companion"), m_actions.showCompanion);
    addButton(menu, QStringLiteral("Toggle companion"), m_actions.toggleCompanion);
    QMenu *companion = menu.addMenu(QStringLiteral("Companion"));
    addButton(*companion, QStringLiteral("ZaPum settings…"), m_actions.openSettings);
    addButton(*companion, QStringLiteral("Center above %1 (resume patrol)").arg(platformWords().taskbar),
              m_actions.centerAboveDock);
    menu.addSeparator();
    addCaption(menu, m_sessions.email());
    addButton(menu, QStringLiteral("Sign out"), [this] { m_sessions.signOut(); });
    menu.addSeparator();

    QMenu *environments = menu.addMenu(QStringLiteral("Environment: ") + rawValue(m_environment.current()));
    auto *group = new QActionGroup(environments);
    for (ZaPumEnvironment environment : allEnvironments()) {
        QAction *choice = addButton(*environments, rawValue(environment),
                                    [this, environment] { m_environment.setCurrent(environment); });
        choice->setCheckable(true);
        choice->setChecked(environment == m_environment.current());
        group->addAction(choice);
    }
    QAction *pause = menu.addAction(m_environment.isPaused() ? QStringLiteral("Resume remote help")
                                                             : QStringLiteral("Pause remote help"));
    pause->setCheckable(true);
    pause->setChecked(m_environment.isPaused());
    connect(pause, &QAction::toggled, &m_environment, &EnvironmentStore::setIsPaused);
    addCaption(menu, m_environment.lastSyncLabel())->setObjectName(QStringLiteral("lastSync"));
    menu.addSeparator();
    addButton(menu, QStringLiteral("Refresh guidance"), m_actions.refreshGuidance);
    menu.addSeparator();

    QAction *actionMode = menu.addAction(QStringLiteral("Action mode"));
    actionMode->setCheckable(true);
    actionMode->setChecked(m_actionMode.isEnabled());
    actionMode->setToolTip(
        QStringLiteral("Allows listing windows, screen capture, and click synthesis when permissions are granted."));
    connect(actionMode, &QAction::toggled, &m_actionMode, &ActionModeStore::setEnabled);
    addButton(menu, QStringLiteral("Refresh desktop context"), [this] {
                  m_actionMode.refreshPermissionState();
                  if (m_actionMode.isEnabled())
                      m_actionMode.refreshWindowsAndApps();
              })->setEnabled(m_actionMode.isEnabled());
    addButton(menu, QStringLiteral("Capture screen (Action mode)"), [this] { m_actionMode.captureMainDisplay(); })
        ->setEnabled(m_actionMode.isEnabled());
    addButton(menu, QStringLiteral("Talk to ZaPum"), m_actions.talk)
        ->setToolTip(talkMenuHint(m_voice.talkKey(), HotkeyTiming{}.holdThreshold));
    menu.addSeparator();
    addCommonTail();
}

void StatusMenu::buildSignedOut()
{
    QMenu &menu = *m_menu;
    addCaption(menu, QStringLiteral("Signed out"));
    addButton(menu, QStringLiteral("Sign in to ZaPum…"), [this] { m_sessions.presentAccountPanel(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    menu.addSeparator();
    addCommonTail();
}

void StatusMenu::addCommonTail()
{
    QMenu &menu = *m_menu;
    addButton(menu, QStringLiteral("Settings…"), m_actions.openSettings)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    addButton(menu, QStringLiteral("What's ZaPum?"), m_actions.showOnboarding);
    addButton(menu, QStringLiteral("Quit ZaPum"), m_actions.quit);
}

}  // namespace zapum
