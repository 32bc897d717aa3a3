#include "voice/voice_capture_worker.h"

#include "foundation/logging.h"
#include "voice/recognition_context.h"

#include <algorithm>
#include <cmath>

namespace zapum {

namespace {

Failure recognizerUnavailable()
{
    return Failure{kVoiceErrorDomain, 1, QStringLiteral("Speech recognizer unavailable.")};
}

qint16 toPcm16(float sample)
{
    if (!std::isfinite(sample))
        return 0;
    return qint16(std::lrint(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
}

}  // namespace

VoiceCaptureWorker::VoiceCaptureWorker(RecognizerFactory recognizerFactory, AudioInputFactory audioInputFactory,
                                       double publishInterval, Clock clock)
    : m_recognizerFactory(std::move(recognizerFactory)),
      m_audioInputFactory(std::move(audioInputFactory)),
      m_publishInterval(publishInterval),
      m_clock(std::move(clock))
{
}

VoiceCaptureWorker::~VoiceCaptureWorker() = default;

bool VoiceCaptureWorker::load()
{
    if (!m_recognizer && m_recognizerFactory)
        m_recognizer = m_recognizerFactory();
    if (!m_input && m_audioInputFactory)
        m_input = m_audioInputFactory();
    return m_recognizer && m_recognizer->isAvailable();
}

void VoiceCaptureWorker::shutdown()
{
    if (m_input)
        m_input->stop();
    m_input.reset();
    m_recognizer.reset();
    m_capture = 0;
}

void VoiceCaptureWorker::unloadRecognizer()
{
    if (m_capture == 0)
        m_recognizer.reset();
}

Status VoiceCaptureWorker::startCapture(quint64 capture)
{
    if (!m_recognizer || !m_recognizer->isAvailable())
        return recognizerUnavailable();
    if (!m_input)
        return noMicrophoneFailure();
    if (m_capture != 0)
        stopCapture(m_capture);

    const Result<AudioInputFormat> opened =
        m_input->start([this](const float *samples, qsizetype frames) { receiveFrames(samples, frames); });
    if (!opened)
        return opened.failure();
    // Frames arrive from the event loop, so none can slip past before the utterance begins.
    if (const Status begun = m_recognizer->beginUtterance(); !begun) {
        m_input->stop();
        qCWarning(lcVoice) << "The recognizer refused a new utterance:" << begun.failure().message;
        return recognizerUnavailable();
    }
    m_analyzer.reset();
    m_lastPublish = 0.0;
    m_blockFrames = 0;
    m_lastTranscript.clear();
    m_holdingAudio = true;
    m_heldPcm.clear();
    m_capture = capture;

    const AudioInputFormat format = opened.value();
    m_channels = format.channelCount;
    m_block.resize(size_t(kBlockFrames * m_channels));
    m_firstChannel.resize(kBlockFrames);
    if (format.sampleRate == m_recognizer->sampleRate())
        m_converter.reset();
    else if (!m_converter || m_converter->inputRate() != format.sampleRate)
        m_converter.emplace(format.sampleRate, m_recognizer->sampleRate());
    else
        m_converter->reset();
    qCDebug(lcVoice) << "Capturing at" << format.sampleRate << "Hz," << format.channelCount << "channel(s)";
    return Done{};
}

void VoiceCaptureWorker::applyContext(quint64 capture, const QStringList &terms)
{
    if (capture != m_capture || m_capture == 0 || !m_holdingAudio)
        return;
    // A recogniser that had to change has ended the utterance; the held audio goes to a new one.
    if (m_recognizer->setContext(terms)) {
        if (const Status begun = m_recognizer->beginUtterance(); !begun)
            qCWarning(lcVoice) << "The recognizer refused a new utterance:" << begun.failure().message;
    }
    releaseHeldAudio();
    report(m_recognizer->partialTranscript());
}

void VoiceCaptureWorker::prepareContext(const QStringList &terms)
{
    if (m_capture == 0 && m_recognizer)
        m_recognizer->setContext(terms);
}

void VoiceCaptureWorker::releaseHeldAudio()
{
    m_holdingAudio = false;
    m_recognizer->feed(m_heldPcm.data(), qsizetype(m_heldPcm.size()));
    m_heldPcm.clear();
}

void VoiceCaptureWorker::stopCapture(quint64 capture)
{
    if (capture != m_capture || m_capture == 0)
        return;
    if (m_holdingAudio)
        releaseHeldAudio();
    m_input->stop();
    // The last partial block is too short to analyse, but its words count.
    recognize(m_block.data(), m_blockFrames);
    m_blockFrames = 0;
    if (m_converter) {
        m_converted.clear();
        m_converter->flush(m_converted);
        m_pcm.resize(m_converted.size());
        std::transform(m_converted.begin(), m_converted.end(), m_pcm.begin(), toPcm16);
        m_recognizer->feed(m_pcm.data(), qsizetype(m_pcm.size()));
    }
    report(m_recognizer->endUtterance());
    m_capture = 0;
}

void VoiceCaptureWorker::receiveFrames(const float *samples, qsizetype frames)
{
    while (frames > 0 && m_capture != 0) {
        const qsizetype take = std::min(frames, qsizetype(kBlockFrames) - m_blockFrames);
        std::copy_n(samples, take * m_channels, m_block.begin() + m_blockFrames * m_channels);
        m_blockFrames += take;
        samples += take * m_channels;
        frames -= take;
        if (m_blockFrames == kBlockFrames) {
            processBlock();
            m_blockFrames = 0;
        }
    }
}

void VoiceCaptureWorker::processBlock()
{
    const float *firstChannel = m_block.data();
    if (m_channels > 1) {
        for (size_t frame = 0; frame < kBlockFrames; ++frame)
            m_firstChannel[frame] = m_block[frame * size_t(m_channels)];
        firstChannel = m_firstChannel.data();
    }
    const VoiceAmplitudeAnalyzer::Levels levels = m_analyzer.analyze(firstChannel, kBlockFrames);
    const double now = m_clock();
    if (now - m_lastPublish >= m_publishInterval) {
        m_lastPublish = now;
        Q_EMIT levelsReady(m_capture, QList<float>(levels.begin(), levels.end()));
    }
    recognize(m_block.data(), kBlockFrames);
    if (!m_holdingAudio)
        report(m_recognizer->partialTranscript());
}

void VoiceCaptureWorker::recognize(const float *interleaved, qsizetype frames)
{
    if (frames <= 0)
        return;
    const float *mono = interleaved;
    if (m_channels > 1) {
        m_mono.resize(size_t(frames));
        for (qsizetype frame = 0; frame < frames; ++frame) {
            float sum = 0.0f;
            for (int channel = 0; channel < m_channels; ++channel)
                sum += interleaved[frame * m_channels + channel];
            m_mono[size_t(frame)] = sum / float(m_channels);
        }
        mono = m_mono.data();
    }
    qsizetype count = frames;
    if (m_converter) {
        m_converted.clear();
        m_converter->process(mono, frames, m_converted);
        mono = m_converted.data();
        count = qsizetype(m_converted.size());
    }
    m_pcm.resize(size_t(count));
    std::transform(mono, mono + count, m_pcm.begin(), toPcm16);
    if (m_holdingAudio)
        m_heldPcm.insert(m_heldPcm.end(), m_pcm.begin(), m_pcm.end());
    else
        m_recognizer->feed(m_pcm.data(), count);
}

void VoiceCaptureWorker::report(const QString &transcript)
{
    // An empty hypothesis early in an utterance, or a repeat of the last one, tells nobody anything.
    if (transcript.isEmpty() || transcript == m_lastTranscript)
        return;
    m_lastTranscript = transcript;
    Q_EMIT transcriptChanged(m_capture, recognition_context::displayTranscript(transcript));
}

}  // namespace zapum
