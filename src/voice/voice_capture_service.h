#pragma once

#include "foundation/failure.h"
#include "platform/audio_input.h"
#include "platform/speech_recognizer.h"
#include "voice/speech_capture.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QString>
#include <QThread>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace zapum {

class VoiceAmplitudePublisher;
class VoiceCaptureWorker;

struct VoiceCaptureTiming {
    // After the microphone closes, the recogniser may still be settling its last words.
    std::chrono::milliseconds stopGrace{900};
    // Levels leave the worker thread at most this often.
    double publishInterval = 1.0 / 30.0;
};

// Where the capture gets its microphone and recogniser. The factories run on the capture's worker
// thread; the defaults are the platform's.
struct VoiceCaptureBackend {
    std::function<std::unique_ptr<SpeechRecognizer>()> createRecognizer = [] { return createSpeechRecognizer(); };
    std::function<std::unique_ptr<AudioInput>()> createAudioInput = [] { return zapum::createAudioInput(); };
    std::function<bool()> microphonePresent = [] { return audioInputPresent(); };
};

// Records the microphone while the user talks and transcribes it as they speak. Capture, level
// analysis and recognition run on one worker thread; transcripts and levels come back to the main
// thread, which is where every member is called and every callback runs.
//
// Failures of start() are in the domain "ZaPumVoice": code 1 when no recogniser is available,
// 2 when there is no microphone, 3 when it offers no usable audio format, 4 when the audio server
// refuses to open it.
class VoiceCaptureService : public QObject, public SpeechCapture {
    Q_OBJECT
    Q_PROPERTY(bool isListening READ isListening NOTIFY isListeningChanged)
    Q_PROPERTY(QString latestPartial READ latestPartial NOTIFY latestPartialChanged)
public:
    VoiceCaptureService(VoiceAmplitudePublisher &publisher, VoiceCaptureBackend backend = {},
                        VoiceCaptureTiming timing = {}, QObject *parent = nullptr);
    ~VoiceCaptureService() override;

    bool isListening() const override { return m_isListening; }
    QString latestPartial() const { return m_latestPartial; }
    void setOnPartial(std::function<void(const QString &)> callback) override { m_onPartial = std::move(callback); }
    // Asked on the main thread at the start of each capture for the terms to listen for (see
    // recognition_context.h); the recogniser takes them in on the worker thread.
    void setContextProvider(std::function<QStringList()> provider) { m_contextProvider = std::move(provider); }
    // Lets the recogniser take in the current terms now, while nothing is being captured, so that
    // the next capture finds them in place (a term new to the recogniser costs it several hundred
    // milliseconds, which would otherwise delay the first words shown).
    void prepareContext();

    // Starts loading the recogniser on the worker thread, unless it is loaded or loading; its
    // model takes a good part of a second and tens of megabytes.
    void load();
    // Lets the recogniser go while nothing is captured (the voice mode was turned off); the next
    // load() or requestPermissions() brings it back.
    void unload();

    // True when a recogniser model is installed and a microphone exists. Loads the model if
    // needed, and waits for it to finish loading.
    QCoro::Task<bool> requestPermissions() override;
    // Begins a capture; does nothing while one is running. On failure nothing is listening and
    // the Failure's message is a sentence for the user.
    Status start() override;
    // Ends the capture and, after a short grace for the recogniser's last words, returns its
    // transcript as recognised (empty at once when nothing was listening).
    QCoro::Task<QString> stop() override;

Q_SIGNALS:
    void isListeningChanged();
    void latestPartialChanged();

private:
    void setListening(bool listening);
    void setLatestPartial(const QString &text);
    void receiveTranscript(quint64 capture, const QString &text);
    void receiveLevels(quint64 capture, const QList<float> &levels);

    VoiceAmplitudePublisher &m_publisher;
    VoiceCaptureBackend m_backend;
    VoiceCaptureTiming m_timing;
    QThread m_thread;
    VoiceCaptureWorker *m_worker = nullptr;
    std::optional<QFuture<bool>> m_loaded;  // whether the recognizer loaded, once it has tried

    bool m_isListening = false;
    QString m_latestPartial;
    std::function<void(const QString &)> m_onPartial;
    std::function<QStringList()> m_contextProvider;
    quint64 m_lastCapture = 0;
    quint64 m_currentCapture = 0;  // the capture whose results the listeners see
    // Transcripts of captures still within their stop grace, this one included while it runs.
    QHash<quint64, QString> m_transcripts;
};

}  // namespace zapum
