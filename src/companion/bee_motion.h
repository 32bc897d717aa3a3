#pragma once

#include "companion/bee_view_logic.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QQuaternion>
#include <QTimer>

namespace zapum {

// Moves the bee model: wing beats on the model's translucent parts, and the bob and tilt that the
// view binds to. The pose comes from beePose() and is changed only on a timer paced by
// beeNextFrameMs(), so Qt Quick draws a frame only when the pose really changed: never while the
// bee rests, never while it is not running (a hidden panel, a blanked or locked screen), and never
// faster than 30 a second.
class BeeMotion : public QObject {
    Q_OBJECT
    // The bee's view: the motion runs only while it is visible in a shown window.
    Q_PROPERTY(QQuickItem *view READ view WRITE setView NOTIFY viewChanged)
    Q_PROPERTY(bool loaded READ loaded WRITE setLoaded NOTIFY loadedChanged)
    // The screen is blanked or covered by a saver or locker: no one sees the bee move.
    Q_PROPERTY(bool screenIdle READ screenIdle WRITE setScreenIdle NOTIFY screenIdleChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(int stateKind READ stateKind WRITE setStateKind NOTIFY stateKindChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(double lift READ lift NOTIFY poseChanged)
    Q_PROPERTY(double tilt READ tilt NOTIFY poseChanged)
    // Poses applied so far: each one is a frame the view had to draw.
    Q_PROPERTY(int frames READ frames NOTIFY poseChanged)
    Q_PROPERTY(int wingCount READ wingCount NOTIFY wingsChanged)

public:
    explicit BeeMotion(QObject *parent = nullptr);

    QQuickItem *view() const { return m_view; }
    void setView(QQuickItem *view);
    bool loaded() const { return m_loaded; }
    void setLoaded(bool loaded);
    bool screenIdle() const { return m_screenIdle; }
    void setScreenIdle(bool idle);
    bool running() const { return m_running; }
    int stateKind() const { return int(m_kind); }
    void setStateKind(int kind);
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);
    double lift() const { return m_pose.lift; }
    double tilt() const { return m_pose.tiltDegrees; }
    int frames() const { return m_frames; }
    int wingCount() const { return int(m_wings.size()); }

    // Finds the wings in a loaded model (a Qt Quick 3D node tree): the models whose material lets
    // light through. Each beats about the body's long axis from its own root.
    Q_INVOKABLE void attach(QObject *modelRoot);

    static void registerQmlType();

Q_SIGNALS:
    void viewChanged();
    void loadedChanged();
    void screenIdleChanged();
    void runningChanged();
    void stateKindChanged();
    void reduceMotionChanged();
    void poseChanged();
    void wingsChanged();

private:
    struct Wing {
        QPointer<QObject> node;
        QQuaternion rest;
        double side = 1.0;  // +1 or -1: the two wings beat as mirror images
    };

    void updateRunning();
    void advance();
    void applyWings();

    QPointer<QQuickItem> m_view;
    QPointer<QQuickWindow> m_window;
    bool m_loaded = false;
    bool m_screenIdle = false;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_running = false;
    VoiceBeeState::Kind m_kind = VoiceBeeState::Kind::Idle;
    bool m_reduceMotion = false;
    BeePose m_pose;
    int m_frames = 0;
    QList<Wing> m_wings;
};

}  // namespace zapum
