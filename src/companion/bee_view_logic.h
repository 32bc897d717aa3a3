#pragma once

#include "voice/voice_bee_state.h"

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

}  // namespace zapum
