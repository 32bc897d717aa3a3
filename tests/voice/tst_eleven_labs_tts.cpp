#include "voice/eleven_labs_tts.h"

#include "platform/audio_output.h"
#include "support/await_task.h"
#include "support/fake_speech_api.h"
#include "voice/voice_amplitude_publisher.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <cmath>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

const QByteArray kKey = "sk_test_0123456789abcdef";
const QString kVoice = QStringLiteral("EXAVITQu4vr4xnSDxMaL");

QList<float> filled(float value)
{
    return QList<float>(VoiceAmplitudePublisher::kBandCount, value);
}

bool inSession()
{
    return !qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION");
}

// Our stream as the audio server lists it while it plays.
int playbackStreams()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
    pactl.waitForFinished(5000);
    return int(pactl.readAllStandardOutput().count('\n'));
}

}  // namespace

class TestElevenLabsTTS : public QObject {
    Q_OBJECT

    SpeechClip m_clip;
    std::unique_ptr<AudioOutput> m_output = createAudioOutput();

    struct Rig {
        explicit Rig(FakeSpeechApi &api, AudioOutput &output, QUrl baseUrl = {})
            : tts(publisher, output, baseUrl.isEmpty() ? api.baseUrl() : baseUrl)
        {
            tts.onFinished = [this] { ++finishedCalls; };
        }
        VoiceAmplitudePublisher publisher;
        ElevenLabsTTS tts;
        int finishedCalls = 0;
    };

private Q_SLOTS:
    void initTestCase()
    {
        // The child run of noOutputDeviceFailsClearly() needs no speech of its own.
        if (qEnvironmentVariableIsSet("ZAPUM_TEST_NO_AUDIO_SERVER"))
            return;
        m_clip = synthesizeSpeech(QStringLiteral("Hello, I am your desktop bee. Let me open that for you."));
        QVERIFY2(!m_clip.mp3.isEmpty(), "flite, sox and lame are needed to make the test speech");
    }

