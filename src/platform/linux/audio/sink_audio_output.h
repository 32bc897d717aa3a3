#pragma once

#include "platform/audio_output.h"
#include "platform/linux/audio/mp3_decoder.h"

#include <QAudioFormat>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <memory>

class QAudioSink;
class QIODevice;

namespace zapum {

struct StreamPlaybackTiming {
    // Decoded audio held back before the first sound, so that the gaps between network pieces
    // are not heard. The audio server is asked for the same target buffer, so after running dry
    // it waits for as much again before it resumes.
    std::chrono::milliseconds jitterBuffer{150};
    // How far the audio handed to the server runs ahead of what is heard: enough to ride out a
    // busy main thread for a moment.
    std::chrono::milliseconds lead{400};
    std::chrono::milliseconds feedInterval{10};
    // Queued audio that is not heard for this long means the server stopped playing it.
    std::chrono::milliseconds stallLimit{2000};
};

// Plays one MP3 stream through QAudioSink on the default output device, fed in push mode from a
// main-thread timer: the first frames go out the moment the cushion is decoded rather than on
// the sink's first polling tick, and the stream's end is known from the sink's played-out time.
class SinkAudioStreamPlayer : public AudioStreamPlayer {
    Q_OBJECT
public:
    explicit SinkAudioStreamPlayer(StreamPlaybackTiming timing = {}, QObject *parent = nullptr);
    ~SinkAudioStreamPlayer() override;

    Status append(QByteArrayView mp3) override;
    Status finish() override;
    void stop() override;
    bool isPlaying() const override;
    double averagePowerDb() const override;
    int underruns() const override { return m_underruns; }
    std::optional<Failure> outputFailure() const override { return m_outputFailure; }

private:
    Status startWhenCushioned();
    Status openSink();
    void feed();
    void end();
    qint64 heardFrames() const;
    // Everything handed to the device has been played out.
    bool allHeard(qint64 heard) const;
    qint64 writtenFrames() const { return m_written / m_decoder->bytesPerFrame(); }

    std::unique_ptr<Mp3Decoder> m_decoder;
    StreamPlaybackTiming m_timing;
    QAudioFormat m_format;
    QAudioSink *m_sink = nullptr;  // deleted later: its destructor spins the event loop
    QPointer<QIODevice> m_device;  // owned by the sink
    QTimer m_feedTimer;
    std::optional<Failure> m_failure;        // of the stream or the device start; sticks
    std::optional<Failure> m_outputFailure;  // of the device, once playing
    qint64 m_written = 0;                    // bytes of decoded audio handed to the device
    bool m_inputEnded = false;
    bool m_padded = false;
    bool m_ended = false;
    bool m_stopped = false;
    bool m_dry = false;
    int m_underruns = 0;
    qint64 m_lastHeard = -1;
    qint64 m_heardStillSinceMs = 0;
    QElapsedTimer m_clock;
};

class SinkAudioOutput : public AudioOutput {
public:
    explicit SinkAudioOutput(StreamPlaybackTiming timing = {}) : m_timing(timing) {}
    std::unique_ptr<AudioStreamPlayer> createPlayer() override;

private:
    StreamPlaybackTiming m_timing;
};

// Mean power in dB of channel 0 over `frameCount` frames centred on `centreFrame`, from
// interleaved 16-bit PCM; frames outside the PCM are left out.
double meanPowerDb(const QByteArray &pcm, int channelCount, qint64 centreFrame, qint64 frameCount);

}  // namespace zapum
