#pragma once

#include "companion/companion_geometry.h"
#include "foundation/monotonic_clock.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QTimer>
#include <QVariantAnimation>

#include <deque>
#include <functional>
#include <memory>

class QQmlEngine;
class QQuickView;
class QScreen;

namespace zapum {

class AppNotifications;
class BeeViewModel;
class PanelDragGesture;
class SettingsStorage;
class VoiceSettingsStore;

struct CompanionTimings {
    PatrolTimings patrol;
    int tickIntervalMs = 1000 / 24;
    int expandMs = 320;
    int collapseMs = 240;
    // How long the window must rest at a place the manager never asked for before that counts as
    // a move by the window manager (Alt+drag, a keyboard move, another program).
    int foreignMoveSettleMs = 250;
};

// The floating panel that carries the bee: places it just above the bottom of the screen, lets it
// stroll along a short rail there, grows it for a voice turn, and stops strolling while the
// popover is open, while a turn is under way, or once the user dragged the bee elsewhere.
class CompanionManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isVisible READ isVisible NOTIFY isVisibleChanged)
    Q_PROPERTY(bool isPatrolSuspended READ isPatrolSuspended NOTIFY isPatrolSuspendedChanged)
    Q_PROPERTY(bool userChoseFreePosition READ userChoseFreePosition NOTIFY userChoseFreePositionChanged)
    Q_PROPERTY(bool isVoiceExpanded READ isVoiceExpanded NOTIFY isVoiceExpandedChanged)

public:
    // Seconds on a monotonic clock; replaceable so tests control the patrol's time.
    using Clock = std::function<double()>;

    CompanionManager(SettingsStorage &settings, VoiceSettingsStore &voice, AppNotifications &notifications,
                     BeeViewModel &beeView, QQmlEngine &engine, CompanionTimings timings = {},
                     UniformRandom random = systemUniformRandom(), Clock clock = &monotonicSeconds,
                     QObject *parent = nullptr);
    ~CompanionManager() override;

    void setup();
    void show();
    void hide();
    void toggle();
    void beginPatrolCycle();
    void positionNearDock();
    void refreshPanelGeometryPreservingCenter();
    void applyVoiceExpansion(bool expanded);
    void startPatrol();
    void tickPatrol();
    void clampPanelToVisibleFrame();
    // "Resume patrol": forget the user's chosen spot (placement clears it too).
    void clearFreePosition() { setUserChoseFreePosition(false); }

    bool isVisible() const { return m_isVisible; }
    bool isPatrolSuspended() const { return m_isPatrolSuspended; }
    bool userChoseFreePosition() const { return m_userChoseFreePosition; }
    bool isVoiceExpanded() const { return m_isVoiceExpanded; }
    const PatrolState &patrol() const { return m_patrol; }

    // The panel window once set up, and the frame last given to it (the window system may apply
    // it a moment later).
    QQuickView *panel() const;
    QRectF panelFrame() const { return m_frame; }
    // Where the bee itself is on screen, for what opens next to it.
    QRectF beeFrame() const { return beeFrameInPanel(m_frame, side()); }

Q_SIGNALS:
    void isVisibleChanged();
    void isPatrolSuspendedChanged();
    void userChoseFreePositionChanged();
    void isVoiceExpandedChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    double side() const;
    bool patrolAllowed() const;
    QScreen *mainScreen() const;
    QScreen *panelScreen() const;
    void setFrame(const QRectF &frame);
    void setVisible(bool visible);
    void setPatrolSuspended(bool suspended);
    void setUserChoseFreePosition(bool free);
    void bringToFront();
    void watchScreens();
    void onScreensChanged();
    void updateInputRegion();
    bool askedFor(QPoint position) const;
    void onPanelMoved(QPoint at);
    void onForeignMoveSettled();

    SettingsStorage &m_settings;
    VoiceSettingsStore &m_voice;
    AppNotifications &m_notifications;
    BeeViewModel &m_beeView;
    QQmlEngine &m_engine;
    CompanionTimings m_timings;
    UniformRandom m_random;
    Clock m_clock;

    std::unique_ptr<QQuickView> m_panel;
    PanelDragGesture *m_drag = nullptr;
    bool m_isVisible = true;
    QTimer m_patrolTimer;
    bool m_isPatrolSuspended = false;
    bool m_popoverOpen = false;
    bool m_userChoseFreePosition = false;
    bool m_isVoiceExpanded = false;
    PatrolState m_patrol;
    QRectF m_frame;
    QRect m_appliedFrame;
    // Places given to the window system whose move has not been seen yet (and the last one seen):
    // the window reports them late, and they must not be taken for somebody else's move.
    std::deque<QPoint> m_askedPositions;
    // Where and how big the window system last said the window is (its own geometry() answers
    // with the last request until then).
    QPoint m_reportedPosition;
    QSize m_reportedSize;
    QTimer m_foreignMoveSettle;
    QRegion m_inputRegion;
    bool m_inputRegionSinceShown = false;
    QVariantAnimation m_expansion;
};

}  // namespace zapum
