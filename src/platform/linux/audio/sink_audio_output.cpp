#include "platform/linux/audio/sink_audio_output.h"

#include "foundation/logging.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>

namespace zapum {
namespace {

constexpr std::chrono::milliseconds kFeedInterval{10};
// How far the audio handed to the server runs ahead of what is heard: enough to ride out a busy
// main thread for a moment. The sink's own free-space figure is not used for this: with the
// audio server's small default buffer it stays at zero until the stream has run dry.
constexpr qint64 kLeadMs = 400;

Failure outputFailure(AudioFailure kind, const QString &message)
{
    return Failure{QLatin1String(kAudioDomain), int(kind), message};
}

}  // namespace

double meanPowerDb(const QByteArray &pcm, int channelCount, qint64 centreFrame, qint64 frameCount)
{
    if (channelCount <= 0 || frameCount <= 0)
        return AudioClipPlayer::kSilenceDb;
    const qint64 available = pcm.size() / (qint64(channelCount) * qint64(sizeof(qint16)));
    const qint64 first = std::max<qint64>(0, centreFrame - frameCount / 2);
    const qint64 last = std::min<qint64>(available, centreFrame - frameCount / 2 + frameCount);
    if (last <= first)
        return AudioClipPlayer::kSilenceDb;
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
    double sum = 0.0;
    for (qint64 frame = first; frame < last; ++frame) {
        const double sample = samples[frame * channelCount] / 32768.0;
        sum += sample * sample;
    }
    const double mean = sum / double(last - first);
    if (mean <= 0.0)
        return AudioClipPlayer::kSilenceDb;
    return std::max(10.0 * std::log10(mean), AudioClipPlayer::kSilenceDb);
}

SinkAudioClipPlayer::SinkAudioClipPlayer(std::unique_ptr<Mp3Decoder> decoder, QObject *parent)
    : AudioClipPlayer(parent), m_decoder(std::move(decoder))
{
    m_format.setSampleRate(m_decoder->sampleRate());
    m_format.setChannelCount(m_decoder->channelCount());
    m_format.setSampleFormat(QAudioFormat::Int16);
    m_feedTimer.setTimerType(Qt::PreciseTimer);
    m_feedTimer.setInterval(kFeedInterval);
    connect(&m_feedTimer, &QTimer::timeout, this, [this] { feed(); });
}

SinkAudioClipPlayer::~SinkAudioClipPlayer()
{
    if (!m_sink)
        return;
    // The server plays out what it already holds rather than cutting the last word off; the
    // sink goes once that is heard. Its destructor spins the event loop, so never from here.
    const qint64 writtenUs = m_written / m_decoder->bytesPerFrame() * 1000000 / m_decoder->sampleRate();
    const qint64 unheardUs = std::max<qint64>(0, writtenUs - m_sink->processedUSecs());
    QAudioSink *sink = m_sink;
    QTimer::singleShot(std::chrono::milliseconds(unheardUs / 1000 + 50), sink, [sink] {
        sink->stop();
        sink->deleteLater();
    });
}

std::chrono::milliseconds SinkAudioClipPlayer::duration() const
{
    return std::chrono::milliseconds(m_decoder->frameCount() * 1000 / m_decoder->sampleRate());
}

Status SinkAudioClipPlayer::play()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return outputFailure(AudioFailure::NoOutputDevice,
                             QStringLiteral("No audio output device is available, so the reply cannot be played."));
    if (!device.isFormatSupported(m_format))
        return outputFailure(AudioFailure::OutputDeviceFailed,
                             QStringLiteral("The audio output \u201c%1\u201d cannot play %2 Hz audio.")
                                 .arg(device.description())
                                 .arg(m_format.sampleRate()));
    m_sink = new QAudioSink(device, m_format);
    m_device = m_sink->start();
    if (!m_device || m_sink->error() != QAudio::NoError) {
        qCWarning(lcPlatform) << "audio sink failed to start:" << m_sink->error();
        m_sink->deleteLater();
        m_sink = nullptr;
        return outputFailure(AudioFailure::OutputDeviceFailed,
                             QStringLiteral("The audio output \u201c%1\u201d could not be opened.")
                                 .arg(device.description()));
    }
    // The server starts the stream once its buffer has been filled, so the first write fills
    // exactly that: little to decode, and sound at once. The feed timer adds the lead.
    feed(m_sink->bufferSize());
    m_feedTimer.start();
    return Done{};
}

void SinkAudioClipPlayer::feed(qint64 wanted)
{
    if (!m_sink || !m_device) {
        m_feedTimer.stop();
        return;
    }
    if (wanted <= 0)
        wanted = heardFrames() * m_decoder->bytesPerFrame() + m_format.bytesForDuration(kLeadMs * 1000) - m_written;
    if (wanted <= 0)
        return;
    m_decoder->decodeUntil(m_written + wanted);
    const qint64 count = std::min(wanted, m_decoder->pcm().size() - m_written);
    if (count > 0) {
        const qint64 written = m_device->write(m_decoder->pcm().constData() + m_written, count);
        if (written > 0 && m_written == 0)
            Q_EMIT firstFramesDelivered();
        m_written += std::max<qint64>(written, 0);
    }
    if (m_decoder->finished() && m_written >= m_decoder->pcm().size()) {
        m_feedTimer.stop();
        // A clip shorter than the server's buffer would never start; silence makes up the rest.
        const qint64 shortfall = m_sink->bufferSize() - m_written;
        if (shortfall > 0)
            m_device->write(QByteArray(shortfall, '\0'));
    }
}

qint64 SinkAudioClipPlayer::heardFrames() const
{
    return m_sink ? m_sink->processedUSecs() * m_decoder->sampleRate() / 1000000 : 0;
}

bool SinkAudioClipPlayer::isPlaying() const
{
    if (!m_sink || m_sink->state() == QAudio::StoppedState)
        return false;
    if (m_feedTimer.isActive())
        return true;
    return heardFrames() * m_decoder->bytesPerFrame() < m_written;
}

double SinkAudioClipPlayer::averagePowerDb() const
{
    if (!m_sink)
        return kSilenceDb;
    // The sink's processed time is what the server has played out, latency taken off, so the
    // window sits on the sound being heard: one meter interval of samples centred on it.
    return meanPowerDb(m_decoder->pcm(), m_decoder->channelCount(), heardFrames(), m_decoder->sampleRate() / 30);
}

Result<std::unique_ptr<AudioClipPlayer>> SinkAudioOutput::openMp3(const QByteArray &mp3)
{
    auto decoder = Mp3Decoder::open(mp3);
    if (!decoder)
        return decoder.failure();
    return std::unique_ptr<AudioClipPlayer>(new SinkAudioClipPlayer(std::move(decoder).value()));
}

std::unique_ptr<AudioOutput> createAudioOutput()
{
    return std::make_unique<SinkAudioOutput>();
}

}  // namespace zapum
