#pragma once

#include <QRectF>
#include <QSizeF>

#include <functional>
#include <optional>

namespace zapum {

namespace settings_keys {
inline const QString kCompanionSide = QStringLiteral("ZaPumCompanionSide");
inline const QString kPatrolNearDockEnabled = QStringLiteral("ZaPumPatrolNearDockEnabled");
}  // namespace settings_keys

// Everything here works in Qt's screen space: points, origin at the top-left, y growing
// downwards. "Visible frame" is a screen's available geometry (without panels and docks).

// The bee's side length from the stored setting: nothing stored, zero, negative or not a finite
// number give the default; anything else is held to the range the panel is designed for.
double companionSide(std::optional<double> stored);

inline constexpr double kDefaultCompanionSide = 72.0;
inline constexpr double kMinCompanionSide = 48.0;
inline constexpr double kMaxCompanionSide = 96.0;

// The panel grows for a voice turn so that the card with the bars fits above the bee.
QSizeF companionPanelSize(double side, bool voiceExpanded);

// The short track above the bottom edge the bee strolls along: the centred 38 % of the span that
// keeps 48 points from either side. When the screen is too narrow the span stays un-narrowed and
// `usable()` is false.
struct PatrolRail {
    double left = 0.0;
    double right = 0.0;
    bool usable() const { return left < right; }
};
PatrolRail patrolRail(const QRectF &visibleFrame, double side);

inline constexpr double kRailInset = 48.0;
inline constexpr double kRailWidthFraction = 0.38;
inline constexpr double kPanelBottomGap = 18.0;

// The panel frame for rail position t (0 = rail start, 1 = rail end), 18 points above the bottom.
QRectF railFrame(const PatrolRail &rail, double t, const QRectF &visibleFrame, double side, QSizeF panel);

// Where the bee is inside its panel: bottom-aligned and centred, side x side.
QRectF beeFrameInPanel(const QRectF &panel, double side);

// Where the voice card is inside its panel: centred, 6 points above the bee. With the bee it is
// all the panel draws; the rest is see-through and left to the windows below.
QRectF voiceCardFrameInPanel(const QRectF &panel, double side);
inline constexpr double kVoiceCardWidth = 240.0;
inline constexpr double kVoiceCardHeight = 112.0;
inline constexpr double kVoiceCardGap = 6.0;

// A resize that keeps the panel's centre, then holds it inside the visible frame when one is known
// (the top edge wins when the panel is taller than the frame).
QRectF resizedAroundCentre(const QRectF &current, QSizeF size, std::optional<QRectF> visibleFrame);

// The voice expansion (or collapse): keeps the horizontal centre and the bottom edge, then stays
// 4 points inside the visible frame when one is known; the bottom edge wins over the top.
QRectF voiceExpansionFrame(const QRectF &current, QSizeF size, std::optional<QRectF> visibleFrame);
inline constexpr double kExpansionMargin = 4.0;

// Where a panel the user dropped ends up: pulled fully inside the visible frame, size unchanged.
QRectF clampedIntoFrame(const QRectF &current, const QRectF &visibleFrame);

// Cubic ease-in-out of walk progress p; 0 before the start, 1 after the end.
double easeInOutCubic(double p);

// Uniform random number in [lo, hi], both ends included.
using UniformRandom = std::function<double(double lo, double hi)>;
UniformRandom systemUniformRandom();

struct PatrolTimings {
    double walkSeconds = 22.0;
    double firstPauseMin = 10.0;
    double firstPauseMax = 20.0;
    double laterPauseMin = 8.0;
    double laterPauseMax = 18.0;
};

enum class PatrolPhase { Pausing, Walking };

// The stroll as a plain value: the manager keeps one and feeds it the clock.
struct PatrolState {
    PatrolPhase phase = PatrolPhase::Pausing;
    double phaseStart = 0.0;  // seconds on the manager's clock
    double pauseSeconds = 12.0;
    double strollFrom = 0.5;
    double strollTo = 0.5;

    // Where the panel sits while it is placed rather than strolling.
    double restingPosition() const { return (strollFrom + strollTo) / 2.0; }
};

// Targets closer than 0.12 to the start are pushed `push` away from it, towards the middle.
double separatedTarget(double from, double to, double push);
inline constexpr double kFirstCyclePush = 0.2;
inline constexpr double kLaterCyclePush = 0.25;

// A fresh pause with new random rail positions (the first cycle after placement).
void beginPatrolCycle(PatrolState &state, double now, const UniformRandom &random, const PatrolTimings &timings);

// One patrol step at time `now`: advances the phase and returns the rail position to show.
double advancePatrol(PatrolState &state, double now, const UniformRandom &random, const PatrolTimings &timings);

}  // namespace zapum
