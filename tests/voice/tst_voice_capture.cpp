#include "voice/recognition_context.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_capture_service.h"

#include "support/await_task.h"
#include "support/fifo_microphone.h"

#include <QTest>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using namespace std::chrono_literals;
using test::FifoMicrophone;

namespace {

const QList<float> kZeros(VoiceAmplitudePublisher::kBandCount, 0.0f);

// A capture and the microphone it records, as the voice session drives them.
struct Talk {
    explicit Talk(VoiceCaptureBackend backend = {}) : capture(publisher, std::move(backend))
    {
        QObject::connect(&publisher, &VoiceAmplitudePublisher::levelsChanged, &publisher, [this] {
            const float loudest = *std::max_element(publisher.levels().cbegin(), publisher.levels().cend());
            voiced = voiced || loudest > 0.3f;
            heardToTheEnd = heardToTheEnd || (voiced && loudest < 0.02f);
        });
    }
    // Loads the recogniser, starts capturing and begins to speak after a little silence, as a
    // person holding the talk key would; silence follows for as long as the capture records.
    bool begin(const QString &text)
    {
        const QByteArray speech = FifoMicrophone::speak(text, u"slt"_s);
        if (speech.isEmpty() || !test::awaitTask(capture.requestPermissions()) || !capture.start().ok())
            return false;
        voiced = heardToTheEnd = false;
        microphone.play(FifoMicrophone::silence(0.3) + speech + FifoMicrophone::silence(20.0));
        return true;
    }
    // Until the capture has taken in the whole speech: the bars rose with the voice and fell flat
    // in the silence after it. On a loaded machine the audio server delivers late, and a stop as
    // soon as the speech was written would cut its last words off.
    bool finishSpeaking() { return QTest::qWaitFor([this] { return heardToTheEnd; }, 20000); }

    VoiceAmplitudePublisher publisher;
    VoiceCaptureService capture;
    FifoMicrophone microphone;
    bool voiced = false;
    bool heardToTheEnd = false;
};

}  // namespace

class TestVoiceCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!FifoMicrophone::available())
            QSKIP("needs the audio test session (scripts/test-session.sh)");
    }

    // A desktop microphone at 48 kHz stereo, converted down for the recogniser (the microphone's
    // own 16 kHz mono is heard in the end-to-end voice turn).
    void recognizesSpeech()
    {
        VoiceCaptureBackend backend;
        backend.createAudioInput = [] { return createAudioInput({}, AudioInputFormat{48000, 2}); };
        Talk talk(backend);
        VoiceCaptureService &capture = talk.capture;
        QStringList partials;
        capture.setOnPartial([&](const QString &text) { partials.append(text); });
        QVERIFY(talk.begin(u"Please open the calendar and show me the weather for tomorrow"_s));
        QVERIFY(talk.finishSpeaking());
        const QString transcript = test::awaitTask(capture.stop());
        // Live partials while the user speaks, growing with the sentence.
        QVERIFY2(partials.size() >= 3, qPrintable(partials.join(u" | "_s)));
        QVERIFY(partials.first().size() < transcript.size());
        QCOMPARE(partials.last(), transcript);
        for (const QString &word : {u"calendar"_s, u"weather"_s, u"tomorrow"_s})
            QVERIFY2(transcript.contains(word), qPrintable(word + u" missing in: "_s + transcript));
        // The bars rose with the voice (finishSpeaking waited for it) and are reset by the stop.
        QCOMPARE(talk.publisher.levels(), kZeros);
    }

    // A start while listening changes nothing. A new hold of the talk key can start a capture
    // while the last one is still in its grace; the first capture's words must still come back
    // to whoever stopped it.
    void restartsKeepTheFirstTranscript()
    {
        Talk talk;
        VoiceCaptureService &capture = talk.capture;
        QVERIFY(talk.begin(u"Show me the weather"_s));
        QTRY_VERIFY_WITH_TIMEOUT(capture.latestPartial().contains("weather"_L1), 10000);
        const QString heard = capture.latestPartial();
        QVERIFY(capture.start().ok());
        QCOMPARE(capture.latestPartial(), heard);  // not a new capture
        QVERIFY(talk.finishSpeaking());

        QCoro::Task<QString> firstStop = capture.stop();
        QVERIFY(capture.start().ok());
        QCOMPARE(capture.latestPartial(), QString());
        QVERIFY(test::awaitTask(std::move(firstStop)).contains("weather"_L1));
        QVERIFY(capture.isListening());
        QCOMPARE(test::awaitTask(capture.stop()), QString());
    }

    // An app name no dictionary has is heard once the capture knows it is on the screen.
    void hearsTheNamesOnTheScreen()
    {
        Talk talk;
        VoiceCaptureService &capture = talk.capture;
        const auto hear = [&] {
            if (!talk.begin(u"switch to zorblax"_s) || !talk.finishSpeaking())
                return u"(no capture)"_s;
            return test::awaitTask(capture.stop());
        };
        const QString plain = hear();
        QVERIFY2(!plain.contains(u"zorblax"_s, Qt::CaseInsensitive), qPrintable(plain));
        capture.setContextProvider(
            [] { return recognition_context::vocabulary({u"Zorblax"_s}, {u"Untitled - Zorblax"_s}); });
        QCOMPARE(hear(), u"switch to Zorblax"_s);
    }

    // The recogniser is loaded when first asked for, let go while the voice mode is off, and
    // back with the next request for the microphone.
    void unloadedRecogniserComesBack()
    {
        int loads = 0;
        VoiceCaptureBackend backend;
        backend.createRecognizer = [&loads] {
            ++loads;
            return createSpeechRecognizer();
        };
        VoiceAmplitudePublisher publisher;
        VoiceCaptureService capture(publisher, backend);
        QVERIFY(test::awaitTask(capture.requestPermissions()));
        capture.unload();
        QCOMPARE(capture.start().failure().code, 1);
        QVERIFY(test::awaitTask(capture.requestPermissions()));
        QVERIFY(capture.start().ok());
        QCOMPARE(loads, 2);
        QVERIFY(test::awaitTask(capture.stop()).isEmpty());
    }

    void startFailsWithASentence_data()
    {
        QTest::addColumn<bool>("modelMissing");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("no speech model") << true << 1 << u"Speech recognizer unavailable."_s;
        QTest::newRow("no microphone") << false << 2 << u"No microphone was found. Connect one and try again."_s;
    }
    void startFailsWithASentence()
    {
        QFETCH(bool, modelMissing);
        QFETCH(int, code);
        QFETCH(QString, message);
        VoiceAmplitudePublisher publisher;
        VoiceCaptureBackend backend;
        if (modelMissing) {
            backend.createRecognizer = [] { return createSpeechRecognizer(u"/nonexistent/model"_s); };
        } else {
            backend.createAudioInput = [] { return createAudioInput("no-such-microphone"); };
            backend.microphonePresent = [] { return false; };
        }
        VoiceCaptureService capture(publisher, backend);
        QVERIFY(!test::awaitTask(capture.requestPermissions()));
        const Status started = capture.start();
        QVERIFY(!started.ok());
        QCOMPARE(started.failure(), (Failure{u"ZaPumVoice"_s, code, message}));
        QVERIFY(!capture.isListening());
        QCOMPARE(test::awaitTask(capture.stop()), QString());
    }
};

QTEST_GUILESS_MAIN(TestVoiceCapture)
#include "tst_voice_capture.moc"
