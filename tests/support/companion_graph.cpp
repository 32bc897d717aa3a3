#include "support/companion_graph.h"

#include "support/app_process.h"

#include <QDir>
#include <QFileInfo>

namespace zapum::test {

QString builtBeeModelPath()
{
    return QFileInfo(zapumBinary()).dir().filePath(QStringLiteral("bee/bee-runtime.glb"));
}

CompanionGraph::CompanionGraph(CompanionTimings timings, const QString &beeModelPath, CompanionManager::Clock clock)
    : settings(dir.filePath(QStringLiteral("settings.json"))),
      bee(settings, voice, amplitude, notifications, [this] { ++pushToTalkToggles; },
          chooseBeeModel(beeModelPath), [] { return false; }),
      manager(settings, voice, notifications, bee, engine, timings, systemUniformRandom(), std::move(clock)),
      popover({[this](const QString &q) { questions << q; }, [this] { ++responseClears; },
               [this](const QUrl &url) { openedUrls << url; }, [this](const QString &text) { copied << text; }}),
      popoverHost(bee, popover, engine, [this] { return manager.beeFrame(); })
{
    bee.setScreenIdleWatcher(screenIdle.get());
}

}  // namespace zapum::test
