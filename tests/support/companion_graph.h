#pragma once

#include "app/app_notifications.h"
#include "companion/bee_view_model.h"
#include "companion/companion_manager.h"
#include "foundation/settings_storage.h"
#include "platform/screen_idle_watcher.h"
#include "ui/guidance_popover_host.h"
#include "ui/guidance_popover_model.h"
#include "support/memory_secret_store.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QQmlEngine>
#include <QTemporaryDir>

#include <memory>

namespace zapum::test {

// The bee model as the build placed it beside the zapum program.
QString builtBeeModelPath();

// The companion's object graph as the composition root builds it, with private settings, an
// in-memory keychain, a counter in place of the voice session's push-to-talk, and recorders in
// place of the popover's services.
struct CompanionGraph {
    // An empty `beeModelPath` shows the emoji bee.
    explicit CompanionGraph(CompanionTimings timings = {}, const QString &beeModelPath = builtBeeModelPath(),
                            CompanionManager::Clock clock = &monotonicSeconds);

    QTemporaryDir dir;
    SettingsStorage settings;
    MemorySecretStore secrets;
    VoiceKeychain keychain{secrets};
    VoiceSettingsStore voice{settings, keychain};
    VoiceAmplitudePublisher amplitude;
    AppNotifications notifications;
    QQmlEngine engine;
    int pushToTalkToggles = 0;
    std::unique_ptr<ScreenIdleWatcher> screenIdle = createScreenIdleWatcher();
    BeeViewModel bee;
    CompanionManager manager;

    // The popover's actions, recorded.
    QStringList questions;
    int responseClears = 0;
    QList<QUrl> openedUrls;
    QStringList copied;
    GuidancePopoverModel popover;
    GuidancePopoverHost popoverHost;
};

}  // namespace zapum::test
