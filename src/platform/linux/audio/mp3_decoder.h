#pragma once

#include "foundation/failure.h"

#include <QByteArray>

#include <limits>
#include <memory>

struct mpg123_handle_struct;

namespace zapum {

// MP3 bytes in memory, decoded by libmpg123 to interleaved signed 16-bit PCM on demand, so that
// playback can start after the first frames instead of after the whole clip. The length is known
// up front: opening scans every frame header, which costs far less than decoding.
class Mp3Decoder {
public:
    static Result<std::unique_ptr<Mp3Decoder>> open(QByteArray mp3);
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder &) = delete;
    Mp3Decoder &operator=(const Mp3Decoder &) = delete;

    int sampleRate() const { return m_sampleRate; }
    int channelCount() const { return m_channelCount; }
    // Frames (one sample per channel) in the whole clip, as announced by the scan.
    qint64 frameCount() const { return m_frameCount; }
    qint64 bytesPerFrame() const { return qint64(m_channelCount) * qint64(sizeof(qint16)); }

    // Decodes until at least `bytes` bytes of PCM exist or the stream has ended.
    void decodeUntil(qint64 bytes);
    void decodeAll() { decodeUntil(std::numeric_limits<qint64>::max()); }
    bool finished() const { return m_finished; }
    // Everything decoded so far.
    const QByteArray &pcm() const { return m_pcm; }

    // Used by the reader callbacks handed to libmpg123.
    qint64 readEncoded(void *buffer, qint64 size);
    qint64 seekEncoded(qint64 offset, int whence);

private:
    explicit Mp3Decoder(QByteArray mp3);

    QByteArray m_mp3;
    qint64 m_readPosition = 0;
    mpg123_handle_struct *m_handle = nullptr;
    int m_sampleRate = 0;
    int m_channelCount = 0;
    qint64 m_frameCount = 0;
    QByteArray m_pcm;
    bool m_finished = false;
};

}  // namespace zapum
