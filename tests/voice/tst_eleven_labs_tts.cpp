#include "voice/eleven_labs_tts.h"

#include "platform/audio_output.h"
#include "platform/linux/audio/mp3_decoder.h"
#include "support/await_task.h"
#include "support/fake_speech_api.h"
#include "voice/voice_amplitude_publisher.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using namespace zapum::test;

namespace {

const QByteArray kKey = "sk_test_0123456789abcdef";
const QString kVoice = u"EXAVITQu4vr4xnSDxMaL"_s;

QList<float> filled(float value)
{
    return QList<float>(VoiceAmplitudePublisher::kBandCount, value);
}

// Our stream as the audio server lists it while it plays.
int playbackStreams()
{
    QProcess pactl;
    pactl.start(u"pactl"_s, {u"list"_s, u"short"_s, u"sink-inputs"_s});
    pactl.waitForFinished(5000);
    return int(pactl.readAllStandardOutput().count('\n'));
}

FakeResponse audioReply(const QByteArray &body)
{
    FakeResponse reply;
    reply.headers = {{"Content-Type", "audio/mpeg"}};
    reply.body = body;
    return reply;
}

// Everything the decoder makes of `mp3` handed over in pieces of `size` bytes.
QByteArray decodeInPieces(const QByteArray &mp3, qsizetype size)
{
    auto decoder = Mp3Decoder::create();
    if (!decoder)
        return {};
    for (qsizetype from = 0; from < mp3.size(); from += size) {
        if (!decoder.value()->feed(mp3.mid(from, size)).ok())
            return {};
    }
    return decoder.value()->finish().ok() ? decoder.value()->pcm() : QByteArray();
}

}  // namespace

class TestElevenLabsTTS : public QObject {
    Q_OBJECT

    SpeechClip m_clip;
    std::unique_ptr<AudioOutput> m_output = createAudioOutput();

    struct Rig {
        explicit Rig(FakeSpeechApi &api, AudioOutput &output) : tts(publisher, output, api.baseUrl())
        {
            tts.onFinished = [this] { ++finishedCalls; };
        }
        Status speak(const QString &text, const QString &voiceId = kVoice)
        {
            return awaitTask(tts.speak(text, voiceId, QString::fromLatin1(kKey)));
        }
        VoiceAmplitudePublisher publisher;
        ElevenLabsTTS tts;
        int finishedCalls = 0;
    };

private Q_SLOTS:
    void initTestCase()
    {
        m_clip = toneAfterSilence(1.0, 1.0);
        QVERIFY2(!m_clip.mp3.isEmpty(), "sox and lame are needed to make the test sound");
    }

