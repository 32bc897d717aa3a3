#include "companion/companion_manager.h"

#include "app/app_notifications.h"
#include "companion/bee_view_model.h"
#include "companion/panel_drag_gesture.h"
#include "companion/voice_bars_item.h"
#include "foundation/logging.h"
#include "foundation/settings_storage.h"
#include "platform/floating_panel.h"
#include "voice/voice_settings_store.h"

#include <QEasingCurve>
#include <QMoveEvent>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>

#include <algorithm>

namespace zapum {

namespace {

// The platform's ease-in-ease-out timing curve.
QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

QRect toPixels(const QRectF &frame)
{
    return {qRound(frame.x()), qRound(frame.y()), qRound(frame.width()), qRound(frame.height())};
}

// Enough for seconds of patrol steps the window system has yet to report.
constexpr size_t kMaxAskedPositions = 256;

// A pixel's slack for scale factors that do not round-trip exactly.
bool samePlace(QPoint a, QPoint b)
{
    return qAbs(a.x() - b.x()) <= 1 && qAbs(a.y() - b.y()) <= 1;
}

}  // namespace

CompanionManager::CompanionManager(SettingsStorage &settings, VoiceSettingsStore &voice,
                                   AppNotifications &notifications, BeeViewModel &beeView, QQmlEngine &engine,
                                   CompanionTimings timings, UniformRandom random, Clock clock, QObject *parent)
    : QObject(parent),
      m_settings(settings),
      m_voice(voice),
      m_notifications(notifications),
      m_beeView(beeView),
      m_engine(engine),
      m_timings(timings),
      m_random(std::move(random)),
      m_clock(std::move(clock))
{
    m_patrol.phaseStart = m_clock();
    m_patrolTimer.setInterval(m_timings.tickIntervalMs);
    connect(&m_patrolTimer, &QTimer::timeout, this, &CompanionManager::tickPatrol);

    m_foreignMoveSettle.setSingleShot(true);
    m_foreignMoveSettle.setInterval(m_timings.foreignMoveSettleMs);
    connect(&m_foreignMoveSettle, &QTimer::timeout, this, &CompanionManager::onForeignMoveSettled);

    m_expansion.setEasingCurve(easeInEaseOut());
    connect(&m_expansion, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setFrame(value.toRectF()); });

    connect(&m_notifications, &AppNotifications::popoverVisibilityChanged, this, [this](bool open) {
        m_popoverOpen = open;
        setPatrolSuspended(m_popoverOpen || m_isVoiceExpanded);
    });
    connect(&m_notifications, &AppNotifications::companionLayoutChanged, this,
            &CompanionManager::refreshPanelGeometryPreservingCenter);
    connect(&m_notifications, &AppNotifications::voiceStateChanged, this,
            [this] { applyVoiceExpansion(m_voice.beeState().kind() != VoiceBeeState::Kind::Idle); });
    watchScreens();
}

CompanionManager::~CompanionManager()
{
    m_patrolTimer.stop();
    m_foreignMoveSettle.stop();
    m_expansion.stop();
}

QQuickView *CompanionManager::panel() const
{
    return m_panel.get();
}

double CompanionManager::side() const
{
    return companionSide(m_settings.storedNumber(settings_keys::kCompanionSide));
}

bool CompanionManager::patrolAllowed() const
{
    return m_settings.storedBool(settings_keys::kPatrolNearDockEnabled).value_or(true);
}

QScreen *CompanionManager::mainScreen() const
{
    if (QScreen *primary = QGuiApplication::primaryScreen())
        return primary;
    const auto screens = QGuiApplication::screens();
    return screens.isEmpty() ? nullptr : screens.first();
}

QScreen *CompanionManager::panelScreen() const
{
    // The frame asked for, not the window's idea of its screen, which lags behind on X11.
    if (QScreen *screen = QGuiApplication::screenAt(m_frame.center().toPoint()))
        return screen;
    if (m_panel && m_panel->screen())
        return m_panel->screen();
    return mainScreen();
}

