// What the voice session itself adds to a turn, with every outside service answering at once:
// from the end of listening (the talk key's release, the recogniser's 0.9 s grace left out) to the
// model request arriving at the model's server; from the model's reply leaving its server to the
// speech request arriving at the speech server; and resident memory growth over 100 typed
// questions. Both latencies include a loopback HTTP hop.

#include "support/await_task.h"
#include "support/voice_session_graph.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

using namespace zapum;
using namespace zapum::test;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<qint64> g_modelAskedAt{0};
std::atomic<qint64> g_modelAnsweredAt{0};
std::atomic<qint64> g_speechAskedAt{0};

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values[values.size() / 2];
}

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void waitUntil(const std::function<bool()> &done)
{
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    VoiceSessionGraph graph;
    graph.readyToTalk();
    graph.audio.clipLength = std::chrono::milliseconds(0);
    graph.model.server().setHandler([](const RecordedRequest &) {
        g_modelAskedAt = nowUs();
        FakeResponse response = FakeResponse::json(200, messages::textReply(QStringLiteral("All done.")));
        g_modelAnsweredAt = nowUs();
        return response;
    });
    graph.speech.server().setHandler([](const RecordedRequest &) {
        g_speechAskedAt = nowUs();
        FakeResponse response;
        response.headers = {{"Content-Type", "audio/mpeg"}};
        response.body = "ID3 fake mp3";
        return response;
    });

    QList<double> toRequestMs;
    QList<double> toSpeechMs;
    for (int turn = 0; turn < 25; ++turn) {
        test::awaitTask(graph.session->beginListening());
        graph.scripted.partial(QStringLiteral("what is on my screen"));
        const qint64 releasedAt = nowUs();
        (void)graph.session->finishListeningAndAct();
        waitUntil([&] { return !graph.session->isRunning(); });
        test::awaitTask(graph.session->cancelListening());  // the follow-up the reply opened
        if (turn < 5)
            continue;  // the first connections and allocations
        toRequestMs.append(double(g_modelAskedAt - releasedAt) / 1000.0);
        toSpeechMs.append(double(g_speechAskedAt - g_modelAnsweredAt) / 1000.0);
    }
    std::printf("voice_release_to_model_request %.2f ms\n", median(toRequestMs));
    std::printf("voice_model_reply_to_speech_request %.2f ms\n", median(toSpeechMs));

    for (int warmUp = 0; warmUp < 10; ++warmUp)
        (void)test::awaitTask(graph.session->runTypedQuery(QStringLiteral("warm up")));
    QCoreApplication::processEvents();
    const long before = residentKb();
    for (int question = 0; question < 100; ++question)
        (void)test::awaitTask(graph.session->runTypedQuery(QStringLiteral("question %1").arg(question)));
    waitUntil([&] { return graph.backendRequests("memory/remember") >= 110; });
    const long after = residentKb();
    std::printf("typed_queries_100_rss_growth %.2f MB\n", double(after - before) / 1024.0);
    return 0;
}
