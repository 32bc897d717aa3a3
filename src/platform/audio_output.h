#pragma once

#include "foundation/failure.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <memory>

namespace zapum {

// Failures of local audio playback carry this domain.
inline constexpr auto kAudioDomain = "Audio";

enum class AudioFailure {
    Undecodable = 1,
    NoOutputDevice,
    OutputDeviceFailed,
};

// One decoded clip, played once on the default output. Destroying it stops the sound.
class AudioClipPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual std::chrono::milliseconds duration() const = 0;
    // Starts playback; fails when no output device can take the audio, and then plays nothing.
    virtual Status play() = 0;
    // True from play() until the device has run out of audio.
    virtual bool isPlaying() const = 0;
    // Mean power, in decibels relative to full scale, of the first channel's samples around what
    // is being heard now. Silence and "nothing heard yet" read as kSilenceDb.
    virtual double averagePowerDb() const = 0;

    static constexpr double kSilenceDb = -160.0;

Q_SIGNALS:
    // The output device took the clip's first frames.
    void firstFramesDelivered();
};

// The platform's audio output: turns MP3 bytes into a player.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // Fails with the decoder's own words when the bytes are not MP3 audio.
    virtual Result<std::unique_ptr<AudioClipPlayer>> openMp3(const QByteArray &mp3) = 0;
};

std::unique_ptr<AudioOutput> createAudioOutput();

}  // namespace zapum
