// Cold start of the whole app with a saved session: from starting the process to the companion
// panel on screen ("companion online"), median of several runs, with the bee page and without it
// (a copy of the program with no bee/ folder beside it shows the emoji bee). Also the resident
// memory a few seconds after start. Run inside scripts/test-session.sh.
#include "support/app_process.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;
using namespace zapum::test;

namespace {

void saveLocalSession(AppProcess &app)
{
    app.saveSession({{QStringLiteral("userId"), QStringLiteral("bench")},
                     {QStringLiteral("email"), QStringLiteral("bench@example.com")},
                     {QStringLiteral("accessToken"), QStringLiteral("t")}});
    QDir().mkpath(app.home() + QStringLiteral("/config/ZaPum"));
    QFile settings(app.home() + QStringLiteral("/config/ZaPum/settings.json"));
    if (settings.open(QIODevice::WriteOnly))
        settings.write(R"({"ZaPumOnboardingSeen": true})");
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

struct Run {
    double seconds = -1;
    qint64 rssKiB = -1;
};

Run coldStart(const QString &program)
{
    AppProcess app;
    app.keepSecretsPrivate();
    saveLocalSession(app);
    QElapsedTimer clock;
    app.process().setProcessEnvironment(app.environment());
    clock.start();
    app.process().start(program, {});
    if (!app.process().waitForStarted(5000))
        return {};
    // AppProcess gathers the output as it arrives.
    const QString online = QStringLiteral("companion online");
    while (!app.log().contains(online) && clock.elapsed() < 30000 && app.process().state() == QProcess::Running)
        app.process().waitForReadyRead(5);
    Run run;
    if (app.log().contains(online))
        run.seconds = double(clock.nsecsElapsed()) / 1e9;
    QTest::qWait(3000);
    run.rssKiB = residentKiB(app.process().processId());
    app.terminate(5s);
    return run;
}

void report(const char *name, const QString &program, int runs)
{
    QList<double> times;
    qint64 rss = -1;
    for (int i = 0; i < runs; ++i) {
        const Run run = coldStart(program);
        if (run.seconds < 0) {
            std::fprintf(stderr, "%s: the companion did not come online\n", name);
            return;
        }
        times.append(run.seconds);
        rss = std::max(rss, run.rssKiB);
    }
    std::sort(times.begin(), times.end());
    std::printf("%s_cold_start_median %.3f s\n", name, times.at(times.size() / 2));
    std::printf("%s_resident_memory %.1f MiB\n", name, double(rss) / 1024.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION")) {
        std::fprintf(stderr, "run inside scripts/test-session.sh\n");
        return 1;
    }
    const int runs = qEnvironmentVariableIntValue("ZAPUM_BENCH_RUNS") > 0 ? qEnvironmentVariableIntValue("ZAPUM_BENCH_RUNS") : 5;
    QTemporaryDir bare;
    const QString withoutPage = bare.filePath(QStringLiteral("zapum"));
    QFile::copy(zapumBinary(), withoutPage);
    report("app_without_bee_page", withoutPage, runs);
    report("app_with_bee_page", zapumBinary(), runs);
    return 0;
}
