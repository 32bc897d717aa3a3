#include "companion/companion_geometry.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace zapum {

double companionSide(std::optional<double> stored)
{
    if (!stored || !std::isfinite(*stored) || *stored <= 0.0)
        return kDefaultCompanionSide;
    return std::clamp(*stored, kMinCompanionSide, kMaxCompanionSide);
}

QSizeF companionPanelSize(double side, bool voiceExpanded)
{
    if (voiceExpanded)
        return {std::max(side + 18.0, 240.0), side + 127.0};  // 118 for the voice card, plus 9
    return {side + 18.0, side + 18.0};
}

PatrolRail patrolRail(const QRectF &visibleFrame, double side)
{
    PatrolRail rail{visibleFrame.left() + kRailInset, visibleFrame.right() - side - kRailInset};
    if (rail.usable()) {
        const double span = rail.right - rail.left;
        rail.left += (span - span * kRailWidthFraction) / 2.0;
        rail.right = rail.left + span * kRailWidthFraction;
    }
    return rail;
}

QRectF railFrame(const PatrolRail &rail, double t, const QRectF &visibleFrame, double side, QSizeF panel)
{
    const double x = rail.left + (rail.right - rail.left) * t + side / 2.0 - panel.width() / 2.0;
    const double y = visibleFrame.bottom() - kPanelBottomGap - panel.height();
    return {x, y, panel.width(), panel.height()};
}

QRectF beeFrameInPanel(const QRectF &panel, double side)
{
    return {panel.center().x() - side / 2.0, panel.bottom() - side, side, side};
}

QRectF voiceCardFrameInPanel(const QRectF &panel, double side)
{
    const double bottom = panel.bottom() - side - kVoiceCardGap;
    return {panel.center().x() - kVoiceCardWidth / 2.0, bottom - kVoiceCardHeight, kVoiceCardWidth, kVoiceCardHeight};
}

QRectF resizedAroundCentre(const QRectF &current, QSizeF size, std::optional<QRectF> visibleFrame)
{
    const QPointF centre = current.center();
    double x = centre.x() - size.width() / 2.0;
    double y = centre.y() - size.height() / 2.0;
    if (visibleFrame) {
        x = std::min(std::max(x, visibleFrame->left()), visibleFrame->right() - size.width());
        y = std::max(std::min(y, visibleFrame->bottom() - size.height()), visibleFrame->top());
    }
    return {x, y, size.width(), size.height()};
}

QRectF voiceExpansionFrame(const QRectF &current, QSizeF size, std::optional<QRectF> visibleFrame)
{
    double x = current.center().x() - size.width() / 2.0;
    double y = current.bottom() - size.height();
    if (visibleFrame) {
        const QRectF &vf = *visibleFrame;
        x = std::min(vf.right() - size.width() - kExpansionMargin, std::max(x, vf.left() + kExpansionMargin));
        y = std::max(y, vf.top() + kExpansionMargin);
        y = std::min(y, vf.bottom() - size.height() - kExpansionMargin);
    }
    return {x, y, size.width(), size.height()};
}

QRectF clampedIntoFrame(const QRectF &current, const QRectF &visibleFrame)
{
    const double x = std::min(visibleFrame.right() - current.width(), std::max(current.x(), visibleFrame.left()));
    const double y = std::max(std::min(current.y(), visibleFrame.bottom() - current.height()), visibleFrame.top());
    return {x, y, current.width(), current.height()};
}

double easeInOutCubic(double p)
{
    if (p < 0.0)
        return 0.0;
    if (p < 0.5)
        return 4.0 * p * p * p;
    if (p < 1.0)
        return 1.0 - std::pow(2.0 - 2.0 * p, 3.0) / 2.0;
    return 1.0;
}

UniformRandom systemUniformRandom()
{
    return [](double lo, double hi) {
        // 2^53 + 1 equally likely steps, so both ends of the range can come up.
        constexpr quint64 kSteps = (quint64(1) << 53);
        const double unit = double(QRandomGenerator::global()->bounded(kSteps + 1)) / double(kSteps);
        return lo + (hi - lo) * unit;
    };
}

double separatedTarget(double from, double to, double push)
{
    if (std::abs(to - from) >= 0.12)
        return to;
    return std::clamp(from > 0.5 ? from - push : from + push, 0.08, 0.92);
}

void beginPatrolCycle(PatrolState &state, double now, const UniformRandom &random, const PatrolTimings &timings)
{
    state.phase = PatrolPhase::Pausing;
    state.phaseStart = now;
    state.pauseSeconds = random(timings.firstPauseMin, timings.firstPauseMax);
    state.strollFrom = random(0.15, 0.85);
    state.strollTo = separatedTarget(state.strollFrom, random(0.15, 0.85), kFirstCyclePush);
}

double advancePatrol(PatrolState &state, double now, const UniformRandom &random, const PatrolTimings &timings)
{
    const double elapsed = now - state.phaseStart;
    if (state.phase == PatrolPhase::Walking) {
        const double p = elapsed / timings.walkSeconds;
        const double position = state.strollFrom + easeInOutCubic(p) * (state.strollTo - state.strollFrom);
        if (p >= 1.0) {
            state.strollFrom = state.strollTo;
            state.phase = PatrolPhase::Pausing;
            state.phaseStart = now;
            state.pauseSeconds = random(timings.laterPauseMin, timings.laterPauseMax);
            state.strollTo = separatedTarget(state.strollFrom, random(0.15, 0.85), kLaterCyclePush);
        }
        return position;
    }
    if (state.pauseSeconds <= elapsed) {
        state.phase = PatrolPhase::Walking;
        state.phaseStart = now;
    }
    return state.strollFrom;
}

}  // namespace zapum
