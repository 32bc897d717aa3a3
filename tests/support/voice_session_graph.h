#pragma once

#include "desktop/action_mode_store.h"
#include "desktop/click_confirm_toast.h"
#include "support/backend_graph.h"
#include "support/fake_audio_output.h"
#include "support/fake_desktop.h"
#include "support/fake_messages_api.h"
#include "support/fake_speech_api.h"
#include "support/scripted_capture.h"
#include "voice/anthropic_voice_agent.h"
#include "voice/eleven_labs_tts.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_session.h"
#include "voice/voice_settings_store.h"

#include <functional>
#include <memory>

namespace zapum::test {

// A voice session over the real services: the model and speech clients against their fake
// servers, memory against a fake backend, the desktop over programmable back-ends, the toast in
// whatever window system the process has, and a capture the test scripts. Its waits are the
// product's scaled down tenfold, keeping their proportions.
class VoiceSessionGraph {
public:
    // With a `clock` (seconds), the listening limits run on the test's own time.
    explicit VoiceSessionGraph(std::function<double()> clock = {});

    // Signed in against the fake backend, voice mode on, both keys stored, clicks confirmed.
    void readyToTalk();
    // What the fake backend was asked for under `path`.
    int backendRequests(const QByteArray &path) const;

    FakeMessagesApi model;
    FakeSpeechApi speech{QByteArray("ID3 fake mp3"), "el-test"};
    FakeHttpServer backendServer;
    BackendGraph backend;
    VoiceSettingsStore voiceSettings{backend.settings, backend.voiceKeychain};
    AnthropicVoiceAgent agent;
    VoiceAmplitudePublisher publisher;
    FakeAudioOutput audio;
    ElevenLabsTTS tts;
    FakeWindowServer windowServer;
    FakeWorkspace workspace;
    FakeScreenCapture screenCapture;
    FakeInputSynthesizer input;
    ActionModeStore actionMode;
    ClickConfirmToast toast;
    ScriptedCapture scripted;
    std::unique_ptr<VoiceSession> session;  // last, so that it goes first
};

}  // namespace zapum::test
