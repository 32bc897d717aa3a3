#include "platform/linux/audio/sink_audio_output.h"

#include "foundation/logging.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>
#include <cmath>

namespace zapum {
namespace {

Failure audioFailure(AudioFailure kind, const QString &message)
{
    return Failure{QLatin1String(kAudioDomain), int(kind), message};
}

qint64 microseconds(std::chrono::milliseconds duration)
{
    return qint64(duration.count()) * 1000;
}

}  // namespace

double meanPowerDb(const QByteArray &pcm, int channelCount, qint64 centreFrame, qint64 frameCount)
{
    if (channelCount <= 0 || frameCount <= 0)
        return AudioStreamPlayer::kSilenceDb;
    const qint64 available = pcm.size() / (qint64(channelCount) * qint64(sizeof(qint16)));
    const qint64 first = std::max<qint64>(0, centreFrame - frameCount / 2);
    const qint64 last = std::min<qint64>(available, centreFrame - frameCount / 2 + frameCount);
    if (last <= first)
        return AudioStreamPlayer::kSilenceDb;
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
    double sum = 0.0;
    for (qint64 frame = first; frame < last; ++frame) {
        const double sample = samples[frame * channelCount] / 32768.0;
        sum += sample * sample;
    }
    const double mean = sum / double(last - first);
    if (mean <= 0.0)
        return AudioStreamPlayer::kSilenceDb;
    return std::max(10.0 * std::log10(mean), AudioStreamPlayer::kSilenceDb);
}

SinkAudioStreamPlayer::SinkAudioStreamPlayer(StreamPlaybackTiming timing, QObject *parent)
    : AudioStreamPlayer(parent), m_timing(timing)
{
    if (auto decoder = Mp3Decoder::create())
        m_decoder = std::move(decoder).value();
    else
        m_failure = decoder.failure();
    m_feedTimer.setTimerType(Qt::PreciseTimer);
    m_feedTimer.setInterval(m_timing.feedInterval);
    connect(&m_feedTimer, &QTimer::timeout, this, &SinkAudioStreamPlayer::feed);
}

SinkAudioStreamPlayer::~SinkAudioStreamPlayer()
{
    if (!m_sink)
        return;
    // The server plays out what it already holds rather than cutting the last word off; the
    // sink goes once that is heard. Its destructor spins the event loop, so never from here.
    const qint64 unheardUs = std::max<qint64>(
        0, (writtenFrames() - heardFrames()) * 1000000 / m_decoder->sampleRate() + microseconds(m_timing.jitterBuffer));
    QAudioSink *sink = m_sink;
    QTimer::singleShot(std::chrono::milliseconds(unheardUs / 1000 + 50), sink, [sink] {
        sink->stop();
        sink->deleteLater();
    });
}

Status SinkAudioStreamPlayer::append(QByteArrayView mp3)
{
    if (m_failure)
        return *m_failure;
    if (m_stopped || m_ended)
        return Done{};
    if (const Status fed = m_decoder->feed(mp3); !fed) {
        m_failure = fed.failure();
        return fed;
    }
    const Status started = startWhenCushioned();
    feed();
    return started;
}

Status SinkAudioStreamPlayer::finish()
{
    if (m_failure)
        return *m_failure;
    m_inputEnded = true;
    if (const Status finished = m_decoder->finish(); !finished) {
        m_failure = finished.failure();
        return finished;
    }
    const Status started = startWhenCushioned();
    feed();
    return started;
}

Status SinkAudioStreamPlayer::startWhenCushioned()
{
    if (m_sink || m_stopped || !m_decoder->hasFormat())
        return Done{};
    if (!m_decoder->finished() && m_decoder->decodedMs() < m_timing.jitterBuffer.count())
        return Done{};
    const Status opened = openSink();
    if (!opened)
        m_failure = opened.failure();
    return opened;
}

Status SinkAudioStreamPlayer::openSink()
{
    m_format.setSampleRate(m_decoder->sampleRate());
    m_format.setChannelCount(m_decoder->channelCount());
    m_format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return audioFailure(AudioFailure::NoOutputDevice,
                             QStringLiteral("No audio output device is available, so the reply cannot be played."));
    if (!device.isFormatSupported(m_format))
        return audioFailure(AudioFailure::OutputDeviceFailed,
                             QStringLiteral("The audio output \u201c%1\u201d cannot play %2 Hz audio.")
                                 .arg(device.description())
                                 .arg(m_format.sampleRate()));
    m_sink = new QAudioSink(device, m_format);
    // The server's target buffer doubles as its start threshold: it starts as soon as the
    // cushion is in, and after running dry it waits for as much again.
    m_sink->setBufferSize(m_format.bytesForDuration(microseconds(m_timing.jitterBuffer)));
    m_device = m_sink->start();
    if (!m_device || m_sink->error() != QAudio::NoError) {
        qCWarning(lcPlatform) << "audio sink failed to start:" << m_sink->error();
        m_sink->deleteLater();
        m_sink = nullptr;
        return audioFailure(AudioFailure::OutputDeviceFailed,
                             QStringLiteral("The audio output \u201c%1\u201d could not be opened.")
                                 .arg(device.description()));
    }
    connect(m_sink, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state != QAudio::StoppedState || m_stopped || m_ended || !m_sink || m_sink->error() == QAudio::NoError)
            return;
        qCWarning(lcPlatform) << "audio output failed while playing:" << m_sink->error();
        m_outputFailure = audioFailure(AudioFailure::OutputDeviceFailed,
                                        QStringLiteral("The audio output stopped while the reply was playing."));
        end();
    });
    m_clock.start();
    m_feedTimer.start();
    return Done{};
}

