#include "companion/voice_bars_item.h"

#include "voice/voice_amplitude_publisher.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QQmlEngine>

#include <algorithm>
#include <cmath>

namespace zapum {

namespace {

constexpr double kBarWidth = 7.0;
constexpr double kBarSpacing = 6.0;
constexpr double kStiffness = 260.0;
constexpr double kDamping = 20.0;
constexpr int kGlowLayers = 4;

bool springDriven(VoiceBeeState::Kind kind)
{
    return kind == VoiceBeeState::Kind::Listening || kind == VoiceBeeState::Kind::Speaking;
}

// Seconds of wall-clock time, so every bar view (and a restarted one) is in the same phase.
double frameSeconds()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

// A soft glow around a capsule: a few widening, faint capsules approximate a blurred shadow at a
// fraction of a blur's cost.
void paintGlow(QPainter &painter, const QRectF &bar, const QColor &colour, double opacity, double radius)
{
    if (radius <= 0.0)
        return;
    // Half strength at the bar's edge, fading to nothing at the radius, as a blur would.
    QColor layer = colour;
    layer.setAlphaF(float(colour.alphaF() * opacity * 0.5 / kGlowLayers));
    painter.setBrush(layer);
    for (int i = kGlowLayers; i >= 1; --i) {
        const double grow = radius * i / kGlowLayers;
        const QRectF r = bar.adjusted(-grow, -grow, grow, grow);
        const double round = r.width() / 2.0;
        painter.drawRoundedRect(r, round, round);
    }
}

}  // namespace

void BarSpring::step(double target, double seconds)
{
    // Small fixed steps keep the stiff spring stable whatever the frame interval was.
    constexpr double kStep = 1.0 / 240.0;
    for (double left = seconds; left > 0.0; left -= kStep) {
        const double dt = std::min(kStep, left);
        const double acceleration = -kStiffness * (position - target) - kDamping * velocity;
        velocity += acceleration * dt;
        position += velocity * dt;
    }
}

VoiceBarsItem::VoiceBarsItem(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    setOpaquePainting(false);
    m_frameTimer.setInterval(16);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &VoiceBarsItem::advance);
    m_clock.start();
    advance();
}

void VoiceBarsItem::registerQmlType()
{
    static const bool registered = [] {
        qmlRegisterType<VoiceBarsItem>("ZaPum.Companion", 1, 0, "VoiceBars");
        return true;
    }();
    Q_UNUSED(registered);
}

void VoiceBarsItem::setStateKind(int kind)
{
    const auto newKind = VoiceBeeState::Kind(std::clamp(kind, 0, int(VoiceBeeState::Kind::Error)));
    if (newKind == m_kind)
        return;
    m_kind = newKind;
    // Each state starts from its own first frame, like a freshly built bar view.
    for (size_t i = 0; i < m_springs.size(); ++i)
        m_springs[i] = {m_heights[i], 0.0};
    Q_EMIT stateKindChanged();
    advance();
    updateRunning();
}

void VoiceBarsItem::setReduceMotion(bool reduce)
{
    if (reduce == m_reduceMotion)
        return;
    m_reduceMotion = reduce;
    Q_EMIT reduceMotionChanged();
    advance();
    updateRunning();
}

QObject *VoiceBarsItem::amplitude() const
{
    return m_amplitude.data();
}

void VoiceBarsItem::setAmplitude(QObject *amplitude)
{
    auto *publisher = qobject_cast<VoiceAmplitudePublisher *>(amplitude);
    if (publisher == m_amplitude)
        return;
    if (m_amplitude)
        disconnect(m_amplitude, nullptr, this, nullptr);
    m_amplitude = publisher;
    m_levels = QList<float>(kVoiceBarCount, 0.0f);
    if (publisher) {
        m_levels = publisher->levels();
        connect(publisher, &VoiceAmplitudePublisher::levelsChanged, this,
                [this, publisher] { m_levels = publisher->levels(); });
    }
    Q_EMIT amplitudeChanged();
    advance();
}

bool VoiceBarsItem::moves() const
{
    if (m_reduceMotion)
        return false;
    if (m_kind != VoiceBeeState::Kind::Error)
        return true;
    // Error bars lie flat; keep ticking only until the springs from the last state have settled.
    return std::any_of(m_heights.begin(), m_heights.end(), [](double h) { return std::abs(h - 8.0) > 0.01; });
}

void VoiceBarsItem::updateRunning()
{
    const bool run = isVisible() && window() != nullptr && moves();
    if (run && !m_frameTimer.isActive()) {
        m_lastFrame = m_clock.elapsed() / 1000.0;
        m_frameTimer.start();
    } else if (!run) {
        m_frameTimer.stop();
    }
}

void VoiceBarsItem::advance()
{
    const double now = m_clock.elapsed() / 1000.0;
    const double dt = std::clamp(now - m_lastFrame, 0.0, 0.1);
    m_lastFrame = now;
    const QList<float> &levels = m_levels;
    const double t = frameSeconds();
    for (int i = 0; i < kVoiceBarCount; ++i) {
        const double target = voiceBarHeight(m_kind, i, t, levels, m_reduceMotion);
        if (springDriven(m_kind) && !m_reduceMotion) {
            m_springs[size_t(i)].step(target, dt);
            m_heights[size_t(i)] = std::max(0.0, m_springs[size_t(i)].position);
        } else {
            m_heights[size_t(i)] = target;
            m_springs[size_t(i)] = {target, 0.0};
        }
    }
    update();
    if (!moves())
        m_frameTimer.stop();
}

void VoiceBarsItem::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickPaintedItem::itemChange(change, value);
    if (change == ItemVisibleHasChanged || change == ItemSceneChange)
        updateRunning();
}

void VoiceBarsItem::paint(QPainter *painter)
{
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    const double rowWidth = kVoiceBarCount * kBarWidth + (kVoiceBarCount - 1) * kBarSpacing;
    const double x0 = (width() - rowWidth) / 2.0;
    const double midY = height() / 2.0;
    std::array<QRectF, kVoiceBarCount> bars;
    for (int i = 0; i < kVoiceBarCount; ++i) {
        const double h = m_heights[size_t(i)];
        bars[size_t(i)] = QRectF(x0 + i * (kBarWidth + kBarSpacing), midY - h / 2.0, kBarWidth, h);
    }
    // All glows first, so a neighbour's glow never lies over a bar.
    for (int i = 0; i < kVoiceBarCount; ++i) {
        const BarStyle style = voiceBarStyle(m_kind, i);
        paintGlow(*painter, bars[size_t(i)], style.glowBase, 0.55, style.outerGlowRadius);
        paintGlow(*painter, bars[size_t(i)], style.fill, 0.9, style.innerGlowRadius);
    }
    for (int i = 0; i < kVoiceBarCount; ++i) {
        painter->setBrush(voiceBarStyle(m_kind, i).fill);
        const QRectF &bar = bars[size_t(i)];
        const double round = std::min(bar.width(), bar.height()) / 2.0;
        painter->drawRoundedRect(bar, round, round);
    }
}

}  // namespace zapum