void CompanionManager::setFrame(const QRectF &frame)
{
    m_frame = frame;
    if (!m_panel)
        return;
    const QRect pixels = toPixels(frame);
    // Most patrol ticks move less than a pixel: nothing to tell the window system then.
    if (pixels == m_appliedFrame)
        return;
    m_appliedFrame = pixels;
    // Noted before asking: a window not yet created reports the move at once.
    if (m_askedPositions.empty() || m_askedPositions.back() != pixels.topLeft())
        m_askedPositions.push_back(pixels.topLeft());
    if (m_askedPositions.size() > kMaxAskedPositions)
        m_askedPositions.pop_front();
    m_panel->setGeometry(pixels);
}

bool CompanionManager::askedFor(QPoint position) const
{
    return std::any_of(m_askedPositions.begin(), m_askedPositions.end(),
                       [position](QPoint asked) { return samePlace(asked, position); });
}

void CompanionManager::onPanelMoved(QPoint at)
{
    m_reportedPosition = at;
    const auto seen = std::find_if(m_askedPositions.begin(), m_askedPositions.end(),
                                   [at](QPoint asked) { return samePlace(asked, at); });
    if (seen != m_askedPositions.end()) {
        // One of ours, however late; whatever was asked before it has been overtaken.
        m_askedPositions.erase(m_askedPositions.begin(), seen);
        return;
    }
    // Not a place we asked for: hold the patrol (it must not fight a hand on the window) and see
    // where the window comes to rest.
    m_foreignMoveSettle.start();
}

void CompanionManager::onForeignMoveSettled()
{
    if (!m_panel || !m_panel->isVisible())
        return;
    const QPoint at = m_reportedPosition;
    if (askedFor(at))
        return;  // ours caught up after all
    // The window manager moved the bee (Alt+drag, a keyboard move, another program): that is the
    // user choosing a place, as a drag of the bee is. Remember it as the frame the panel has.
    QRectF frame(QPointF(at), m_frame.size());
    if (m_expansion.state() == QAbstractAnimation::Running) {
        frame.setSize(m_expansion.endValue().toRectF().size());
        m_expansion.stop();
    }
    m_askedPositions.assign(1, at);
    m_appliedFrame.moveTopLeft(at);
    setUserChoseFreePosition(true);
    setFrame(frame);
    clampPanelToVisibleFrame();
}

bool CompanionManager::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_panel || watched != m_panel.get())
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Move)
        onPanelMoved(static_cast<QMoveEvent *>(event)->pos());
    if (event->type() == QEvent::Resize) {
        m_reportedSize = static_cast<QResizeEvent *>(event)->size();
        updateInputRegion();
    }
    // A window manager that frames the panel copies the input shape onto its frame when told the
    // shape changed (openbox does), not necessarily when it takes the window on; until then its
    // frame would swallow the clicks. So the shape is given again once the window is on screen.
    if (event->type() == QEvent::Expose && !m_inputRegionSinceShown && m_panel->isExposed()) {
        m_inputRegionSinceShown = true;
        m_inputRegion = QRegion();
        updateInputRegion();
    }
    return QObject::eventFilter(watched, event);
}

void CompanionManager::updateInputRegion()
{
    if (!m_panel)
        return;
    // The window's own size, which the drawing follows, rather than the one last asked for.
    const QRectF local(QPointF(0, 0), QSizeF(m_reportedSize.isValid() ? m_reportedSize : m_panel->size()));
    const double s = side();
    QRegion region(beeFrameInPanel(local, s).toAlignedRect());
    if (m_isVoiceExpanded)
        region += voiceCardFrameInPanel(local, s).toAlignedRect();
    region &= local.toAlignedRect();
    if (region == m_inputRegion)
        return;
    m_inputRegion = region;
    setFloatingPanelInputRegion(*m_panel, region);
}

void CompanionManager::setVisible(bool visible)
{
    if (visible == m_isVisible)
        return;
    m_isVisible = visible;
    Q_EMIT isVisibleChanged();
}

