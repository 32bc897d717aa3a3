#pragma once

#include "foundation/failure.h"

#include <QByteArrayView>
#include <QObject>

#include <memory>
#include <optional>

namespace zapum {

// Failures of local audio playback carry this domain.
inline constexpr auto kAudioDomain = "Audio";

enum class AudioFailure {
    Undecodable = 1,
    NoOutputDevice,
    OutputDeviceFailed,
};

// One utterance of MP3 audio played on the default output while it is still arriving: bytes go in
// as the network hands them over, the sound starts once a short cushion has been decoded, and a
// pause in the data is waited out in silence. Destroying it lets the audio server play out what
// it already holds; stop() silences it at once.
class AudioStreamPlayer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The next piece of the stream. Fails when the bytes so far cannot be MPEG audio, or when the
    // output cannot be opened for the first frames; everything after such a failure is ignored.
    virtual Status append(QByteArrayView mp3) = 0;
    // No more bytes will come; what is buffered plays out and ended() follows. Fails, playing
    // nothing, when the stream held no audio at all.
    virtual Status finish() = 0;
    // Silences the output within a few milliseconds; ended() is not emitted.
    virtual void stop() = 0;

    // True from the first sound until ended() or stop(), through any wait for late data.
    virtual bool isPlaying() const = 0;
    // Mean power, in decibels relative to full scale, of the first channel's samples around what
    // is being heard now. Silence, a wait for data and "nothing heard yet" read as kSilenceDb.
    virtual double averagePowerDb() const = 0;
    // How often the output ran dry before the stream had ended.
    virtual int underruns() const = 0;
    // Why the output gave up mid-way, if it did (ended() has then been emitted early).
    virtual std::optional<Failure> outputFailure() const = 0;

    static constexpr double kSilenceDb = -160.0;

Q_SIGNALS:
    // The output device took the first frames.
    void firstFramesDelivered();
    // Everything appended before finish() has been heard, or the output failed.
    void ended();
};

// The platform's audio output.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    virtual std::unique_ptr<AudioStreamPlayer> createPlayer() = 0;
};

std::unique_ptr<AudioOutput> createAudioOutput();

}  // namespace zapum