    void pronunciationFix_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the three spellings, every time")
            << u"I am ZaPum. Zapum's wings, hey zapum, ZAPUM!"_s << u"I am Zah-pum. Zah-pum's wings, hey Zah-pum, Zah-pum!"_s;
        QTest::newRow("only the whole word, only those spellings")
            << u"ZaPumBot superzapum ZaPum2 ZAPUM_x ZaPumé ZAPum zaPum"_s << u"ZaPumBot superzapum ZaPum2 ZAPUM_x ZaPumé ZAPum zaPum"_s;
    }
    void pronunciationFix()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ElevenLabsTTS::fixPronunciation(text), expected);
    }

    void requestIsExact()
    {
        FakeSpeechApi api(m_clip.mp3, kKey);
        api.enqueue(FakeResponse::json(500, R"({"detail":"busy"})"));  // ends the speak before playback
        Rig rig(api, *m_output);
        QVERIFY(!rig.speak(u"  Hi, I am ZaPum.\n"_s).ok());
        QCOMPARE(api.requestCount(), 1);

        const RecordedRequest request = api.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/v1/text-to-speech/") + kVoice.toLatin1() + "/stream");
        QByteArrayList ours;  // in their order and spelling, among whatever the HTTP stack adds
        for (const auto &[name, value] : request.headers) {
            if (QByteArrayList{"xi-api-key", "accept", "Content-Type"}.contains(name))
                ours.append(name + ": " + value);
        }
        QCOMPARE(ours, (QByteArrayList{"xi-api-key: " + kKey, "accept: audio/mpeg", "Content-Type: application/json"}));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 (QJsonObject{{u"text"_s, u"Hi, I am Zah-pum."_s},
                              {u"model_id"_s, u"eleven_turbo_v2_5"_s},
                              {u"voice_settings"_s, QJsonObject{{u"stability"_s, 0.5}, {u"similarity_boost"_s, 0.75}}}}));
    }

    // Blank text is done without a word; a voice id that could reach another endpoint (it goes
    // into the request path) is refused. Neither sends anything.
    void sendsNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("voiceId");
        QTest::newRow("blank text") << u"\n\t \r\n"_s << kVoice;
        QTest::newRow("voice id climbs out") << u"Hello"_s << u"../../v1/user"_s;
        QTest::newRow("voice id with an escape") << u"Hello"_s << u"abc%2F.."_s;
    }
    void sendsNothing()
    {
        QFETCH(QString, text);
        QFETCH(QString, voiceId);
        FakeSpeechApi api(m_clip.mp3, kKey);
        Rig rig(api, *m_output);
        const Status result = rig.speak(text, voiceId);
        QCOMPARE(result.ok(), voiceId == kVoice);
        if (!result.ok()) {
            QCOMPARE(result.failure().domain, u"ElevenLabs"_s);
            QVERIFY(result.failure().message.contains(u"ElevenLabs voice id in Settings \u2192 Voice"_s));
        }
        QCOMPARE(rig.finishedCalls, result.ok() ? 1 : 0);
        QCOMPARE(api.requestCount(), 0);  // a sent request would have been answered before the speak returned
    }

    // The network may cut the stream anywhere, inside a frame's header or its data: handed over
    // a byte at a time (every such cut at once), the sound comes out as from the reply in one piece.
    void decodesHoweverTheStreamIsCut()
    {
        const QByteArray whole = decodeInPieces(m_clip.mp3, m_clip.mp3.size());
        // Two seconds of 44.1 kHz mono, give or take the encoder's padding.
        QVERIFY2(std::abs(whole.size() / 2 - 88200) < 2400, qPrintable(QString::number(whole.size())));
        QVERIFY(decodeInPieces(m_clip.mp3, 1) == whole);
    }

    // A reply that cannot be played fails with a sentence, and the bars stay as they were.
    void unplayableRepliesFail_data()
    {
        QTest::addColumn<FakeResponse>("reply");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("message");  // ending in ": ", only the start of it
        const QString undecodable = u"The speech audio could not be decoded: "_s;
        QByteArray noise(4096, Qt::Uninitialized);
        QRandomGenerator generator(7);
        for (char &byte : noise)
            byte = char(generator.bounded(256));
        QTest::newRow("401 with the service's JSON") << FakeResponse::json(401, FakeSpeechApi::kInvalidKeyBody)
                                                     << u"ElevenLabs"_s << QString::fromLatin1(FakeSpeechApi::kInvalidKeyBody);
        QTest::newRow("body not UTF-8") << FakeResponse::json(500, QByteArray("\xff\xfe\xc3", 3)) << u"ElevenLabs"_s
                                        << u"tts failed"_s;
        QTest::newRow("audio noise") << audioReply(noise) << QString::fromLatin1(kAudioDomain) << undecodable;
    }
    void unplayableRepliesFail()
    {
        QFETCH(FakeResponse, reply);
        QFETCH(QString, domain);
        QFETCH(QString, message);
        FakeSpeechApi api(m_clip.mp3, kKey);
        api.enqueue(reply);
        Rig rig(api, *m_output);
        rig.publisher.setLevels(filled(0.4f));
        const Status result = rig.speak(u"Hello"_s);
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().domain, domain);
        if (message.endsWith(u": "_s))
            QVERIFY2(result.failure().message.startsWith(message), qPrintable(result.failure().message));
        else
            QCOMPARE(result.failure(), (Failure{domain, 0, message}));
        QCOMPARE(rig.tts.player(), nullptr);
        QVERIFY(!rig.tts.isMetering());
        QCOMPARE(rig.publisher.levels(), filled(0.4f));
    }

    // A second of silence, then a second of tone. A bar level that ran ahead of the sound
    // (metering what was written to the device rather than what is played) would rise well before
    // the tone is heard. A stream that breaks off three quarters in, during the tone, is heard to
    // where it broke, and then the network's failure is told. Cutting the bee off in the tone
    // silences it within 100 ms, the bars flat at once, and the speak returns cancelled.
    void playback_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("played to the end") << u"played"_s;
        QTest::newRow("stream broken off") << u"broken"_s;
        QTest::newRow("cut off") << u"stopped"_s;
    }
    void playback()
    {
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test session's audio server (scripts/test-session.sh)");
        QFETCH(QString, ending);
        const bool broken = ending == "broken"_L1;
        FakeSpeechApi api(m_clip.mp3, kKey);
        FakeResponse reply = audioReply(m_clip.mp3);
        if (broken) {  // in 4 KB pieces at twice the playing speed, as the service streams it
            reply.trickleBytes = 4096;
            reply.trickleInterval = std::chrono::milliseconds(m_clip.durationMs * 4096 / m_clip.mp3.size() / 2);
            reply.cutAfterBytes = m_clip.mp3.size() * 3 / 4;
        }
        api.enqueue(reply);
        Rig rig(api, *m_output);
        QElapsedTimer clock;
        QList<std::pair<qint64, QList<float>>> published;
        connect(&rig.publisher, &VoiceAmplitudePublisher::levelsChanged, &rig.publisher,
                [&] { published.append({clock.elapsed(), rig.publisher.levels()}); });
        // The audio server tells the moment our stream is gone, without the start-up time of a
        // listing per look, which alone exceeded 100 ms on a busy machine.
        QProcess serverEvents;
        QByteArray told;
        const auto serverTells = [&](const QByteArray &event) {
            while (!told.contains(event) && (serverEvents.bytesAvailable() > 0 || serverEvents.waitForReadyRead(3000)))
                told += serverEvents.readAll();
            return told.contains(event);
        };
        bool flatAtOnce = false;
        qint64 silentAfterMs = -1;
        if (ending == "stopped"_L1) {
            serverEvents.start(u"stdbuf"_s, {u"-oL"_s, u"pactl"_s, u"subscribe"_s});  // a line as it comes
            QTimer::singleShot(1400, &rig.tts, [&] {  // in the tone
                // A listing connects a client of its own: once told of it, the subscriber listens.
                if (playbackStreams() != 1 || !serverTells("' on client #"))
                    return;
                told.clear();  // what comes now comes after the stop
                QElapsedTimer stopping;
                stopping.start();
                rig.tts.stop();
                flatAtOnce = rig.publisher.levels() == filled(0.0f) && rig.tts.player() == nullptr;
                if (serverTells("'remove' on sink-input"))
                    silentAfterMs = stopping.elapsed();
            });
        }
        clock.start();
        const Status result = rig.speak(u"Tone"_s);
        const qint64 elapsed = clock.elapsed();
        if (broken) {
            QVERIFY(!result.ok());
            QCOMPARE(result.failure().domain, QString::fromLatin1(kTransportDomain));
            QVERIFY2(elapsed >= m_clip.durationMs * 3 / 4 - 100, qPrintable(QString::number(elapsed)));
        } else if (ending == "stopped"_L1) {
            QVERIFY(!result.ok());
            QCOMPARE(transportErrorOf(result.failure()), TransportError::Cancelled);
            QVERIFY(flatAtOnce);
            QVERIFY2(silentAfterMs >= 0 && silentAfterMs < 100, qPrintable(QString::number(silentAfterMs)));
        } else {
            QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.failure().message));
            // The request, the cushion and the audio server's latency come on top of the clip,
            // but little else: the end is when the last sound is heard.
            QVERIFY2(elapsed >= m_clip.durationMs && elapsed < m_clip.durationMs + 1500,
                     qPrintable(u"%1 ms for %2 ms of audio"_s.arg(elapsed).arg(m_clip.durationMs)));
        }

        // The first meter reading comes one tick after playback started, long before the stream
        // has all come (at half the clip's length). Times count from it; the tone is heard from
        // 1 s on, plus the audio server's latency (more than 0.5 s seen on a busy machine). At half
        // of full scale its mean power is -9 dB, a level of about 0.59 before jitter; once heard,
        // a whole tone holds the bars up for at least 400 ms.
        QVERIFY(published.size() > 2);
        const qint64 start = published.first().first;
        QVERIFY2(start < m_clip.durationMs / 4, qPrintable(QString::number(start)));
        const float floorMax = float(ElevenLabsTTS::meterLevel(-60.0) * 1.15) + 0.001f;
        qint64 heardAt = -1;
        for (const auto &[at, bars] : std::as_const(published)) {
            const QString where = u"%1 at %2 ms"_s.arg(bars[3]).arg(at - start);
            if (at - start > 100 && at - start < 850)
                QVERIFY2(bars[3] <= floorMax, qPrintable(where));
            if (heardAt < 0 && bars[3] > 0.45f)
                heardAt = at;
            if (ending == "played"_L1 && heardAt >= 0 && at - heardAt < 400)
                QVERIFY2(bars[3] > 0.45f, qPrintable(where));
        }
        QVERIFY(ending == "stopped"_L1 || heardAt >= 0);
        // Flat once done.
        QCOMPARE(published.last().second, filled(0.0f));
        QCOMPARE(rig.tts.player(), nullptr);
        QVERIFY(!rig.tts.isMetering());
        QCOMPARE(rig.finishedCalls, ending == "played"_L1 ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(playbackStreams(), 0, 3000);
        serverEvents.kill();
        serverEvents.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestElevenLabsTTS)
#include "tst_eleven_labs_tts.moc"