void SinkAudioStreamPlayer::feed()
{
    if (!m_sink || !m_device || m_ended || m_stopped)
        return;
    const qint64 bytesPerFrame = m_decoder->bytesPerFrame();
    const qint64 heard = heardFrames();
    const qint64 available = m_decoder->pcm().size();
    const bool inputOver = m_decoder->finished();

    // After running dry, wait for a whole cushion again rather than trickling out a word at a time.
    const bool cushioned = inputOver || !m_dry || available - m_written >= m_format.bytesForDuration(microseconds(m_timing.jitterBuffer));
    const qint64 wanted = std::min(available, heard * bytesPerFrame + m_format.bytesForDuration(microseconds(m_timing.lead)));
    if (cushioned && wanted > m_written) {
        const qint64 written = m_device->write(m_decoder->pcm().constData() + m_written, wanted - m_written);
        if (written > 0 && m_written == 0)
            Q_EMIT firstFramesDelivered();
        m_written += std::max<qint64>(written, 0);
    }

    if (!allHeard(heard)) {
        m_dry = false;
    } else if (!inputOver && m_written > 0 && !m_dry) {
        m_dry = true;
        ++m_underruns;
        qCDebug(lcPlatform) << "speech audio ran dry; waiting for more";
    }

    if (inputOver && m_written >= available) {
        if (!m_padded) {
            // A tail shorter than the server's start threshold would never be played;
            // silence makes up the rest and is not waited for.
            m_padded = true;
            m_device->write(QByteArray(m_sink->bufferSize(), '\0'));
        }
        if (allHeard(heard)) {
            end();
            return;
        }
    }

    if (heard != m_lastHeard) {
        m_lastHeard = heard;
        m_heardStillSinceMs = m_clock.elapsed();
    } else if (!allHeard(heard) && m_clock.elapsed() - m_heardStillSinceMs > m_timing.stallLimit.count()) {
        qCWarning(lcPlatform) << "audio output stopped playing; ending the reply";
        m_outputFailure = audioFailure(AudioFailure::OutputDeviceFailed,
                                        QStringLiteral("The audio output stopped while the reply was playing."));
        end();
    }
}

void SinkAudioStreamPlayer::end()
{
    m_ended = true;
    m_feedTimer.stop();
    Q_EMIT ended();
}

void SinkAudioStreamPlayer::stop()
{
    m_stopped = true;
    m_feedTimer.stop();
    if (!m_sink)
        return;
    // Disconnecting the stream drops whatever the server still holds.
    m_sink->stop();
    m_sink->deleteLater();
    m_sink = nullptr;
}

bool SinkAudioStreamPlayer::allHeard(qint64 heard) const
{
    // The played-out time is rounded to microseconds and then to frames; a millisecond short of
    // the end is the end.
    return heard + m_decoder->sampleRate() / 1000 >= writtenFrames();
}

qint64 SinkAudioStreamPlayer::heardFrames() const
{
    return m_sink ? m_sink->processedUSecs() * m_decoder->sampleRate() / 1000000 : 0;
}

bool SinkAudioStreamPlayer::isPlaying() const
{
    return m_sink && m_written > 0 && !m_ended && !m_stopped;
}

double SinkAudioStreamPlayer::averagePowerDb() const
{
    if (!isPlaying())
        return kSilenceDb;
    // The sink's processed time is what the server has played out, latency taken off, so the
    // window sits on the sound being heard: one meter interval of samples centred on it. Once
    // everything handed over is heard, the speaker is silent, whatever is decoded behind it.
    const qint64 heard = heardFrames();
    if (allHeard(heard))
        return kSilenceDb;
    return meanPowerDb(m_decoder->pcm(), m_decoder->channelCount(), heard, m_decoder->sampleRate() / 30);
}

std::unique_ptr<AudioStreamPlayer> SinkAudioOutput::createPlayer()
{
    return std::make_unique<SinkAudioStreamPlayer>(m_timing);
}

std::unique_ptr<AudioOutput> createAudioOutput()
{
    return std::make_unique<SinkAudioOutput>();
}

}  // namespace zapum
