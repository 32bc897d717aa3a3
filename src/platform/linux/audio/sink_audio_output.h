#pragma once

#include "platform/audio_output.h"
#include "platform/linux/audio/mp3_decoder.h"

#include <QAudioFormat>
#include <QPointer>
#include <QTimer>

#include <memory>

class QAudioSink;
class QIODevice;

namespace zapum {

// Plays one MP3 clip through QAudioSink on the default output device. The sink is fed in push
// mode: the first frames go out the moment play() is called instead of on the sink's first
// polling tick, and decoding stays only a little ahead of what is heard.
class SinkAudioClipPlayer : public AudioClipPlayer {
    Q_OBJECT
public:
    explicit SinkAudioClipPlayer(std::unique_ptr<Mp3Decoder> decoder, QObject *parent = nullptr);
    ~SinkAudioClipPlayer() override;

    std::chrono::milliseconds duration() const override;
    Status play() override;
    bool isPlaying() const override;
    double averagePowerDb() const override;

private:
    // Hands the device `wanted` more bytes, or by default whatever keeps it its lead ahead.
    void feed(qint64 wanted = 0);
    qint64 heardFrames() const;

    std::unique_ptr<Mp3Decoder> m_decoder;
    QAudioFormat m_format;
    QAudioSink *m_sink = nullptr;  // deleted later: its destructor spins the event loop
    QPointer<QIODevice> m_device;  // owned by the sink
    QTimer m_feedTimer;
    qint64 m_written = 0;  // bytes handed to the device
};

class SinkAudioOutput : public AudioOutput {
public:
    Result<std::unique_ptr<AudioClipPlayer>> openMp3(const QByteArray &mp3) override;
};

// Mean power in dB of channel 0 over `frameCount` frames centred on `centreFrame`, from
// interleaved 16-bit PCM; frames outside the PCM are left out.
double meanPowerDb(const QByteArray &pcm, int channelCount, qint64 centreFrame, qint64 frameCount);

}  // namespace zapum
