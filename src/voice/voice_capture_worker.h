#pragma once

#include "foundation/failure.h"
#include "platform/audio_input.h"
#include "platform/speech_recognizer.h"
#include "voice/sample_rate_converter.h"
#include "voice/voice_amplitude_analyzer.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zapum {

// The half of VoiceCaptureService that runs on its worker thread: microphone, analyser and
// recogniser, which is all the work that must stay off the main thread. Every member is called
// on that thread; results go out through queued signals tagged with the capture they belong to.
class VoiceCaptureWorker : public QObject {
    Q_OBJECT
public:
    using RecognizerFactory = std::function<std::unique_ptr<SpeechRecognizer>()>;
    using AudioInputFactory = std::function<std::unique_ptr<AudioInput>()>;
    using Clock = std::function<double()>;

    static constexpr int kBlockFrames = 1024;

    VoiceCaptureWorker(RecognizerFactory recognizerFactory, AudioInputFactory audioInputFactory,
                       double publishInterval, Clock clock);
    ~VoiceCaptureWorker() override;

    // Builds the recogniser (the slow part) and the audio input; returns whether the recogniser works.
    bool load();
    // Opens the microphone and starts an utterance. Its audio is held back until applyContext()
    // tells the recogniser what to listen for.
    Status startCapture(quint64 capture);
    // Gives the recogniser this capture's context terms (see recognition_context.h), then
    // recognises the audio held back so far and everything after it.
    void applyContext(quint64 capture, const QStringList &terms);
    // Gives the recogniser the terms between captures; a capture in progress keeps its own.
    void prepareContext(const QStringList &terms);
    // Stops the microphone, recognises what is left and reports the final transcript.
    void stopCapture(quint64 capture);
    // Releases the platform objects on the thread that made them.
    void shutdown();
    // Lets the recogniser go unless a capture is running; load() brings it back.
    void unloadRecognizer();

Q_SIGNALS:
    void transcriptChanged(quint64 capture, const QString &text);
    void levelsReady(quint64 capture, const QList<float> &levels);

private:
    void receiveFrames(const float *samples, qsizetype frames);
    void processBlock();
    void recognize(const float *interleaved, qsizetype frames);
    void report(const QString &transcript);
    void releaseHeldAudio();

    RecognizerFactory m_recognizerFactory;
    AudioInputFactory m_audioInputFactory;
    double m_publishInterval;
    Clock m_clock;

    std::unique_ptr<SpeechRecognizer> m_recognizer;
    std::unique_ptr<AudioInput> m_input;
    VoiceAmplitudeAnalyzer m_analyzer{kBlockFrames};
    std::optional<SampleRateConverter> m_converter;

    quint64 m_capture = 0;  // 0 while no capture runs
    int m_channels = 1;
    std::vector<float> m_block;  // interleaved frames of the block being filled
    qsizetype m_blockFrames = 0;
    std::vector<float> m_firstChannel;
    std::vector<float> m_mono;
    std::vector<float> m_converted;
    std::vector<qint16> m_pcm;
    bool m_holdingAudio = false;  // until the context is in place
    std::vector<qint16> m_heldPcm;
    double m_lastPublish = 0.0;
    QString m_lastTranscript;
};

}  // namespace zapum
