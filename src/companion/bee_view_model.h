#pragma once

#include "voice/voice_bee_state.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace zapum {

class AppNotifications;
class ScreenIdleWatcher;
class SettingsStorage;
class VoiceAmplitudePublisher;
class VoiceSettingsStore;

// The bee's model, when it can be drawn at all.
struct BeeModelChoice {
    QUrl model;       // empty: show the emoji bee
    QString reason;   // why not, for the log
};
// The binary glTF model at `path`, when it is there and whole.
BeeModelChoice chooseBeeModel(const QString &path);
// The model shipped beside the program: <program dir>/bee/, else <prefix>/share/zapum/bee/.
QString defaultBeeModelPath();

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
    Q_PROPERTY(QUrl beeModelUrl READ beeModelUrl NOTIFY beeModelUrlChanged)
    // The screen is blanked or covered by a saver or locker: the bee and its bars hold still.
    Q_PROPERTY(bool screenIdle READ screenIdle NOTIFY screenIdleChanged)

public:
    using PushToTalk = std::function<void()>;
    using MotionPreference = std::function<bool()>;

    BeeViewModel(SettingsStorage &settings, VoiceSettingsStore &voice, VoiceAmplitudePublisher &amplitude,
                 AppNotifications &notifications, PushToTalk togglePushToTalk, BeeModelChoice beeModel,
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
    QUrl beeModelUrl() const { return m_beeModel; }
    bool screenIdle() const { return m_screenIdle; }
    // Follows the desktop's screen saver from now on.
    void setScreenIdleWatcher(ScreenIdleWatcher *watcher);

    Q_INVOKABLE void togglePopover() { setPopoverOpen(!m_popoverOpen); }
    Q_INVOKABLE void togglePushToTalk();
    // The model failed to load or its view could not be made: the emoji bee for the rest of the run.
    Q_INVOKABLE void reportBeeModelFailed(const QString &reason);

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
    void beeModelUrlChanged();
    void screenIdleChanged();

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
    bool m_screenIdle = false;
    QUrl m_beeModel;
    VoiceBeeState m_lastState;
};

}  // namespace zapum
