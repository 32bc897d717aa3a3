// What the strolling bee costs: CPU while it idles and strolls for a minute, and resident memory
// with its web page loaded. Counts this process and every process it started (the web engine's
// helpers), since those are part of the app too. Run it inside scripts/test-session.sh.
//
//   bench_companion [--seconds N] [--emoji]      prints `name value unit` lines
#include "support/companion_graph.h"
#include "support/desktop_driver.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>
#include <QtWebEngineQuick/qtwebenginequickglobal.h>

#include <cstdio>
#include <unistd.h>

using namespace zapum;

namespace {

QByteArray readProc(qint64 pid, const char *file)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Fields of /proc/PID/stat after the command name, which may itself hold spaces.
QList<QByteArray> statFields(qint64 pid)
{
    const QByteArray stat = readProc(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}

// This process and all its descendants.
QList<qint64> processTree()
{
    QHash<qint64, qint64> parentOf;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const auto fields = statFields(pid);
        if (fields.size() > 1)
            parentOf.insert(pid, fields[1].toLongLong());
    }
    QList<qint64> tree{qint64(::getpid())};
    for (qsizetype i = 0; i < tree.size(); ++i)
        for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it)
            if (it.value() == tree[i])
                tree.append(it.key());
    return tree;
}

// CPU seconds (user + system) a process has used so far.
double cpuSeconds(qint64 pid)
{
    const auto fields = statFields(pid);
    if (fields.size() < 13)
        return 0.0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// A "Key:   123 kB" line of a /proc status-like file, in kB.
double kilobytes(const QByteArray &text, const QByteArray &key)
{
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble();
    return 0.0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QtWebEngineQuick::initialize();
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("How long to stroll."),
                                     QStringLiteral("N"), QStringLiteral("60"));
    QCommandLineOption emojiOption(QStringLiteral("emoji"), QStringLiteral("Measure the emoji bee instead of the page."));
    parser.addOption(secondsOption);
    parser.addOption(emojiOption);
    parser.process(app);
    const int seconds = std::max(1, parser.value(secondsOption).toInt());

    // The product's timings, and the built bee page unless the emoji bee is asked for.
    const bool emoji = parser.isSet(emojiOption);
    test::CompanionGraph graph({}, emoji ? QString() : test::builtBeePageDirectory(), !emoji);
    graph.manager.setup();
    if (!QTest::qWaitForWindowExposed(graph.manager.panel())) {
        std::fprintf(stderr, "bench_companion: the panel never showed (is this a test session?)\n");
        return 1;
    }
    QTest::qWait(5000);  // the page loads three.js and the model, the web engine settles
    const bool pageShown = test::findItem(graph.manager.panel()->rootObject(), QStringLiteral("beeWebView")) != nullptr;

    QHash<qint64, double> before;
    for (qint64 pid : processTree())
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
    for (qint64 pid : processTree()) {
        used += cpuSeconds(pid) - before.value(pid, 0.0);
        rssKb += kilobytes(readProc(pid, "status"), "VmRSS:");
        pssKb += kilobytes(readProc(pid, "smaps_rollup"), "Pss:");
    }
    const double elapsed = double(wall.elapsed()) / 1000.0;

    std::printf("companion_bee_page_shown %d bool\n", pageShown ? 1 : 0);
    std::printf("companion_strolled %d bool\n", moved ? 1 : 0);
    std::printf("companion_idle_cpu %.2f percent_of_one_core\n", 100.0 * used / elapsed);
    std::printf("companion_rss %.1f MB\n", rssKb / 1024.0);
    std::printf("companion_pss %.1f MB\n", pssKb / 1024.0);
    std::printf("companion_processes %lld count\n", static_cast<long long>(processTree().size()));
    return 0;
}
