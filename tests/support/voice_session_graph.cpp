#include "support/voice_session_graph.h"

#include "platform/escape_key_watcher.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zapum::test {

namespace {

class NoEscapeKey final : public EscapeKeyWatcher {
public:
    bool start() override { return false; }
    void stop() override {}
};

const HttpTimeouts kShortTimeouts{std::chrono::seconds(3), std::chrono::seconds(5)};

}  // namespace

VoiceSessionGraph::VoiceSessionGraph(std::function<double()> clock)
    : agent(model.baseUrl(), kShortTimeouts),
      tts(publisher, audio, speech.baseUrl(), ElevenLabsTiming{kShortTimeouts, std::chrono::seconds(5)}),
      actionMode(backend.settings, windowServer, workspace, screenCapture, input),
      toast(std::make_unique<NoEscapeKey>())
{
    // Memories: every search finds one, every remember is taken.
    backendServer.setHandler([](const RecordedRequest &request) {
        if (request.path().endsWith("memory/search"))
            return FakeResponse::json(200, R"({"results":[{"memory":"likes short answers"}]})");
        return FakeResponse::json(200, "{}");
    });
    VoiceSessionTiming timing;  // tenfold faster
    // Polled every millisecond, so that each step of a test's own clock is seen at once.
    timing.listenPoll = std::chrono::milliseconds(1);
    if (clock)
        timing.clock = std::move(clock);
    timing.silenceCutoff /= 10;
    timing.noSpeechCutoff /= 10;
    timing.maxListen /= 10;
    timing.replyLinger /= 10;
    timing.errorLinger /= 10;
    session = std::make_unique<VoiceSession>(
        VoiceSessionServices{voiceSettings, backend.voiceKeychain, scripted, agent, tts, actionMode,
                             workspace, toast, backend.memory, backend.sessions},
        timing);
}

void VoiceSessionGraph::readyToTalk()
{
    backend.signIn(BackendGraph::userSession(apiBaseOf(backendServer.baseUrl())));
    voiceSettings.setIsEnabled(true);
    backend.voiceKeychain.save(QStringLiteral("sk-ant-test"), kAnthropicAccount);
    backend.voiceKeychain.save(QStringLiteral("el-test"), kElevenLabsAccount);
}

int VoiceSessionGraph::backendRequests(const QByteArray &path) const
{
    int count = 0;
    for (const RecordedRequest &request : backendServer.requests())
        count += request.path().endsWith(path) ? 1 : 0;
    return count;
}

}  // namespace zapum::test
