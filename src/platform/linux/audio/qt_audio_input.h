#pragma once

#include "platform/audio_input.h"

#include <QAudioDevice>
#include <QByteArray>

#include <memory>

class QAudioSource;
class QIODevice;

namespace zapum {

// The microphone through Qt Multimedia (PulseAudio or PipeWire on Linux), recorded in the
// device's own rate and channel count as 32-bit floats.
class QtAudioInput final : public AudioInput {
public:
    QtAudioInput(QByteArray deviceId, AudioInputFormat format);
    ~QtAudioInput() override;

    Result<AudioInputFormat> start(FrameSink sink) override;
    void stop() override;

private:
    QAudioDevice findDevice() const;
    void readAvailable();

    QByteArray m_deviceId;
    AudioInputFormat m_requested;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_io = nullptr;  // owned by m_source
    FrameSink m_sink;
    int m_bytesPerFrame = 0;
    QByteArray m_pending;
};

}  // namespace zapum
