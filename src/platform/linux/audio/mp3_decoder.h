#pragma once

#include "foundation/failure.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

struct mpg123_handle_struct;

namespace zapum {

// An MP3 stream decoded by libmpg123's feed reader to interleaved signed 16-bit PCM as its bytes
// arrive, so that playback can start after the first frames instead of after the whole reply.
// Bytes may be cut anywhere, inside a frame header or a tag alike; a frame decodes once all of
// it is in.
class Mp3Decoder {
public:
    static Result<std::unique_ptr<Mp3Decoder>> create();
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder &) = delete;
    Mp3Decoder &operator=(const Mp3Decoder &) = delete;

    // Takes the next bytes and decodes every frame they complete. Fails when the bytes cannot be
    // MPEG audio before any frame decoded; a stream damaged after that stops where it broke.
    // Once failed or finished, further bytes are ignored.
    Status feed(QByteArrayView mp3);
    // The stream is over. Fails when it held no audio frame at all.
    Status finish();

    // Known from the first frame on.
    bool hasFormat() const { return m_sampleRate > 0; }
    int sampleRate() const { return m_sampleRate; }
    int channelCount() const { return m_channelCount; }
    qint64 bytesPerFrame() const { return qint64(m_channelCount) * qint64(sizeof(qint16)); }
    // Milliseconds of audio decoded so far.
    qint64 decodedMs() const;
    // No more PCM will come: finish() was called, or the stream broke.
    bool finished() const { return m_finished; }
    // Everything decoded so far.
    const QByteArray &pcm() const { return m_pcm; }

private:
    Mp3Decoder() = default;
    Status decodeAvailable();

    mpg123_handle_struct *m_handle = nullptr;
    int m_sampleRate = 0;
    int m_channelCount = 0;
    QByteArray m_pcm;
    bool m_finished = false;
    std::optional<Failure> m_failure;
};

}  // namespace zapum
