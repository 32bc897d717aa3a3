// One spoken turn through the real pieces: the X11 talk key pressed with xdotool, the test
// session's FIFO microphone and PocketSphinx, the X11 window list, MP3 playback into the null
// sink. Only the model, speech and backend services are fakes on 127.0.0.1.

#include "backend/session_controller.h"
#include "desktop/action_mode_store.h"
#include "desktop/click_confirm_toast.h"
#include "platform/audio_output.h"
#include "platform/desktop_backends.h"
#include "platform/escape_key_watcher.h"
#include "platform/modifier_key_source.h"
#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/desktop_driver.h"
#include "support/fake_messages_api.h"
#include "support/fake_speech_api.h"
#include "support/fifo_microphone.h"
#include "support/x11_test_windows.h"
#include "voice/anthropic_voice_agent.h"
#include "voice/eleven_labs_tts.h"
#include "voice/global_hotkey_service.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_capture_service.h"
#include "voice/voice_session.h"
#include "voice/voice_session_wiring.h"
#include "voice/voice_settings_store.h"

#include <QApplication>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

using namespace Qt::StringLiterals;

class TestVoiceTurn : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        if (!qEnvironmentVariableIsSet("ZAPUM_TEST_SESSION") || !FifoMicrophone::available())
            QSKIP("needs the X11 and audio test session (scripts/test-session.sh)");
    }
    void cleanup()
    {
        if (qEnvironmentVariableIsSet("ZAPUM_TEST_SESSION"))
            xdotool({u"keyup"_s, u"Alt_R"_s, u"Alt_L"_s, u"ISO_Level3_Shift"_s});
    }

    void spokenTurnIsAnsweredAloud()
    {
        const QString windowTitle = u"Quarterly Report Draft"_s;
        const QString reply = u"Your report is open."_s;
        const SpeechClip answer = synthesizeSpeech(reply);
        QVERIFY(!answer.mp3.isEmpty());
        FakeMessagesApi model;
        model.enqueueText(reply);
        FakeSpeechApi speech(answer.mp3, "el-e2e");
        FakeHttpServer backendServer;
        backendServer.setHandler([](const RecordedRequest &) { return FakeResponse::json(200, R"({"results":[]})"); });

        BackendGraph backend;
        backend.signIn(BackendGraph::userSession(apiBaseOf(backendServer.baseUrl())));
        backend.voiceKeychain.save(u"sk-ant-e2e"_s, kAnthropicAccount);
        backend.voiceKeychain.save(u"el-e2e"_s, kElevenLabsAccount);
        VoiceSettingsStore settings(backend.settings, backend.voiceKeychain);
        settings.setIsEnabled(true);

        VoiceAmplitudePublisher publisher;
        VoiceCaptureService capture(publisher);
        AnthropicVoiceAgent agent(model.baseUrl());
        const std::unique_ptr<AudioOutput> output = createAudioOutput();
        ElevenLabsTTS tts(publisher, *output, speech.baseUrl());
        DesktopBackends desktop = openDesktopBackends();
        ActionModeStore actionMode(backend.settings, *desktop.windowServer, *desktop.workspace, *desktop.screenCapture,
                                   *desktop.inputSynthesizer);
        ClickConfirmToast toast(createEscapeKeyWatcher());
        VoiceSessionTiming timing;
        timing.noSpeechCutoff = 2s;  // the follow-up nobody answers
        VoiceSession session({settings, backend.voiceKeychain, capture, agent, tts, actionMode, *desktop.workspace,
                              toast, backend.memory, backend.sessions},
                             timing);
        GlobalHotkeyService hotkey(createModifierKeySource());
        wireVoiceSession(session, hotkey, backend.ask);
        hotkey.registerHotkey();

        // A window of another process, so that the session's own windows being left out does not hide it.
        TestWindows window({u"title=%1;w=500;h=300;class=Writer"_s.arg(windowTitle)});
        QVERIFY(!window.windows.isEmpty());
        QVERIFY(test::awaitTask(capture.requestPermissions()));

        QList<VoiceBeeState> states;
        connect(&settings, &VoiceSettingsStore::beeStateChanged, this, [&] { states.append(settings.beeState()); });

        xdotool({u"keydown"_s, u"Alt_R"_s});
        QTRY_COMPARE_WITH_TIMEOUT(settings.beeState(), VoiceBeeState::listening(), 3000);
        FifoMicrophone microphone;
        microphone.play(FifoMicrophone::silence(0.3) + FifoMicrophone::speak(u"Open the calendar please"_s, u"slt"_s)
                        + FifoMicrophone::silence(0.6));
        QVERIFY(microphone.waitUntilPlayed(15s));
        xdotool({u"keyup"_s, u"Alt_R"_s});

        QTRY_COMPARE_WITH_TIMEOUT(model.requestCount(), 1, 15000);
        const MessagesRequest request = model.lastRequest();
        const QString said = request.lastMessage().value(QLatin1String("content")).toString();
        QVERIFY2(said.contains(QLatin1String("calendar")), qPrintable(said));
        QVERIFY2(request.system().contains(u"Writer \u00B7 "_s + windowTitle + u" \u00B7 "_s),
                 qPrintable(request.system()));

        QTRY_COMPARE_WITH_TIMEOUT(speech.requestCount(), 1, 10000);
        // The reply plays for its length, the follow-up listens and hears nothing, and the bee rests.
        QTRY_COMPARE_WITH_TIMEOUT(settings.beeState(), VoiceBeeState::idle(), 20000);
        QCOMPARE(model.requestCount(), 1);
        QVERIFY(states.indexOf(VoiceBeeState::thinking()) < states.indexOf(VoiceBeeState::speaking()));
        QVERIFY(states.lastIndexOf(VoiceBeeState::listening()) > states.indexOf(VoiceBeeState::speaking()));
        hotkey.unregisterHotkey();
    }
};

QTEST_MAIN(TestVoiceTurn)
#include "tst_voice_turn.moc"
