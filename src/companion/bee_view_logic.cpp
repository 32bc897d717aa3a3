#include "companion/bee_view_logic.h"

#include "voice/talk_key.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zapum {

using Kind = VoiceBeeState::Kind;

QString chipText(const ChipInputs &inputs)
{
    switch (inputs.state.kind()) {
    case Kind::Listening:
    case Kind::Thinking: return inputs.lastTranscript;
    case Kind::Speaking: return inputs.lastAssistantReply;
    case Kind::Idle: return inputs.lastAssistantReply.isEmpty() ? inputs.lastTranscript : inputs.lastAssistantReply;
    case Kind::Error:
        return inputs.state.message().isEmpty() ? inputs.lastError.value_or(QString()) : inputs.state.message();
    }
    return {};
}

QString statusLabel(Kind kind, quint16 talkKey)
{
    switch (kind) {
    case Kind::Idle: return idleTalkLabel(talkKey);
    case Kind::Listening: return QStringLiteral("LISTENING");
    case Kind::Thinking: return QStringLiteral("THINKING");
    case Kind::Speaking: return QStringLiteral("SPEAKING");
    case Kind::Error: return QStringLiteral("ERROR");
    }
    return {};
}

namespace {

QColor white(double opacity)
{
    return QColor::fromRgbF(1.0f, 1.0f, 1.0f, float(opacity));
}

QColor rgb(double r, double g, double b, double opacity = 1.0)
{
    return QColor::fromRgbF(float(r), float(g), float(b), float(opacity));
}

}  // namespace

CardColours cardColours(Kind kind)
{
    const QColor errorText = rgb(1.0, 0.55, 0.55);
    const QColor normalText = white(0.95);
    switch (kind) {
    case Kind::Listening: return {rgb(1.0, 0.84, 0.36), rgb(1.0, 0.84, 0.36, 0.35), normalText};
    case Kind::Speaking: return {white(0.92), white(0.25), normalText};
    case Kind::Error: return {rgb(1.0, 0.48, 0.48), rgb(1.0, 0.48, 0.48, 0.6), errorText};
    case Kind::Idle:
    case Kind::Thinking: break;
    }
    return {white(0.7), white(0.15), normalText};
}

double chipMaxHeight(Kind kind)
{
    return kind == Kind::Error ? 54.0 : 42.0;
}

const std::array<QColor, kVoiceBarCount> &voiceBarPalette()
{
    static const std::array<QColor, kVoiceBarCount> palette{
        rgb(0.96, 0.66, 0.10), rgb(1.0, 0.76, 0.18), rgb(1.0, 0.84, 0.36), white(1.0),
        rgb(1.0, 0.84, 0.36),  rgb(1.0, 0.76, 0.18), rgb(0.96, 0.66, 0.10)};
    return palette;
}

BarStyle voiceBarStyle(Kind kind, int index)
{
    const QColor base = voiceBarPalette()[size_t(std::clamp(index, 0, kVoiceBarCount - 1))];
    switch (kind) {
    case Kind::Idle: {
        QColor dimmed = base;
        dimmed.setAlphaF(0.4f);
        return {dimmed, base, 0.0, 0.0};
    }
    case Kind::Listening: return {base, base, 5.0, 8.5};
    case Kind::Thinking: return {base, base, 3.5, 5.95};
    case Kind::Speaking: return {base, base, 8.0, 13.6};
    case Kind::Error: {
        const QColor red = rgb(1.0, 0.32, 0.32);
        return {red, red, 9.0, 15.3};
    }
    }
    return {base, base, 0.0, 0.0};
}

double voiceBarHeight(Kind kind, int index, double seconds, const QList<float> &levels, bool reduceMotion)
{
    const double i = index;
    const double w = std::exp(-(i - 3.0) * (i - 3.0) / 5.0);
    if (reduceMotion)
        return 16.0 + 8.0 * w;
    const double phi = 2.0 * std::numbers::pi * seconds;
    switch (kind) {
    case Kind::Idle: return 4.0 + 4.0 * (0.5 + 0.5 * std::sin(0.3 * i + 0.55 * phi));
    case Kind::Listening:
    case Kind::Speaking: {
        // The publisher always holds seven levels; an empty list would be a wiring fault, and a
        // flat bar is the least surprising way to show it.
        if (levels.isEmpty())
            return 8.0;
        const double level = levels[std::clamp(index, 0, int(levels.size()) - 1)];
        return 8.0 + 52.0 * level * (0.55 + 0.75 * w);
    }
    case Kind::Thinking:
        return 10.0 + 38.0 * (0.5 + 0.5 * w) * (0.15 + 0.7 * (0.5 + 0.5 * std::sin(1.2 * phi - 0.55 * i)));
    case Kind::Error: return 8.0;
    }
    return 8.0;
}

}  // namespace zapum
