#include "voice/voice_capture_service.h"

#include "foundation/logging.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_capture_worker.h"

#include <QPointer>
#include <QPromise>

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>

namespace zapum {

VoiceCaptureService::VoiceCaptureService(VoiceAmplitudePublisher &publisher, VoiceCaptureBackend backend,
                                         VoiceCaptureTiming timing, QObject *parent)
    : QObject(parent), m_publisher(publisher), m_backend(std::move(backend)), m_timing(timing)
{
    m_thread.setObjectName(QStringLiteral("ZaPum voice capture"));
    m_worker = new VoiceCaptureWorker(m_backend.createRecognizer, m_backend.createAudioInput,
                                      m_timing.publishInterval, &monotonicSeconds);
    m_worker->moveToThread(&m_thread);
    connect(m_worker, &VoiceCaptureWorker::transcriptChanged, this, &VoiceCaptureService::receiveTranscript);
    connect(m_worker, &VoiceCaptureWorker::levelsReady, this, &VoiceCaptureService::receiveLevels);
    m_thread.start();
}

void VoiceCaptureService::load()
{
    if (m_loaded)
        return;
    auto promise = std::make_shared<QPromise<bool>>();
    m_loaded = promise->future();
    promise->start();
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, promise] {
            promise->addResult(worker->load());
            promise->finish();
        },
        Qt::QueuedConnection);
}

void VoiceCaptureService::unload()
{
    if (!m_loaded || m_isListening)
        return;
    m_loaded.reset();
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->unloadRecognizer(); }, Qt::QueuedConnection);
}

VoiceCaptureService::~VoiceCaptureService()
{
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->shutdown(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

QCoro::Task<bool> VoiceCaptureService::requestPermissions()
{
    QPointer<VoiceCaptureService> self(this);
    load();
    const QFuture<bool> loaded = *m_loaded;
    const bool speech = co_await loaded;
    if (!self)
        co_return false;
    // Both are asked whatever the first answer, as a permission prompt would be.
    const bool microphone = m_backend.microphonePresent ? m_backend.microphonePresent() : false;
    co_return speech && microphone;
}

Status VoiceCaptureService::start()
{
    if (m_isListening)
        return Done{};
    const quint64 capture = ++m_lastCapture;
    Status started = Failure{};
    // Blocking, so that the caller learns at once whether the microphone opened; the worker never
    // waits for the main thread, so this cannot deadlock.
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, capture] { return worker->startCapture(capture); },
        Qt::BlockingQueuedConnection, &started);
    if (!started) {
        qCWarning(lcVoice) << "Capture did not start:" << started.failure().message;
        return started;
    }
    // Queued, so that the main thread never waits while the recogniser takes in new terms.
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, capture, terms = m_contextProvider ? m_contextProvider() : QStringList()] {
            worker->applyContext(capture, terms);
        },
        Qt::QueuedConnection);
    m_currentCapture = capture;
    m_transcripts.insert(capture, QString());
    setLatestPartial(QString());
    setListening(true);
    return Done{};
}

void VoiceCaptureService::prepareContext()
{
    if (m_isListening || !m_contextProvider)
        return;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, terms = m_contextProvider()] { worker->prepareContext(terms); },
        Qt::QueuedConnection);
}

QCoro::Task<QString> VoiceCaptureService::stop()
{
    if (!m_isListening)
        co_return QString();
    const quint64 capture = m_currentCapture;
    setListening(false);
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, capture] { worker->stopCapture(capture); },
                              Qt::QueuedConnection);

    QPointer<VoiceCaptureService> self(this);
    co_await QCoro::sleepFor(m_timing.stopGrace);
    if (!self)
        co_return QString();

    // Words recognised after the grace are lost on purpose: the caller has moved on.
    const QString transcript = m_transcripts.take(capture);
    if (m_currentCapture == capture) {
        m_currentCapture = 0;
        m_publisher.reset();
    }
    co_return transcript;
}

void VoiceCaptureService::receiveTranscript(quint64 capture, const QString &text)
{
    const auto found = m_transcripts.find(capture);
    if (found == m_transcripts.end())
        return;
    *found = text;
    // A capture still in its grace keeps collecting its own words, but once a newer capture has
    // started, the listeners hear only the newer one.
    if (capture != m_currentCapture)
        return;
    setLatestPartial(text);
    if (m_onPartial)
        m_onPartial(text);
}

void VoiceCaptureService::receiveLevels(quint64 capture, const QList<float> &levels)
{
    if (m_isListening && capture == m_currentCapture)
        m_publisher.submit(levels);
}

void VoiceCaptureService::setListening(bool listening)
{
    if (m_isListening == listening)
        return;
    m_isListening = listening;
    Q_EMIT isListeningChanged();
}

void VoiceCaptureService::setLatestPartial(const QString &text)
{
    if (m_latestPartial == text)
        return;
    m_latestPartial = text;
    Q_EMIT latestPartialChanged();
}

}  // namespace zapum
