// What the strolling bee costs: CPU while it idles and strolls for a minute, resident memory with
// its model loaded, and the frames the bee view asked for. Counts this process and every process
// it started. Run it inside scripts/test-session.sh.
//
//   bench_companion [--seconds N] [--emoji]      prints `name value unit` lines
#include "support/companion_graph.h"
#include "support/desktop_driver.h"
#include "../proc_stats.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using namespace zapum;

using namespace zapum::bench;

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("How long to stroll."),
                                     QStringLiteral("N"), QStringLiteral("60"));
    QCommandLineOption emojiOption(QStringLiteral("emoji"), QStringLiteral("Measure the emoji bee instead of the model."));
    parser.addOption(secondsOption);
    parser.addOption(emojiOption);
    parser.process(app);
    const int seconds = std::max(1, parser.value(secondsOption).toInt());

    // The product's timings, and the shipped model unless the emoji bee is asked for.
    const bool emoji = parser.isSet(emojiOption);
    test::CompanionGraph graph({}, emoji ? QString() : test::builtBeeModelPath());
    graph.manager.setup();
    if (!QTest::qWaitForWindowExposed(graph.manager.panel())) {
        std::fprintf(stderr, "bench_companion: the panel never showed (is this a test session?)\n");
        return 1;
    }
    QTest::qWait(3000);  // the model loads and the first flutter passes
    QQuickItem *model = test::findItem(graph.manager.panel()->rootObject(), QStringLiteral("beeModelView"));
    QObject *motion = model ? model->property("motion").value<QObject *>() : nullptr;
    const int framesBefore = motion ? motion->property("frames").toInt() : 0;
    int swapped = 0;
    QObject::connect(graph.manager.panel(), &QQuickWindow::frameSwapped, [&swapped] { ++swapped; });

    QHash<qint64, double> before;
    for (qint64 pid : processTree(::getpid()))
        before.insert(pid, cpuSeconds(pid));
    QElapsedTimer wall;
    wall.start();
    const QRectF start = graph.manager.panelFrame();
    bool moved = false;
    while (wall.elapsed() < seconds * 1000) {
        QTest::qWait(250);
        moved = moved || graph.manager.panelFrame() != start;
    }
    double used = 0.0;
    double rssKb = 0.0;
    double pssKb = 0.0;
    for (qint64 pid : processTree(::getpid())) {
        used += cpuSeconds(pid) - before.value(pid, 0.0);
        rssKb += kilobytes(readProc(pid, "status"), "VmRSS:");
        pssKb += kilobytes(readProc(pid, "smaps_rollup"), "Pss:");
    }
    const double elapsed = double(wall.elapsed()) / 1000.0;

    std::printf("companion_bee_model_shown %d bool\n", model && model->property("loaded").toBool() ? 1 : 0);
    if (motion)
        std::printf("companion_bee_poses_per_second %.2f frames\n",
                    (motion->property("frames").toInt() - framesBefore) / elapsed);
    std::printf("companion_panel_frames_per_second %.2f frames\n", swapped / elapsed);
    std::printf("companion_strolled %d bool\n", moved ? 1 : 0);
    std::printf("companion_idle_cpu %.2f percent_of_one_core\n", 100.0 * used / elapsed);
    std::printf("companion_rss %.1f MB\n", rssKb / 1024.0);
    std::printf("companion_pss %.1f MB\n", pssKb / 1024.0);
    std::printf("companion_processes %lld count\n", static_cast<long long>(processTree(::getpid()).size()));
    return 0;
}
