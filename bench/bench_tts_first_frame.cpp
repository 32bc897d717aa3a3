// From the last byte of a speech reply leaving the server to the first PCM frames handed to the
// audio device, for a 10 s MP3 at 44.1 kHz: the decoding and device start-up a listener waits
// through before the bee starts talking. Run inside scripts/test-session.sh (needs an audio server).

#include "platform/audio_output.h"
#include "support/fake_speech_api.h"
#include "voice/eleven_labs_tts.h"
#include "voice/voice_amplitude_publisher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpServer>
#include <QTcpSocket>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <cstdio>
#include <optional>

using namespace zapum;

namespace {

QElapsedTimer g_clock;

// Forwards to the real player but reports no length, so that speak() returns right after the
// first frames instead of after ten seconds of listening.
class ShortenedPlayer : public AudioClipPlayer {
public:
    explicit ShortenedPlayer(std::unique_ptr<AudioClipPlayer> real) : m_real(std::move(real))
    {
        connect(m_real.get(), &AudioClipPlayer::firstFramesDelivered, this, &AudioClipPlayer::firstFramesDelivered);
    }
    std::chrono::milliseconds duration() const override { return std::chrono::milliseconds(0); }
    Status play() override { return m_real->play(); }
    bool isPlaying() const override { return m_real->isPlaying(); }
    double averagePowerDb() const override { return m_real->averagePowerDb(); }

private:
    std::unique_ptr<AudioClipPlayer> m_real;
};

class TimedOutput : public AudioOutput {
public:
    Result<std::unique_ptr<AudioClipPlayer>> openMp3(const QByteArray &mp3) override
    {
        auto opened = m_real->openMp3(mp3);
        if (!opened)
            return opened.failure();
        auto player = std::make_unique<ShortenedPlayer>(std::move(opened).value());
        QObject::connect(player.get(), &AudioClipPlayer::firstFramesDelivered,
                         [this] { firstFramesAt = g_clock.nsecsElapsed(); });
        return std::unique_ptr<AudioClipPlayer>(std::move(player));
    }
    std::optional<qint64> firstFramesAt;

private:
    std::unique_ptr<AudioOutput> m_real = createAudioOutput();
};

// A one-reply-per-connection HTTP server that notes when the reply's last byte left it.
class TimedServer : public QTcpServer {
public:
    explicit TimedServer(QByteArray mp3) : m_mp3(std::move(mp3))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection())
                serve(socket);
        });
    }
    std::optional<qint64> lastByteAt;

private:
    void serve(QTcpSocket *socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            m_request += socket->readAll();
            const qsizetype end = m_request.indexOf("\r\n\r\n");
            const qsizetype lengthAt = m_request.toLower().indexOf("content-length:");
            if (end < 0 || lengthAt < 0)
                return;
            const qsizetype length = m_request.mid(lengthAt + 15, m_request.indexOf("\r\n", lengthAt) - lengthAt - 15).trimmed().toLongLong();
            if (m_request.size() < end + 4 + length)
                return;
            m_request.clear();
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nConnection: close\r\nContent-Length: " +
                          QByteArray::number(m_mp3.size()) + "\r\n\r\n" + m_mp3);
        });
        connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket] {
            if (socket->bytesToWrite() == 0) {
                lastByteAt = g_clock.nsecsElapsed();
                socket->disconnectFromHost();
            }
        });
    }

    QByteArray m_mp3;
    QByteArray m_request;
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
    const int runs = 21;

    const test::SpeechClip clip = test::synthesizeSpeech(
        QStringLiteral("Here is the window you asked for. I brought your browser to the front and I can click the "
                       "button for you when you are ready. Just say the word."),
        44100, 10.0);
    if (clip.mp3.isEmpty()) {
        std::fprintf(stderr, "could not make the test speech (flite, sox and lame are needed)\n");
        return 1;
    }

    TimedServer server(clip.mp3);
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "could not listen on 127.0.0.1\n");
        return 1;
    }
    TimedOutput output;
    VoiceAmplitudePublisher publisher;
    ElevenLabsTTS tts(publisher, output, QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())));

    QList<double> latenciesMs;
    double coldMs = -1.0;
    for (int run = 0; run < runs; ++run) {
        server.lastByteAt.reset();
        output.firstFramesAt.reset();
        QEventLoop loop;
        std::optional<Status> result;
        QCoro::connect(tts.speak(QStringLiteral("Benchmark"), QStringLiteral("bench"), QStringLiteral("key")), &loop,
                       [&](Status &&status) {
                           result = std::move(status);
                           loop.quit();
                       });
        if (!result)
            loop.exec();
        if (!result->ok() || !server.lastByteAt || !output.firstFramesAt) {
            std::fprintf(stderr, "run %d failed: %s\n", run,
                         result->ok() ? "no timing" : qPrintable(result->failure().message));
            return 1;
        }
        const double ms = double(*output.firstFramesAt - *server.lastByteAt) / 1e6;
        if (run == 0)
            coldMs = ms;
        latenciesMs.append(ms);
    }

    std::printf("tts_first_frame_median %.2f ms\n", median(latenciesMs));
    std::printf("tts_first_frame_max %.2f ms\n", *std::max_element(latenciesMs.begin(), latenciesMs.end()));
    std::printf("tts_first_frame_first_run %.2f ms\n", coldMs);
    std::printf("tts_clip_length %.2f s\n", double(clip.durationMs) / 1000.0);
    return 0;
}
