#include "platform/linux/audio/mp3_decoder.h"

#include "foundation/logging.h"
#include "platform/audio_output.h"

#include <mpg123.h>

#include <sys/types.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace zapum {
namespace {

// Enough for a few frames at a time, so the first call returns quickly.
constexpr qint64 kDecodeChunkBytes = 16 * 1024;

Failure undecodable(const QString &reason)
{
    return Failure{QLatin1String(kAudioDomain), int(AudioFailure::Undecodable),
                   QStringLiteral("The speech audio could not be decoded: %1").arg(reason)};
}

QString sentence(const char *text)
{
    QString result = QString::fromUtf8(text).trimmed();
    if (result.isEmpty())
        return QStringLiteral("unknown decoder error.");
    result[0] = result[0].toLower();
    if (!result.endsWith(QLatin1Char('.')))
        result += QLatin1Char('.');
    return result;
}

ssize_t readCallback(void *handle, void *buffer, size_t size)
{
    return ssize_t(static_cast<Mp3Decoder *>(handle)->readEncoded(buffer, qint64(size)));
}

off_t seekCallback(void *handle, off_t offset, int whence)
{
    return off_t(static_cast<Mp3Decoder *>(handle)->seekEncoded(qint64(offset), whence));
}

}  // namespace

Mp3Decoder::Mp3Decoder(QByteArray mp3) : m_mp3(std::move(mp3)) {}

Mp3Decoder::~Mp3Decoder()
{
    if (m_handle) {
        mpg123_close(m_handle);
        mpg123_delete(m_handle);
    }
}

qint64 Mp3Decoder::readEncoded(void *buffer, qint64 size)
{
    const qint64 count = std::clamp<qint64>(m_mp3.size() - m_readPosition, 0, size);
    std::memcpy(buffer, m_mp3.constData() + m_readPosition, size_t(count));
    m_readPosition += count;
    return count;
}

qint64 Mp3Decoder::seekEncoded(qint64 offset, int whence)
{
    qint64 target = -1;
    switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = m_readPosition + offset; break;
    case SEEK_END: target = m_mp3.size() + offset; break;
    default: break;
    }
    if (target < 0 || target > m_mp3.size())
        return -1;
    m_readPosition = target;
    return target;
}

Result<std::unique_ptr<Mp3Decoder>> Mp3Decoder::open(QByteArray mp3)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });

    if (mp3.isEmpty())
        return undecodable(QStringLiteral("the reply held no audio."));

    std::unique_ptr<Mp3Decoder> decoder(new Mp3Decoder(std::move(mp3)));
    int error = MPG123_OK;
    decoder->m_handle = mpg123_new(nullptr, &error);
    if (!decoder->m_handle)
        return undecodable(sentence(mpg123_plain_strerror(error)));
    mpg123_handle *handle = decoder->m_handle;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);

    // Only 16-bit output, at whatever rate and channel count the stream has.
    mpg123_format_none(handle);
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_replace_reader_handle(handle, &readCallback, &seekCallback, nullptr) != MPG123_OK ||
        mpg123_open_handle(handle, decoder.get()) != MPG123_OK)
        return undecodable(sentence(mpg123_strerror(handle)));

    if (mpg123_scan(handle) != MPG123_OK)
        return undecodable(sentence(mpg123_strerror(handle)));

    long rate = 0;
    int channels = 0;
    int encoding = 0;
    const int format = mpg123_getformat(handle, &rate, &channels, &encoding);
    if (format != MPG123_OK) {
        // At the end of data without a single frame, libmpg123 has no error of its own to give.
        if (format == MPG123_DONE || mpg123_errcode(handle) == MPG123_OK)
            return undecodable(QStringLiteral("no MPEG audio frames were found."));
        return undecodable(sentence(mpg123_strerror(handle)));
    }
    const off_t frames = mpg123_length(handle);
    if (frames <= 0 || rate <= 0 || channels <= 0)
        return undecodable(QStringLiteral("no MPEG audio frames were found."));

    // Hold the output to the first frame's format, so a stream that changes mid-way is converted
    // rather than played at the wrong speed.
    mpg123_format_none(handle);
    mpg123_format(handle, rate, channels, encoding);

    decoder->m_sampleRate = int(rate);
    decoder->m_channelCount = channels;
    decoder->m_frameCount = qint64(frames);
    decoder->m_pcm.reserve(decoder->m_frameCount * decoder->bytesPerFrame());
    return decoder;
}

void Mp3Decoder::decodeUntil(qint64 bytes)
{
    int emptyReads = 0;
    while (!m_finished && m_pcm.size() < bytes) {
        const qsizetype before = m_pcm.size();
        m_pcm.resize(before + kDecodeChunkBytes);
        size_t done = 0;
        const int status = mpg123_read(m_handle, reinterpret_cast<unsigned char *>(m_pcm.data() + before),
                                       size_t(kDecodeChunkBytes), &done);
        m_pcm.resize(before + qsizetype(done));
        emptyReads = done == 0 ? emptyReads + 1 : 0;
        if (status == MPG123_DONE || emptyReads > 8) {
            m_finished = true;
        } else if (status != MPG123_OK && status != MPG123_NEW_FORMAT) {
            // A damaged tail: play what decoded rather than nothing.
            qCWarning(lcPlatform) << "MP3 decoding stopped early:" << mpg123_strerror(m_handle);
            m_finished = true;
        }
    }
}

}  // namespace zapum
