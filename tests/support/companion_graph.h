#pragma once

#include "app/app_notifications.h"
#include "companion/bee_view_model.h"
#include "companion/companion_manager.h"
#include "foundation/settings_storage.h"
#include "support/memory_secret_store.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QQmlEngine>
#include <QTemporaryDir>

namespace zapum::test {

// The bee page as the build placed it beside the zapum program.
QString builtBeePageDirectory();

// The companion's object graph as the composition root builds it, with private settings, an
// in-memory keychain and a counter in place of the voice session's push-to-talk.
struct CompanionGraph {
    explicit CompanionGraph(CompanionTimings timings = {}, const QString &beePageDirectory = builtBeePageDirectory(),
                            bool webEngineReady = true);

    QTemporaryDir dir;
    SettingsStorage settings;
    MemorySecretStore secrets;
    VoiceKeychain keychain{secrets};
    VoiceSettingsStore voice{settings, keychain};
    VoiceAmplitudePublisher amplitude;
    AppNotifications notifications;
    QQmlEngine engine;
    int pushToTalkToggles = 0;
    BeeViewModel bee;
    CompanionManager manager;
};

}  // namespace zapum::test
