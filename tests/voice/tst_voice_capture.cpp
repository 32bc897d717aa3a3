#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_capture_service.h"

#include "support/await_task.h"
#include "support/fifo_microphone.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

using namespace zapum;
using namespace std::chrono_literals;
using test::FifoMicrophone;

namespace {

const QList<float> kZeros(VoiceAmplitudePublisher::kBandCount, 0.0f);

// Speech with a little silence on either side, as a person holding the talk key would produce.
QByteArray utterance(const QString &text, const QString &voice)
{
    const QByteArray speech = FifoMicrophone::speak(text, voice);
    if (speech.isEmpty())
        return {};
    return FifoMicrophone::silence(0.3) + speech + FifoMicrophone::silence(0.8);
}

// A capture and the microphone it records, as the voice session drives them.
struct Talk {
    explicit Talk(VoiceCaptureTiming timing = {}, VoiceCaptureBackend backend = {})
        : capture(publisher, std::move(backend), timing)
    {
    }

    // Starts capturing and begins to speak.
    bool begin(const QString &text, const QString &voice)
    {
        const QByteArray audio = utterance(text, voice);
        if (audio.isEmpty() || !capture.start().ok())
            return false;
        seconds = double(audio.size()) / 2 / FifoMicrophone::kSampleRate;
        microphone.play(audio);
        return true;
    }
    bool finishSpeaking() { return microphone.waitUntilPlayed(20s); }

    VoiceAmplitudePublisher publisher;
    VoiceCaptureService capture;
    FifoMicrophone microphone;
    double seconds = 0.0;
};

int wordCount(const QString &text)
{
    return int(text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size());
}

}  // namespace