void CompanionManager::setPatrolSuspended(bool suspended)
{
    if (suspended == m_isPatrolSuspended)
        return;
    m_isPatrolSuspended = suspended;
    Q_EMIT isPatrolSuspendedChanged();
}

void CompanionManager::setUserChoseFreePosition(bool free)
{
    if (free == m_userChoseFreePosition)
        return;
    m_userChoseFreePosition = free;
    Q_EMIT userChoseFreePositionChanged();
}

void CompanionManager::bringToFront()
{
    if (!m_panel)
        return;
    m_panel->show();
    m_panel->raise();
    applyFloatingPanelHints(*m_panel);
}

void CompanionManager::setup()
{
    if (m_panel) {
        beginPatrolCycle();
        positionNearDock();
        refreshPanelGeometryPreservingCenter();
        bringToFront();
        startPatrol();
        return;
    }
    VoiceBarsItem::registerQmlType();
    auto panel = std::make_unique<QQuickView>(&m_engine, nullptr);
    panel->setTitle(QStringLiteral("ZaPum"));
    panel->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
                    | Qt::NoDropShadowWindowHint);
    QSurfaceFormat format = panel->format();
    format.setAlphaBufferSize(8);
    panel->setFormat(format);
    panel->setColor(Qt::transparent);
    panel->setResizeMode(QQuickView::SizeRootObjectToView);

    m_drag = new PanelDragGesture(*panel, this);
    connect(m_drag, &PanelDragGesture::dragStarted, this, [this] {
        // The user's hand wins over a running grow or shrink: finish it at once.
        if (m_expansion.state() == QAbstractAnimation::Running) {
            const QRectF end = m_expansion.endValue().toRectF();
            m_expansion.stop();
            setFrame(end);
        }
        setUserChoseFreePosition(true);
    });
    connect(m_drag, &PanelDragGesture::dragMoved, this,
            [this](QPoint topLeft) { setFrame(QRectF(QPointF(topLeft), m_frame.size())); });
    connect(m_drag, &PanelDragGesture::dragFinished, this, &CompanionManager::clampPanelToVisibleFrame);
    connect(panel.get(), &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible)
            m_inputRegionSinceShown = false;
    });
    panel->installEventFilter(this);

    panel->setInitialProperties({{QStringLiteral("bee"), QVariant::fromValue<QObject *>(&m_beeView)},
                                 {QStringLiteral("gesture"), QVariant::fromValue<QObject *>(m_drag)}});
    panel->setSource(QUrl(QStringLiteral("qrc:/zapum/companion/CompanionRootView.qml")));
    for (const QQmlError &error : panel->errors())
        qCWarning(lcCompanion) << "companion view:" << error.toString();

    m_frame = QRectF(QPointF(0, 0), companionPanelSize(side(), m_isVoiceExpanded));
    m_panel = std::move(panel);
    setFrame(m_frame);
    beginPatrolCycle();
    positionNearDock();
    updateInputRegion();  // before the window is mapped, so it never swallows a click
    bringToFront();
    startPatrol();
}

void CompanionManager::show()
{
    if (!m_panel)
        setup();
    setVisible(true);
    if (!m_userChoseFreePosition) {
        beginPatrolCycle();
        positionNearDock();
    }
    // No activation: the panel never takes the keyboard from the window the user works in.
    bringToFront();
    startPatrol();
}

void CompanionManager::hide()
{
    setVisible(false);
    m_patrolTimer.stop();
    if (m_panel)
        m_panel->hide();
}

void CompanionManager::toggle()
{
    if (!m_panel) {
        setup();
        setVisible(true);
        return;
    }
    const bool wasVisible = m_isVisible;
    setVisible(!wasVisible);
    if (wasVisible) {
        m_patrolTimer.stop();
        m_panel->hide();
        return;
    }
    beginPatrolCycle();
    if (!m_userChoseFreePosition)
        positionNearDock();
    bringToFront();
    startPatrol();
}

