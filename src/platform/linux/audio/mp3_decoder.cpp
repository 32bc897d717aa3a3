#include "platform/linux/audio/mp3_decoder.h"

#include "foundation/logging.h"
#include "platform/audio_output.h"

#include <mpg123.h>

#include <algorithm>
#include <mutex>

namespace zapum {
namespace {

// Room made for each read: a few frames, so a small piece of the stream decodes at once.
constexpr qsizetype kDecodeChunkBytes = 16 * 1024;

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

Failure noFrames()
{
    return undecodable(QStringLiteral("no MPEG audio frames were found."));
}

}  // namespace

Mp3Decoder::~Mp3Decoder()
{
    if (m_handle) {
        mpg123_close(m_handle);
        mpg123_delete(m_handle);
    }
}

Result<std::unique_ptr<Mp3Decoder>> Mp3Decoder::create()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });

    std::unique_ptr<Mp3Decoder> decoder(new Mp3Decoder);
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

    if (mpg123_open_feed(handle) != MPG123_OK)
        return undecodable(sentence(mpg123_strerror(handle)));
    return decoder;
}

qint64 Mp3Decoder::decodedMs() const
{
    return hasFormat() ? m_pcm.size() / bytesPerFrame() * 1000 / m_sampleRate : 0;
}

Status Mp3Decoder::feed(QByteArrayView mp3)
{
    if (m_failure)
        return *m_failure;
    if (m_finished || mp3.isEmpty())
        return Done{};
    if (mpg123_feed(m_handle, reinterpret_cast<const unsigned char *>(mp3.data()), size_t(mp3.size())) != MPG123_OK) {
        m_failure = undecodable(sentence(mpg123_strerror(m_handle)));
        return *m_failure;
    }
    return decodeAvailable();
}

Status Mp3Decoder::finish()
{
    if (m_failure)
        return *m_failure;
    // A last frame cut short stays in the reader; nothing more will complete it.
    m_finished = true;
    if (!hasFormat()) {
        m_failure = noFrames();
        return *m_failure;
    }
    return Done{};
}

Status Mp3Decoder::decodeAvailable()
{
    // A frame may decode to nothing (a tag frame, the encoder's delay), but never forever.
    for (int emptyReads = 0; emptyReads < 64;) {
        const qsizetype before = m_pcm.size();
        if (m_pcm.capacity() < before + kDecodeChunkBytes)
            m_pcm.reserve(std::max<qsizetype>(2 * m_pcm.capacity(), before + kDecodeChunkBytes));
        m_pcm.resize(before + kDecodeChunkBytes);
        size_t done = 0;
        const int status = mpg123_read(m_handle, reinterpret_cast<unsigned char *>(m_pcm.data() + before),
                                       size_t(kDecodeChunkBytes), &done);
        m_pcm.resize(before + qsizetype(done));

        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(m_handle, &rate, &channels, &encoding);
            if (!hasFormat() && rate > 0 && channels > 0) {
                m_sampleRate = int(rate);
                m_channelCount = channels;
            } else if (rate != m_sampleRate || channels != m_channelCount) {
                // Played at the first frame's rate, the rest would come out at the wrong speed.
                qCWarning(lcPlatform) << "MP3 stream changed its format mid-way; playing what came before";
                m_finished = true;
                return Done{};
            }
            continue;
        }
        if (status == MPG123_OK) {
            emptyReads = done == 0 ? emptyReads + 1 : 0;
            continue;
        }
        if (status == MPG123_NEED_MORE)
            return Done{};
        if (status == MPG123_DONE) {
            m_finished = true;
            return Done{};
        }
        if (!hasFormat()) {
            m_failure = undecodable(sentence(mpg123_strerror(m_handle)));
            return *m_failure;
        }
        // A damaged tail: play what decoded rather than nothing.
        qCWarning(lcPlatform) << "MP3 decoding stopped early:" << mpg123_strerror(m_handle);
        m_finished = true;
        return Done{};
    }
    return Done{};
}

}  // namespace zapum
