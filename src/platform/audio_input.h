#pragma once

#include "foundation/failure.h"

#include <QByteArray>

#include <functional>
#include <memory>

namespace zapum {

// Capture failures, from the microphone or from the recogniser behind it, share one domain.
inline const QString kVoiceErrorDomain = QStringLiteral("ZaPumVoice");

// Code 2 of that domain, said by whichever layer finds the microphone missing first.
inline Failure noMicrophoneFailure()
{
    return Failure{kVoiceErrorDomain, 2, QStringLiteral("No microphone was found. Connect one and try again.")};
}

// The shape of the samples an AudioInput delivers: interleaved 32-bit floats.
struct AudioInputFormat {
    int sampleRate = 0;
    int channelCount = 0;
};

// The microphone. Created, started, stopped and destroyed on one thread, which must run an event
// loop: frames are delivered there, in whatever chunk sizes the audio server chooses.
class AudioInput {
public:
    // `frames` frames of `channelCount` interleaved samples each.
    using FrameSink = std::function<void(const float *samples, qsizetype frames)>;

    virtual ~AudioInput() = default;

    // Opens the input in its own rate and channel count. On failure the input stays closed and
    // the Failure's message is a sentence for the user.
    virtual Result<AudioInputFormat> start(FrameSink sink) = 0;
    // Closes the input; frames still buffered in the audio server are dropped, not delivered.
    virtual void stop() = 0;
};

// Implemented by the platform back-end. An empty device id means the desktop's default input; a
// zero rate or channel count in `format` means the device's own.
std::unique_ptr<AudioInput> createAudioInput(const QByteArray &deviceId = {}, AudioInputFormat format = {});
// Whether the desktop has any audio input at all; the closest thing on Linux to a microphone
// permission.
bool audioInputPresent();

}  // namespace zapum