    void pronunciationFix_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("mixed case") << "I am ZaPum." << "I am Zah-pum.";
        QTest::newRow("capitalised") << "Zapum here" << "Zah-pum here";
        QTest::newRow("upper case") << "ZAPUM!" << "Zah-pum!";
        QTest::newRow("lower case") << "hey zapum, hi" << "hey Zah-pum, hi";
        QTest::newRow("before an apostrophe") << "ZaPum's wings" << "Zah-pum's wings";
        QTest::newRow("every occurrence") << "ZaPum and zapum" << "Zah-pum and Zah-pum";
        QTest::newRow("inside a longer word") << "ZaPumBot and superzapum" << "ZaPumBot and superzapum";
        QTest::newRow("followed by a digit") << "ZaPum2 ZAPUM_x" << "ZaPum2 ZAPUM_x";
        QTest::newRow("run into an accented letter") << "ZaPumé" << "ZaPumé";
        QTest::newRow("other case mixes") << "ZAPum zaPum ZapUM" << "ZAPum zaPum ZapUM";
    }

    void pronunciationFix()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ElevenLabsTTS::fixPronunciation(text), expected);
    }

    void meterLevel_data()
    {
        QTest::addColumn<double>("powerDb");
        QTest::addColumn<double>("expected");
        QTest::newRow("floor") << -60.0 << std::sqrt(0.001);
        QTest::newRow("below the floor") << AudioClipPlayer::kSilenceDb << std::sqrt(0.001);
        QTest::newRow("-20 dB") << -20.0 << std::sqrt(0.1);
        QTest::newRow("full scale") << 0.0 << 1.0;
        QTest::newRow("above full scale") << 6.0 << 1.0;
    }

    void meterLevel()
    {
        QFETCH(double, powerDb);
        QFETCH(double, expected);
        QVERIFY(std::abs(ElevenLabsTTS::meterLevel(powerDb) - expected) < 1e-9);
    }

    void meterBars_data()
    {
        QTest::addColumn<double>("level");
        QTest::addColumn<double>("jitter");
        QTest::addColumn<QList<float>>("expected");
        QTest::newRow("bell at full level")
            << 1.0 << 1.0 << QList<float>{0.2231f, 0.5134f, 0.8465f, 1.0f, 0.8465f, 0.5134f, 0.2231f};
        QTest::newRow("high jitter clamps the middle")
            << 1.0 << 1.15 << QList<float>{0.2566f, 0.5904f, 0.9735f, 1.0f, 0.9735f, 0.5904f, 0.2566f};
        QTest::newRow("low jitter at half level")
            << 0.5 << 0.85 << QList<float>{0.0948f, 0.2182f, 0.3598f, 0.425f, 0.3598f, 0.2182f, 0.0948f};
    }

    void meterBars()
    {
        QFETCH(double, level);
        QFETCH(double, jitter);
        QFETCH(QList<float>, expected);
        const QList<float> bars = ElevenLabsTTS::meterBars(level, [jitter] { return jitter; });
        QCOMPARE(bars.size(), expected.size());
        for (qsizetype i = 0; i < bars.size(); ++i)
            QVERIFY2(std::abs(bars[i] - expected[i]) < 1e-3, qPrintable(QString::number(i)));
    }

    void requestIsExact()
    {
        FakeSpeechApi api(m_clip.mp3, kKey);
        api.enqueue(FakeResponse::json(500, R"({"detail":"busy"})"));  // ends the speak before playback
        Rig rig(api, *m_output);
        const Status result = awaitTask(rig.tts.speak(QStringLiteral("  Hi, I am ZaPum.\n"), kVoice, QString::fromLatin1(kKey)));
        QVERIFY(!result.ok());
        QCOMPARE(api.requestCount(), 1);

        const RecordedRequest request = api.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/text-to-speech/") + kVoice.toLatin1());
        QCOMPARE(request.header("xi-api-key"), std::optional<QByteArray>(kKey));
        QCOMPARE(request.header("accept"), std::optional<QByteArray>("audio/mpeg"));
        QCOMPARE(request.header("Content-Type"), std::optional<QByteArray>("application/json"));
        const QList<QByteArray> names = request.headerNames();
        const qsizetype key = names.indexOf("xi-api-key");
        const qsizetype accept = names.indexOf("accept");
        const qsizetype type = names.indexOf("Content-Type");
        QVERIFY2(key >= 0 && key < accept && accept < type, names.join(", ").constData());

        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        const QJsonObject expected{
            {QStringLiteral("text"), QStringLiteral("Hi, I am Zah-pum.")},
            {QStringLiteral("model_id"), QStringLiteral("eleven_turbo_v2_5")},
            {QStringLiteral("voice_settings"),
             QJsonObject{{QStringLiteral("stability"), 0.5}, {QStringLiteral("similarity_boost"), 0.75}}},
        };
        QCOMPARE(body, expected);
    }

    void keepsTheBaseUrlPrefix()
    {
        QCOMPARE(ElevenLabsTTS::endpoint(QUrl(QStringLiteral("http://proxy.local:8080/eleven")), QStringLiteral("v1d")),
                 QUrl(QStringLiteral("http://proxy.local:8080/eleven/v1/text-to-speech/v1d")));
        QCOMPARE(ElevenLabsTTS::defaultBaseUrl().host(), QStringLiteral("api.elevenlabs.io"));

        qputenv("ZAPUM_ELEVENLABS_BASE_URL", "http://127.0.0.1:9/tts-proxy/");
        const QUrl overridden = ElevenLabsTTS::baseUrlFromEnvironment();
        qunsetenv("ZAPUM_ELEVENLABS_BASE_URL");
        QCOMPARE(overridden, QUrl(QStringLiteral("http://127.0.0.1:9/tts-proxy/")));
        QCOMPARE(ElevenLabsTTS::baseUrlFromEnvironment(), ElevenLabsTTS::defaultBaseUrl());
    }

    void blankTextSendsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("spaces") << QStringLiteral("   ");
        QTest::newRow("line breaks and tabs") << QStringLiteral("\n\t \r\n");
    }

    void blankTextSendsNothing()
    {
        QFETCH(QString, text);
        FakeSpeechApi api(m_clip.mp3, kKey);
        Rig rig(api, *m_output);
        QVERIFY(awaitTask(rig.tts.speak(text, kVoice, QString::fromLatin1(kKey))).ok());
        QCOMPARE(rig.finishedCalls, 1);
        QTest::qWait(100);
        QCOMPARE(api.requestCount(), 0);
    }

    void unsafeVoiceIdSendsNothing_data()
    {
        QTest::addColumn<QString>("voiceId");
        QTest::newRow("empty") << QString();
        QTest::newRow("dot") << QStringLiteral(".");
        QTest::newRow("dot dot") << QStringLiteral("..");
        QTest::newRow("climbs out") << QStringLiteral("../../v1/user");
        QTest::newRow("slash") << QStringLiteral("abc/stream");
        QTest::newRow("backslash") << QStringLiteral("abc\\..");
        QTest::newRow("query") << QStringLiteral("abc?redirect=x");
        QTest::newRow("fragment") << QStringLiteral("abc#x");
        QTest::newRow("escape") << QStringLiteral("abc%2F..");
        QTest::newRow("inner space") << QStringLiteral("EXAVITQu4vr 4xnSDxMaL");
        QTest::newRow("trailing line break") << QStringLiteral("EXAVITQu4vr4xnSDxMaL\n");
        QTest::newRow("control character") << QStringLiteral("abc\x01");
    }

    void unsafeVoiceIdSendsNothing()
    {
        QFETCH(QString, voiceId);
        FakeSpeechApi api(m_clip.mp3, kKey);
        Rig rig(api, *m_output);
        const Status result = awaitTask(rig.tts.speak(QStringLiteral("Hello"), voiceId, QString::fromLatin1(kKey)));
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().domain, QStringLiteral("ElevenLabs"));
        QVERIFY(result.failure().message.contains(QStringLiteral("ElevenLabs voice id in Settings \u2192 Voice")));
        QCOMPARE(rig.finishedCalls, 0);
        QTest::qWait(100);
        QCOMPARE(api.requestCount(), 0);
    }

    void errorRepliesFail_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("401 with the service's JSON")
            << FakeResponse::json(401, FakeSpeechApi::kInvalidKeyBody) << QString::fromLatin1(FakeSpeechApi::kInvalidKeyBody);
        QTest::newRow("body not UTF-8") << FakeResponse::json(500, QByteArray("\xff\xfe\xc3", 3)) << QStringLiteral("tts failed");
        QTest::newRow("empty body") << FakeResponse::json(503, QByteArray()) << QStringLiteral("tts failed");
        QTest::newRow("plain text") << FakeResponse::json(429, "Too many requests") << QStringLiteral("Too many requests");
    }

    void errorRepliesFail()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, message);
        FakeSpeechApi api(m_clip.mp3, kKey);
        api.enqueue(reply);
        Rig rig(api, *m_output);
        rig.publisher.setLevels(filled(0.4f));
        const Status result = awaitTask(rig.tts.speak(QStringLiteral("Hello"), kVoice, QString::fromLatin1(kKey)));
        QVERIFY(!result.ok());
        QCOMPARE(result.failure(), (Failure{QStringLiteral("ElevenLabs"), 0, message}));
        QCOMPARE(rig.publisher.levels(), filled(0.4f));
        QCOMPARE(rig.finishedCalls, 0);
    }

    void transportFailureIsPassedOn()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        FakeSpeechApi api(m_clip.mp3, kKey);
        Rig rig(api, *m_output, QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)));
        const Status result = awaitTask(rig.tts.speak(QStringLiteral("Hello"), kVoice, QString::fromLatin1(kKey)));
        QVERIFY(!result.ok());
        QVERIFY(transportErrorOf(result.failure()) == TransportError::CannotConnect);
    }

    void audioThatIsNotMp3PlaysNothing_data()
    {
        QTest::addColumn<QByteArray>("body");
        QByteArray noise(4096, Qt::Uninitialized);
        QRandomGenerator generator(7);
        for (char &byte : noise)
            byte = char(generator.bounded(256));
        QTest::newRow("JSON") << QByteArray(R"({"status":"ok"})");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("noise") << noise;
        QTest::newRow("cut to a few bytes") << m_clip.mp3.left(3);
    }

    void audioThatIsNotMp3PlaysNothing()
    {
        QFETCH(QByteArray, body);
        FakeSpeechApi api(m_clip.mp3, kKey);
        FakeResponse reply;
        reply.headers = {{"Content-Type", "audio/mpeg"}};
        reply.body = body;
        api.enqueue(reply);
        Rig rig(api, *m_output);
        rig.publisher.setLevels(filled(0.3f));
        const Status result = awaitTask(rig.tts.speak(QStringLiteral("Hello"), kVoice, QString::fromLatin1(kKey)));
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().domain, QString::fromLatin1(kAudioDomain));
        QVERIFY2(result.failure().message.startsWith(QStringLiteral("The speech audio could not be decoded: ")),
                 qPrintable(result.failure().message));
        QCOMPARE(rig.tts.player(), nullptr);
        QVERIFY(!rig.tts.isMetering());
        QCOMPARE(rig.publisher.levels(), filled(0.3f));
        QCOMPARE(rig.finishedCalls, 0);
    }

    void playsToTheEndAndFlattensTheBars()
    {
        if (!inSession())
            QSKIP("needs the test session's audio server (scripts/test-session.sh)");
        QVERIFY(m_clip.durationMs > 1000);
        FakeSpeechApi api(m_clip.mp3, kKey);
        Rig rig(api, *m_output);
        QList<QList<float>> published;
        connect(&rig.publisher, &VoiceAmplitudePublisher::levelsChanged, &rig.publisher,
                [&] { published.append(rig.publisher.levels()); });
        int streamsWhilePlaying = -1;
        bool meteringWhilePlaying = false;
        QTimer::singleShot(m_clip.durationMs / 2, &rig.tts, [&] {
            streamsWhilePlaying = playbackStreams();
            meteringWhilePlaying = rig.tts.isMetering() && rig.tts.player() != nullptr;
        });

        QElapsedTimer clock;
        clock.start();
        const Status result = awaitTask(rig.tts.speak(QStringLiteral("Hello, ZaPum here."), kVoice, QString::fromLatin1(kKey)));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.failure().message));

        // Request and decoding come on top of the clip and its 0.1 s tail, but little else.
        QVERIFY2(elapsed >= m_clip.durationMs + 100 && elapsed < m_clip.durationMs + 1500,
                 qPrintable(QStringLiteral("%1 ms for %2 ms of audio").arg(elapsed).arg(m_clip.durationMs)));
        QCOMPARE(streamsWhilePlaying, 1);
        QVERIFY(meteringWhilePlaying);

        // The bars moved with the voice, shaped as a bell, no faster than 30 a second.
        QVERIFY2(published.size() > 2, qPrintable(QString::number(published.size())));
        const auto loudest = *std::max_element(published.begin(), published.end(),
                                               [](const auto &a, const auto &b) { return a[3] < b[3]; });
        QVERIFY2(loudest[3] > 0.3f, qPrintable(QString::number(loudest[3])));
        QVERIFY(loudest[0] < loudest[3]);
        QVERIFY2(published.size() <= (elapsed * 30) / 1000 + 2, qPrintable(QString::number(published.size())));

        QCOMPARE(rig.publisher.levels(), filled(0.0f));
        QCOMPARE(published.last(), filled(0.0f));
        QCOMPARE(rig.tts.player(), nullptr);
        QVERIFY(!rig.tts.isMetering());
        QCOMPARE(rig.finishedCalls, 1);
        QTRY_COMPARE_WITH_TIMEOUT(playbackStreams(), 0, 3000);
    }

    void barsFollowWhatIsHeard()
    {
        if (!inSession())
            QSKIP("needs the test session's audio server (scripts/test-session.sh)");
        // A bar level that ran ahead of the sound (metering what was written to the device
        // rather than what is played) would rise well before the tone is heard.
        const SpeechClip clip = toneAfterSilence(1.0, 1.0);
        QVERIFY(!clip.mp3.isEmpty());
        FakeSpeechApi api(clip.mp3, kKey);
        Rig rig(api, *m_output);
        QElapsedTimer clock;
        QList<QPair<qint64, float>> middleBar;
        connect(&rig.publisher, &VoiceAmplitudePublisher::levelsChanged, &rig.publisher,
                [&] { middleBar.append({clock.elapsed(), rig.publisher.levels()[3]}); });
        clock.start();
        QVERIFY(awaitTask(rig.tts.speak(QStringLiteral("Tone"), kVoice, QString::fromLatin1(kKey))).ok());

        const float floorMax = float(ElevenLabsTTS::meterLevel(-60.0) * 1.15) + 0.001f;
        // Times count from the first meter reading, one tick after playback started; the tone is
        // heard from 1 s on, plus the audio server's latency. At half of full scale its mean
        // power is -9 dB, a level of about 0.59 before jitter.
        QVERIFY(!middleBar.isEmpty());
        const qint64 start = middleBar.first().first;
        for (const auto &[at, level] : std::as_const(middleBar)) {
            if (at - start > 100 && at - start < 850)
                QVERIFY2(level <= floorMax, qPrintable(QStringLiteral("%1 at %2 ms").arg(level).arg(at - start)));
            if (at - start > 1400 && at - start < 1900)
                QVERIFY2(level > 0.45f, qPrintable(QStringLiteral("%1 at %2 ms").arg(level).arg(at - start)));
        }
    }

    void noOutputDeviceFailsClearly()
    {
        if (qEnvironmentVariableIsSet("ZAPUM_TEST_NO_AUDIO_SERVER")) {
            // The child run: the audio server named below does not exist.
            const SpeechClip clip{synthesizeSpeech(QStringLiteral("Hello"))};
            FakeSpeechApi api(clip.mp3, kKey);
            Rig rig(api, *m_output);
            rig.publisher.setLevels(filled(0.2f));
            const Status result = awaitTask(rig.tts.speak(QStringLiteral("Hello"), kVoice, QString::fromLatin1(kKey)));
            QVERIFY(!result.ok());
            QCOMPARE(result.failure().domain, QString::fromLatin1(kAudioDomain));
            QCOMPARE(result.failure().message,
                     QStringLiteral("No audio output device is available, so the reply cannot be played."));
            QCOMPARE(rig.tts.player(), nullptr);
            QCOMPARE(rig.publisher.levels(), filled(0.2f));
            return;
        }
        // The audio back-end reads where its server is once per process, so the case runs in a
        // child process of its own.
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZAPUM_TEST_NO_AUDIO_SERVER"), QStringLiteral("1"));
        environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/zapum-no-audio"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("noOutputDeviceFailsClearly")});
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(child.exitCode() == 0, child.readAll().constData());
    }
};

QTEST_GUILESS_MAIN(TestElevenLabsTTS)
#include "tst_eleven_labs_tts.moc"
