// First sound of a spoken reply: from the speech request to the first PCM frames handed to the
// audio device, against a speech server that thinks for 300 ms and then streams a 10 s MP3 in
// 4 KB pieces at twice its playing speed, as the vendor's streaming endpoint does. Each run plays
// the whole reply, so that any time the output ran dry (an audible gap) is counted too.
// Run inside scripts/test-session.sh (needs an audio server).
// Usage: bench_tts_first_frame [runs [speed]], speed being the pace against real time (default 2).

#include "platform/audio_output.h"
#include "support/fake_speech_api.h"
#include "voice/eleven_labs_tts.h"
#include "voice/voice_amplitude_publisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <cstdio>
#include <optional>

using namespace zapum;

namespace {

QElapsedTimer g_clock;

constexpr qsizetype kPieceBytes = 4096;
constexpr int kThinkingMs = 300;

// Hands everything to the real player and notes when its first frames reached the device.
class TimedPlayer : public AudioStreamPlayer {
public:
    TimedPlayer(std::unique_ptr<AudioStreamPlayer> real, std::optional<qint64> &firstFramesAt, int &underruns)
        : m_real(std::move(real)), m_underruns(underruns)
    {
        connect(m_real.get(), &AudioStreamPlayer::firstFramesDelivered, this, [&firstFramesAt] {
            if (!firstFramesAt)
                firstFramesAt = g_clock.nsecsElapsed();
        });
        connect(m_real.get(), &AudioStreamPlayer::ended, this, &AudioStreamPlayer::ended);
    }
    ~TimedPlayer() override { m_underruns += m_real->underruns(); }
    Status append(QByteArrayView mp3) override { return m_real->append(mp3); }
    Status finish() override { return m_real->finish(); }
    void stop() override { m_real->stop(); }
    bool isPlaying() const override { return m_real->isPlaying(); }
    double averagePowerDb() const override { return m_real->averagePowerDb(); }
    int underruns() const override { return m_real->underruns(); }
    std::optional<Failure> outputFailure() const override { return m_real->outputFailure(); }

private:
    std::unique_ptr<AudioStreamPlayer> m_real;
    int &m_underruns;
};

class TimedOutput : public AudioOutput {
public:
    std::unique_ptr<AudioStreamPlayer> createPlayer() override
    {
        return std::make_unique<TimedPlayer>(m_real->createPlayer(), firstFramesAt, underruns);
    }
    std::optional<qint64> firstFramesAt;
    int underruns = 0;

private:
    std::unique_ptr<AudioOutput> m_real = createAudioOutput();
};

// One reply per connection: 300 ms of thought, then the MP3 in 4 KB pieces, the first at once
// and the rest at `speed` times the audio's own pace.
class StreamingServer : public QTcpServer {
public:
    StreamingServer(QByteArray mp3, qint64 durationMs, double speed)
        : m_mp3(std::move(mp3)), m_intervalMs(int(double(durationMs * kPieceBytes / m_mp3.size()) / speed))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                serve(socket);
        });
    }
    int intervalMs() const { return m_intervalMs; }

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto request = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
            *request += socket->readAll();
            const qsizetype end = request->indexOf("\r\n\r\n");
            const qsizetype lengthAt = request->toLower().indexOf("content-length:");
            if (end < 0 || lengthAt < 0)
                return;
            const qsizetype length =
                request->mid(lengthAt + 15, request->indexOf("\r\n", lengthAt) - lengthAt - 15).trimmed().toLongLong();
            if (request->size() < end + 4 + length)
                return;
            request->clear();
            QTimer::singleShot(kThinkingMs, socket, [this, socket] { stream(socket); });
        });
    }

    void stream(QTcpSocket *socket)
    {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(m_mp3.size()) + "\r\n\r\n");
        auto offset = std::make_shared<qsizetype>(0);
        auto *pacer = new QTimer(socket);
        pacer->setTimerType(Qt::PreciseTimer);
        auto send = [this, socket, pacer, offset] {
            socket->write(m_mp3.mid(*offset, kPieceBytes));
            *offset += kPieceBytes;
            if (*offset >= m_mp3.size()) {
                pacer->stop();
                socket->disconnectFromHost();
            }
        };
        connect(pacer, &QTimer::timeout, socket, send);
        send();
        pacer->start(m_intervalMs);
    }

    QByteArray m_mp3;
    int m_intervalMs;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    g_clock.start();
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 5;
    const double speed = argc > 2 ? std::max(0.1, QByteArray(argv[2]).toDouble()) : 2.0;

    const test::SpeechClip clip = test::synthesizeSpeech(
        QStringLiteral("Here is the window you asked for. I brought your browser to the front and I can click the "
                       "button for you when you are ready. Just say the word."),
        44100, 10.0);
    if (clip.mp3.isEmpty()) {
        std::fprintf(stderr, "could not make the test speech (flite, sox and lame are needed)\n");
        return 1;
    }

    StreamingServer server(clip.mp3, clip.durationMs, speed);
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "could not listen on 127.0.0.1\n");
        return 1;
    }
    TimedOutput output;
    VoiceAmplitudePublisher publisher;
    ElevenLabsTTS tts(publisher, output, QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())));

    QList<double> firstSoundMs;
    QList<double> totalMs;
    for (int run = 0; run < runs; ++run) {
        output.firstFramesAt.reset();
        QEventLoop loop;
        std::optional<Status> result;
        const qint64 askedAt = g_clock.nsecsElapsed();
        QCoro::connect(tts.speak(QStringLiteral("Benchmark"), QStringLiteral("bench"), QStringLiteral("key")), &loop,
                       [&](Status &&status) {
                           result = std::move(status);
                           loop.quit();
                       });
        if (!result)
            loop.exec();
        if (!result->ok() || !output.firstFramesAt) {
            std::fprintf(stderr, "run %d failed: %s\n", run,
                         result->ok() ? "no timing" : qPrintable(result->failure().message));
            return 1;
        }
        firstSoundMs.append(double(*output.firstFramesAt - askedAt) / 1e6);
        totalMs.append(double(g_clock.nsecsElapsed() - askedAt) / 1e6);
    }

    std::printf("tts_first_sound_median %.1f ms\n", median(firstSoundMs));
    std::printf("tts_first_sound_max %.1f ms\n", *std::max_element(firstSoundMs.begin(), firstSoundMs.end()));
    std::printf("tts_underruns %d count\n", output.underruns);
    std::printf("tts_speak_total_median %.1f ms\n", median(totalMs));
    std::printf("tts_clip_length %.2f s\n", double(clip.durationMs) / 1000.0);
    std::printf("tts_piece_interval %d ms\n", server.intervalMs());
    std::printf("tts_runs %d count\n", runs);
    return 0;
}