void CompanionManager::beginPatrolCycle()
{
    zapum::beginPatrolCycle(m_patrol, m_clock(), m_random, m_timings.patrol);
}

void CompanionManager::positionNearDock()
{
    if (!m_panel || m_isVoiceExpanded)
        return;
    setUserChoseFreePosition(false);
    QScreen *screen = mainScreen();
    if (!screen)
        return;
    const QRectF vf(screen->availableGeometry());
    const double s = side();
    setFrame(railFrame(patrolRail(vf, s), m_patrol.restingPosition(), vf, s, companionPanelSize(s, false)));
    m_patrol.phaseStart = m_clock();
}

void CompanionManager::refreshPanelGeometryPreservingCenter()
{
    if (!m_panel)
        return;
    if (m_expansion.state() == QAbstractAnimation::Running) {
        const QRectF end = m_expansion.endValue().toRectF();
        m_expansion.stop();
        setFrame(end);
    }
    std::optional<QRectF> vf;
    if (QScreen *screen = panelScreen())
        vf = QRectF(screen->availableGeometry());
    setFrame(resizedAroundCentre(m_frame, companionPanelSize(side(), m_isVoiceExpanded), vf));
    updateInputRegion();
}

void CompanionManager::applyVoiceExpansion(bool expanded)
{
    if (!m_panel || expanded == m_isVoiceExpanded)
        return;
    m_isVoiceExpanded = expanded;
    Q_EMIT isVoiceExpandedChanged();
    setPatrolSuspended(m_popoverOpen || m_isVoiceExpanded);
    updateInputRegion();

    std::optional<QRectF> vf;
    if (QScreen *screen = panelScreen())
        vf = QRectF(screen->availableGeometry());
    const QRectF target = voiceExpansionFrame(m_frame, companionPanelSize(side(), expanded), vf);
    m_expansion.stop();
    m_expansion.setDuration(expanded ? m_timings.expandMs : m_timings.collapseMs);
    m_expansion.setStartValue(m_frame);
    m_expansion.setEndValue(target);
    m_expansion.start();
}

void CompanionManager::startPatrol()
{
    m_patrolTimer.start();
}

void CompanionManager::tickPatrol()
{
    if (!m_panel || !m_isVisible || m_isPatrolSuspended || m_userChoseFreePosition || !patrolAllowed()
        || m_isVoiceExpanded || m_expansion.state() == QAbstractAnimation::Running || m_foreignMoveSettle.isActive())
        return;
    QScreen *screen = mainScreen();
    if (!screen)
        return;
    const QRectF vf(screen->availableGeometry());
    const double s = side();
    const PatrolRail rail = patrolRail(vf, s);
    if (!rail.usable())
        return;
    const double t = advancePatrol(m_patrol, m_clock(), m_random, m_timings.patrol);
    setFrame(railFrame(rail, t, vf, s, companionPanelSize(s, false)));
}

void CompanionManager::clampPanelToVisibleFrame()
{
    QScreen *screen = panelScreen();
    if (!m_panel || !screen)
        return;
    const QRectF clamped = clampedIntoFrame(m_frame, QRectF(screen->availableGeometry()));
    if (clamped != m_frame)
        setFrame(clamped);
}

void CompanionManager::watchScreens()
{
    auto watch = [this](QScreen *screen) {
        connect(screen, &QScreen::geometryChanged, this, &CompanionManager::onScreensChanged);
        connect(screen, &QScreen::availableGeometryChanged, this, &CompanionManager::onScreensChanged);
    };
    for (QScreen *screen : QGuiApplication::screens())
        watch(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen *screen) {
        watch(screen);
        onScreensChanged();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &CompanionManager::onScreensChanged);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &CompanionManager::onScreensChanged);
}

void CompanionManager::onScreensChanged()
{
    if (!m_isVisible)
        return;
    setUserChoseFreePosition(false);
    positionNearDock();
}

}  // namespace zapum
