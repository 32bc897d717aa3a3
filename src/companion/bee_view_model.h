#pragma once

#include "voice/voice_bee_state.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace zapum {

class AppNotifications;
class SettingsStorage;
class VoiceAmplitudePublisher;
class VoiceSettingsStore;

// Where the bee's web page is, when it can be shown at all.
struct BeePageChoice {
    QUrl page;        // empty: show the emoji bee
    QString reason;   // why not, for the log
};
// The page "bee-viewer.html" in `directory` with "bee-runtime.glb" beside it. `webEngineReady`
// says whether the web engine was set up before the application object (it cannot be later).
BeePageChoice chooseBeePage(const QString &directory, bool webEngineReady);
// The folder shipped beside the program: <program dir>/bee, else <prefix>/share/zapum/bee.
QString defaultBeePageDirectory();

// The logic behind the companion panel's content (the bee, its button, the voice card): reads the
// voice store and the stored size, answers what the QML shows, and announces the three changes the
// companion manager reacts to.
class BeeViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(double side READ side NOTIFY sideChanged)
    Q_PROPERTY(bool active READ active NOTIFY stateChanged)
    Q_PROPERTY(int stateKind READ stateKind NOTIFY stateChanged)
    Q_PROPERTY(QString chipText READ chipText NOTIFY chipChanged)
    Q_PROPERTY(QString statusLabel READ statusLabel NOTIFY stateChanged)
    Q_PROPERTY(QString talkHint READ talkHint NOTIFY stateChanged)
    Q_PROPERTY(QColor captionColor READ captionColor NOTIFY stateChanged)
    Q_PROPERTY(QColor chipStrokeColor READ chipStrokeColor NOTIFY stateChanged)
    Q_PROPERTY(QColor chipTextColor READ chipTextColor NOTIFY stateChanged)
    Q_PROPERTY(double chipMaxHeight READ chipMaxHeight NOTIFY stateChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(QObject *amplitude READ amplitude CONSTANT)
    Q_PROPERTY(bool popoverOpen READ popoverOpen WRITE setPopoverOpen NOTIFY popoverOpenChanged)
    Q_PROPERTY(QUrl beePageUrl READ beePageUrl NOTIFY beePageUrlChanged)

public:
    using PushToTalk = std::function<void()>;
    using MotionPreference = std::function<bool()>;

    BeeViewModel(SettingsStorage &settings, VoiceSettingsStore &voice, VoiceAmplitudePublisher &amplitude,
                 AppNotifications &notifications, PushToTalk togglePushToTalk, BeePageChoice beePage,
                 MotionPreference prefersReducedMotion, QObject *parent = nullptr);

    double side() const { return m_side; }
    bool active() const;
    int stateKind() const;
    QString chipText() const;
    QString statusLabel() const;
    // What the bee offers, for assistive technology: "Click to open guidance, or hold Right Alt to talk."
    QString talkHint() const;
    QColor captionColor() const;
    QColor chipStrokeColor() const;
    QColor chipTextColor() const;
    double chipMaxHeight() const;
    bool reduceMotion() const { return m_reduceMotion; }
    QObject *amplitude() const;
    bool popoverOpen() const { return m_popoverOpen; }
    void setPopoverOpen(bool open);
    QUrl beePageUrl() const { return m_beePage; }

    Q_INVOKABLE void togglePopover() { setPopoverOpen(!m_popoverOpen); }
    Q_INVOKABLE void togglePushToTalk();
    // The page failed to load or its renderer died: the emoji bee for the rest of the run.
    Q_INVOKABLE void reportBeePageFailed(const QString &reason);

    // Re-reads the stored size (the settings window announces its changes).
    void reloadSide();
    // Re-reads the desktop's animation setting.
    void reloadMotionPreference();

Q_SIGNALS:
    void sideChanged();
    void stateChanged();
    void chipChanged();
    void reduceMotionChanged();
    void popoverOpenChanged();
    void beePageUrlChanged();

private:
    SettingsStorage &m_settings;
    VoiceSettingsStore &m_voice;
    VoiceAmplitudePublisher &m_amplitude;
    AppNotifications &m_notifications;
    PushToTalk m_togglePushToTalk;
    MotionPreference m_prefersReducedMotion;

    double m_side = 0.0;
    bool m_reduceMotion = false;
    bool m_popoverOpen = false;
    QUrl m_beePage;
    VoiceBeeState m_lastState;
};

}  // namespace zapum
