#pragma once

#include "voice/voice_bee_state.h"

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>

#include <array>
#include <optional>

namespace zapum {

// What the voice card shows for one moment of a conversation. Plain functions so the rules are
// tested without a window; the QML only lays out and binds.

struct ChipInputs {
    VoiceBeeState state;
    QString lastTranscript;
    QString lastAssistantReply;
    std::optional<QString> lastError;
};

// The words the caption chip shows; empty means the chip shows the state's label instead.
QString chipText(const ChipInputs &inputs);

// The label shown (upper case) when there are no words: "HOLD RIGHT ALT TO TALK" (naming the
// talk key, a modifier_keys code), "LISTENING", ...
QString statusLabel(VoiceBeeState::Kind kind, quint16 talkKey);

struct CardColours {
    QColor caption;      // the status label
    QColor chipStroke;   // the chip's outline
    QColor chipText;     // the words in the chip
};
CardColours cardColours(VoiceBeeState::Kind kind);

// The chip grows up to this height before it scrolls; errors get one more line.
double chipMaxHeight(VoiceBeeState::Kind kind);

inline constexpr int kVoiceBarCount = 7;

// Left to right: amber at the edges, white in the middle.
const std::array<QColor, kVoiceBarCount> &voiceBarPalette();

struct BarStyle {
    QColor fill;
    QColor glowBase;      // the outer glow's colour
    double innerGlowRadius = 0.0;
    double outerGlowRadius = 0.0;
};
BarStyle voiceBarStyle(VoiceBeeState::Kind kind, int index);

// Height in points of bar `index` at time `seconds`. `levels` are the amplitude publisher's band
// levels (only read while listening or speaking); an index past their end reads the last one.
double voiceBarHeight(VoiceBeeState::Kind kind, int index, double seconds, const QList<float> &levels,
                      bool reduceMotion);


// How the bee model stands at one moment. The view applies it to the model's nodes; between two
// different poses it draws nothing, so a bee at rest costs no frames at all.
struct BeePose {
    double wingRadians = 0.0;  // each wing's beat about the body's long axis, mirrored between the two
    double lift = 0.0;         // the bob, as a share of the bee's half height; up is positive
    double tiltDegrees = 0.0;  // the nose up (positive) or down
    bool operator==(const BeePose &) const = default;
};

// The pose at `seconds` since the view started. Idle: still, with a short flutter now and then.
// Listening: quick wing beats and a small lift. Thinking: head tilted, slow flutters. Speaking:
// steady beats and a bob. Error: drooping and still. Reduce motion: every state's pose without
// the beats and the bob.
BeePose beePose(VoiceBeeState::Kind kind, double seconds, bool reduceMotion);

// Milliseconds from `seconds` until the pose should be drawn again: one frame interval (never
// more than 30 frames a second) while the bee moves, the wait for its next flutter while it
// rests, and -1 when it will not move again in this state.
int beeNextFrameMs(VoiceBeeState::Kind kind, double seconds, bool reduceMotion);

// Why the bytes are not a complete binary glTF 2.0 file (header, JSON chunk and the optional
// binary chunk, all within the stated length), or nothing when they are.
std::optional<QString> glbProblem(const QByteArray &bytes);

}  // namespace zapum
