#include "platform/linux/audio/qt_audio_input.h"

#include "foundation/logging.h"

#include <QAudioSource>
#include <QMediaDevices>

namespace zapum {

namespace {

// Small enough that speech reaches the recogniser within a few tens of milliseconds.
constexpr int kBufferMilliseconds = 40;

}  // namespace

QtAudioInput::QtAudioInput(QByteArray deviceId, AudioInputFormat format)
    : m_deviceId(std::move(deviceId)), m_requested(format)
{
}

QtAudioInput::~QtAudioInput()
{
    stop();
}

QAudioDevice QtAudioInput::findDevice() const
{
    if (m_deviceId.isEmpty())
        return QMediaDevices::defaultAudioInput();
    for (const QAudioDevice &device : QMediaDevices::audioInputs()) {
        if (device.id() == m_deviceId)
            return device;
    }
    return {};
}

Result<AudioInputFormat> QtAudioInput::start(FrameSink sink)
{
    stop();
    const QAudioDevice device = findDevice();
    if (device.isNull())
        return noMicrophoneFailure();

    QAudioFormat format = device.preferredFormat();
    format.setSampleFormat(QAudioFormat::Float);
    if (m_requested.sampleRate > 0)
        format.setSampleRate(m_requested.sampleRate);
    if (m_requested.channelCount > 0)
        format.setChannelCount(m_requested.channelCount);
    if (format.sampleRate() <= 0 || format.channelCount() <= 0 || !device.isFormatSupported(format))
        return Failure{kVoiceErrorDomain, 3, QStringLiteral("The microphone does not offer audio in a form ZaPum can read.")};

    m_source = std::make_unique<QAudioSource>(device, format);
    m_source->setBufferSize(format.bytesForDuration(kBufferMilliseconds * 1000));
    m_bytesPerFrame = format.bytesPerFrame();
    m_sink = std::move(sink);
    m_io = m_source->start();
    if (!m_io || m_source->error() != QAudio::NoError) {
        const QAudio::Error error = m_source->error();
        stop();
        qCWarning(lcPlatform) << "Opening the microphone failed with" << error;
        return Failure{kVoiceErrorDomain, 4,
                       QStringLiteral("The microphone could not be opened: the audio server refused it.")};
    }
    QObject::connect(m_io, &QIODevice::readyRead, m_io, [this] { readAvailable(); });
    QObject::connect(m_source.get(), &QAudioSource::stateChanged, m_source.get(), [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError)
            qCWarning(lcPlatform) << "The microphone stopped with" << m_source->error();
    });
    return AudioInputFormat{format.sampleRate(), format.channelCount()};
}

void QtAudioInput::stop()
{
    if (m_source) {
        if (m_io)
            QObject::disconnect(m_io, nullptr, nullptr, nullptr);
        m_source->disconnect();
        m_source->stop();
    }
    m_io = nullptr;
    m_source.reset();
    m_sink = nullptr;
    m_pending.clear();
}

void QtAudioInput::readAvailable()
{
    if (!m_io)
        return;
    m_pending.append(m_io->readAll());
    const qsizetype frames = m_pending.size() / m_bytesPerFrame;
    if (frames == 0)
        return;
    // Qt hands out bytes, not frames; a frame split across two reads waits for its other half.
    m_sink(reinterpret_cast<const float *>(m_pending.constData()), frames);
    if (!m_io)
        return;  // the sink stopped the input
    m_pending.remove(0, frames * m_bytesPerFrame);
}

std::unique_ptr<AudioInput> createAudioInput(const QByteArray &deviceId, AudioInputFormat format)
{
    return std::make_unique<QtAudioInput>(deviceId, format);
}

bool audioInputPresent()
{
    return !QMediaDevices::audioInputs().isEmpty();
}

}  // namespace zapum