class TestVoiceCapture : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!qEnvironmentVariableIsSet("ZAPUM_NO_AUDIO_SERVER_CHILD") && !FifoMicrophone::available())
            QSKIP("needs the audio test session (scripts/test-session.sh)");
    }

    void recognizesSpeech_data()
    {
        QTest::addColumn<QString>("voice");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("keyWords");
        QTest::addColumn<int>("sampleRate");  // 0: the microphone's own (16 kHz mono here)
        QTest::addColumn<int>("channels");
        QTest::newRow("slt") << "slt" << "Please open the calendar and show me the weather for tomorrow"
                             << "calendar weather tomorrow" << 0 << 0;
        QTest::newRow("rms") << "rms" << "What time is it in London right now" << "time london" << 0 << 0;
        QTest::newRow("awb") << "awb" << "Send a message to my mother tonight" << "message mother" << 0 << 0;
        // Desktop microphones, converted down for the recogniser.
        QTest::newRow("48 kHz stereo") << "slt" << "What is the capital of France" << "capital france" << 48000 << 2;
        QTest::newRow("44.1 kHz") << "rms" << "Turn the music down a little" << "music little" << 44100 << 1;
    }

    void recognizesSpeech()
    {
        QFETCH(QString, voice);
        QFETCH(QString, sentence);
        QFETCH(QString, keyWords);
        QFETCH(int, sampleRate);
        QFETCH(int, channels);

        VoiceCaptureBackend backend;
        backend.createAudioInput = [=] { return createAudioInput({}, AudioInputFormat{sampleRate, channels}); };
        Talk talk({}, backend);
        VoiceCaptureService &capture = talk.capture;
        QVERIFY(test::awaitTask(capture.requestPermissions()));
        QStringList partials;
        capture.setOnPartial([&](const QString &text) {
            QCOMPARE(text, capture.latestPartial());
            partials.append(text);
        });
        QVERIFY(talk.begin(sentence, voice));
        QVERIFY(capture.isListening());
        QVERIFY(talk.finishSpeaking());
        const QString transcript = test::awaitTask(capture.stop());
        QVERIFY(!capture.isListening());

        qInfo().noquote() << voice << "heard:" << transcript;
        // Live partials while the user speaks, growing with the sentence.
        QVERIFY2(partials.size() >= 3, qPrintable(partials.join(QLatin1String(" | "))));
        QVERIFY(wordCount(partials.first()) < wordCount(transcript));
        QCOMPARE(partials.last(), transcript);
        for (const QString &word : keyWords.split(QLatin1Char(' ')))
            QVERIFY2(transcript.contains(word), qPrintable(word + QLatin1String(" missing in: ") + transcript));
    }

    void stopWithoutCaptureReturnsAtOnce()
    {
        VoiceAmplitudePublisher publisher;
        VoiceCaptureService capture(publisher);
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(test::awaitTask(capture.stop()), QString());
        QVERIFY(elapsed.elapsed() < 100);
    }

    void levelsFollowTheVoiceAndFallFlatAfterStop()
    {
        Talk talk;
        int updates = 0;
        connect(&talk.publisher, &VoiceAmplitudePublisher::levelsChanged, this, [&] { ++updates; });
        QVERIFY(talk.begin(QStringLiteral("Hello there, how are you today"), QStringLiteral("slt")));
        QTRY_VERIFY(talk.publisher.levels() != kZeros);
        QVERIFY(talk.finishSpeaking());
        test::awaitTask(talk.capture.stop());
        QCOMPARE(talk.publisher.levels(), kZeros);
        // Throttled to 30 a second at most, with blocks of 64 ms there are fewer than 16.
        QVERIFY2(updates >= 5 && updates <= talk.seconds * 16 + 2, qPrintable(QString::number(updates)));
    }

    void startTwiceChangesNothing()
    {
        Talk talk;
        QVERIFY(talk.begin(QStringLiteral("Open the calendar please"), QStringLiteral("rms")));
        VoiceCaptureService &capture = talk.capture;
        QTRY_VERIFY_WITH_TIMEOUT(capture.latestPartial().contains(QLatin1String("calendar")), 10000);
        const QString heard = capture.latestPartial();
        QVERIFY(capture.start().ok());
        QVERIFY(capture.isListening());
        QCOMPARE(capture.latestPartial(), heard);  // not a new capture
        QVERIFY(talk.finishSpeaking());
        QVERIFY(test::awaitTask(capture.stop()).contains(QLatin1String("calendar")));
    }

    // A new hold of the talk key can start a capture while the last one is still in its grace;
    // the first capture's words must still come back to whoever stopped it.
    void newCaptureDuringGraceKeepsTheFirstTranscript()
    {
        Talk talk;
        QVERIFY(talk.begin(QStringLiteral("Show me the weather"), QStringLiteral("slt")));
        QVERIFY(talk.finishSpeaking());
        VoiceCaptureService &capture = talk.capture;
        QTRY_VERIFY_WITH_TIMEOUT(capture.latestPartial().contains(QLatin1String("weather")), 5000);

        QCoro::Task<QString> firstStop = capture.stop();
        QVERIFY(capture.start().ok());
        QCOMPARE(capture.latestPartial(), QString());
        QVERIFY(test::awaitTask(std::move(firstStop)).contains(QLatin1String("weather")));
        QVERIFY(capture.isListening());
        QCOMPARE(capture.latestPartial(), QString());
        QCOMPARE(test::awaitTask(capture.stop()), QString());
    }

    void resultsAfterTheGraceAreDropped()
    {
        Talk talk(VoiceCaptureTiming{0ms});
        QVERIFY(talk.begin(QStringLiteral("Open the calendar please"), QStringLiteral("slt")));
        QVERIFY(talk.finishSpeaking());
        VoiceCaptureService &capture = talk.capture;
        bool stopped = false;
        int lateCalls = 0;
        capture.setOnPartial([&](const QString &) { lateCalls += stopped ? 1 : 0; });
        const QString transcript = test::awaitTask(capture.stop());
        stopped = true;
        const QString partial = capture.latestPartial();
        QTest::qWait(500);
        QCOMPARE(lateCalls, 0);
        QCOMPARE(capture.latestPartial(), partial);
        QVERIFY(transcript.isEmpty() || transcript == partial);
    }

    void startFailsWithASentence_data()
    {
        QTest::addColumn<bool>("modelMissing");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("no speech model") << true << 1 << "Speech recognizer unavailable.";
        QTest::newRow("no microphone") << false << 2 << "No microphone was found. Connect one and try again.";
    }

    void startFailsWithASentence()
    {
        QFETCH(bool, modelMissing);
        QFETCH(int, code);
        QFETCH(QString, message);
        VoiceAmplitudePublisher publisher;
        VoiceCaptureBackend backend;
        if (modelMissing) {
            backend.createRecognizer = [] { return createSpeechRecognizer(QStringLiteral("/nonexistent/model")); };
        } else {
            backend.createAudioInput = [] { return createAudioInput("no-such-microphone"); };
            backend.microphonePresent = [] { return false; };
        }
        VoiceCaptureService capture(publisher, backend);
        QVERIFY(!test::awaitTask(capture.requestPermissions()));
        const Status started = capture.start();
        QVERIFY(!started.ok());
        QCOMPARE(started.failure(), (Failure{QStringLiteral("ZaPumVoice"), code, message}));
        QVERIFY(!capture.isListening());
    }

    // Qt's audio back-end connects once per process, so an unreachable audio server is tried in a
    // child process of this test.
    void audioServerUnreachable()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse/native"));
        environment.insert(QStringLiteral("ZAPUM_NO_AUDIO_SERVER_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("noAudioServerChild")});
        QVERIFY(child.waitForFinished(30000));
        QVERIFY2(child.exitCode() == 0, child.readAllStandardOutput().constData());
    }

    void noAudioServerChild()
    {
        if (!qEnvironmentVariableIsSet("ZAPUM_NO_AUDIO_SERVER_CHILD"))
            QSKIP("runs only as the child of audioServerUnreachable");
        VoiceAmplitudePublisher publisher;
        VoiceCaptureService capture(publisher);
        QVERIFY(!test::awaitTask(capture.requestPermissions()));
        const Status started = capture.start();
        QVERIFY(!started.ok());
        QCOMPARE(started.failure().domain, QStringLiteral("ZaPumVoice"));
        QVERIFY2(started.failure().code == 2 || started.failure().code == 4, qPrintable(started.failure().message));
        QVERIFY(!capture.isListening());
    }
};

QTEST_GUILESS_MAIN(TestVoiceCapture)
#include "tst_voice_capture.moc"
