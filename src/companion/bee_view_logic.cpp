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

namespace {

// How one state moves: flutters of `burst` seconds every `cycle` seconds (continuous when the
// burst fills the cycle), the wing beat and the bob inside them, and the held tilt.
struct BeeRhythm {
    double cycle = 0.0;
    double burst = 0.0;
    double beatsPerSecond = 0.0;
    double wingAmplitude = 0.0;  // radians
    double lift = 0.0;           // at the height of a flutter
    double bobAmplitude = 0.0;   // a slow swell on top, for the continuous states
    double bobPerSecond = 0.0;
    double tiltDegrees = 0.0;
    int framesPerSecond = 0;     // 0: the state never moves
    bool continuous() const { return burst >= cycle; }
};

BeeRhythm rhythmFor(Kind kind)
{
    switch (kind) {
    // Under software GL every frame of the 3D view costs real CPU, so the idle bee rests about
    // four fifths of the time and flutters at 15 frames a second.
    case Kind::Idle: return {7.0, 1.6, 3.2, 0.55, 0.08, 0.0, 0.0, 0.0, 15};
    case Kind::Listening: return {1.0, 1.0, 5.0, 0.6, 0.06, 0.03, 0.9, 4.0, 20};
    case Kind::Thinking: return {3.0, 1.0, 2.4, 0.35, 0.04, 0.0, 0.0, 10.0, 12};
    case Kind::Speaking: return {1.0, 1.0, 4.0, 0.45, 0.03, 0.05, 1.6, 0.0, 15};
    case Kind::Error: return {1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -12.0, 0};
    }
    return {};
}

quint32 readLittleEndian32(const QByteArray &bytes, qsizetype at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

}  // namespace

BeePose beePose(Kind kind, double seconds, bool reduceMotion)
{
    const BeeRhythm r = rhythmFor(kind);
    BeePose pose{0.0, 0.0, r.tiltDegrees};
    if (reduceMotion || r.framesPerSecond == 0)
        return pose;
    const double tau = 2.0 * std::numbers::pi;
    double strength = 1.0;
    if (!r.continuous()) {
        const double phase = std::fmod(std::max(0.0, seconds), r.cycle);
        if (phase >= r.burst)
            return pose;
        // The flutter swells and fades, so it starts and ends at the resting pose.
        strength = std::sin(std::numbers::pi * phase / r.burst);
    }
    pose.wingRadians = r.wingAmplitude * strength * std::sin(tau * r.beatsPerSecond * seconds);
    pose.lift = r.lift * strength + r.bobAmplitude * std::sin(tau * r.bobPerSecond * seconds);
    return pose;
}

int beeNextFrameMs(Kind kind, double seconds, bool reduceMotion)
{
    const BeeRhythm r = rhythmFor(kind);
    if (reduceMotion || r.framesPerSecond == 0)
        return -1;
    const int frame = int(std::lround(1000.0 / std::min(r.framesPerSecond, 30)));
    if (r.continuous())
        return frame;
    const double phase = std::fmod(std::max(0.0, seconds), r.cycle);
    if (phase < r.burst)
        return frame;
    return std::max(1, int(std::ceil((r.cycle - phase) * 1000.0)));
}

std::optional<QString> glbProblem(const QByteArray &bytes)
{
    constexpr quint32 kMagic = 0x46546c67;      // "glTF"
    constexpr quint32 kJsonChunk = 0x4e4f534a;  // "JSON"
    constexpr quint32 kBinChunk = 0x004e4942;   // "BIN\0"
    if (bytes.size() < 20)
        return QStringLiteral("the file is too short for a binary glTF model (%1 bytes)").arg(bytes.size());
    if (readLittleEndian32(bytes, 0) != kMagic)
        return QStringLiteral("the file is not a binary glTF model");
    if (readLittleEndian32(bytes, 4) != 2)
        return QStringLiteral("the model is glTF version %1, not 2").arg(readLittleEndian32(bytes, 4));
    if (readLittleEndian32(bytes, 8) != quint64(bytes.size()))
        return QStringLiteral("the model says it holds %1 bytes but the file has %2 (cut short or padded)")
            .arg(readLittleEndian32(bytes, 8))
            .arg(bytes.size());
    qsizetype at = 12;
    for (int chunk = 0; at < bytes.size(); ++chunk) {
        if (bytes.size() - at < 8)
            return QStringLiteral("the model ends inside a chunk header");
        const quint64 length = readLittleEndian32(bytes, at);
        const quint32 type = readLittleEndian32(bytes, at + 4);
        if (chunk > 1 || type != (chunk == 0 ? kJsonChunk : kBinChunk))
            return QStringLiteral("the model's chunk %1 is not the expected %2").arg(chunk).arg(chunk == 0 ? QLatin1String("JSON") : QLatin1String("BIN"));
        if (length > quint64(bytes.size() - at - 8))
            return QStringLiteral("the model's chunk %1 runs past the end of the file").arg(chunk);
        at += 8 + qsizetype(length);
    }
    if (at == 12)
        return QStringLiteral("the model has no JSON chunk");
    return std::nullopt;
}

}  // namespace zapum
