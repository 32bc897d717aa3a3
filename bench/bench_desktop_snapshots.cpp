// How long one refresh of the window and app snapshots takes with 50 client windows open (ten
// processes of five windows each), as the action mode store does it before every agent run.
// Needs an X display with a window manager: run it inside scripts/test-session.sh.

#include "desktop/action_mode_store.h"
#include "foundation/settings_storage.h"
#include "platform/desktop_backends.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    using namespace zapum;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_desktop_snapshots needs an X display (scripts/test-session.sh)\n");
        return 2;
    }

    constexpr int kProcesses = 10;
    constexpr int kWindowsEach = 5;
    std::vector<std::unique_ptr<QProcess>> clients;
    for (int p = 0; p < kProcesses; ++p) {
        QStringList arguments;
        for (int w = 0; w < kWindowsEach; ++w) {
            arguments << QStringLiteral("--window")
                      << QStringLiteral("title=Bench window %1.%2;x=%3;y=%4;w=240;h=160;class=BenchApp%1")
                             .arg(p)
                             .arg(w)
                             .arg(20 * (p * kWindowsEach + w))
                             .arg(10 * w);
        }
        auto client = std::make_unique<QProcess>();
        client->start(QStringLiteral(X11_TEST_CLIENT), arguments);
        if (!client->waitForReadyRead(10000) || !client->readLine().startsWith("ready")) {
            std::fprintf(stderr, "a test client did not come up\n");
            return 1;
        }
        clients.push_back(std::move(client));
    }

    QTemporaryDir dir;
    SettingsStorage settings(dir.filePath(QStringLiteral("settings.json")));
    DesktopBackends backends = openDesktopBackends();
    ActionModeStore store(settings, *backends.windowServer, *backends.workspace, *backends.screenCapture,
                          *backends.inputSynthesizer);

    for (int i = 0; i < 5; ++i)
        store.refreshWindowsAndApps();
    // Wall time includes waiting for the X server; CPU time is this process's own share, which
    // stays meaningful on a loaded machine.
    const auto cpuMs = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    };
    std::vector<double> wall, cpu;
    for (int i = 0; i < 201; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = cpuMs();
        store.refreshWindowsAndApps();
        cpu.push_back(cpuMs() - cpuStart);
        wall.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("desktop_refresh_windows_and_apps_median %.3f ms\n", wall[wall.size() / 2]);
    std::printf("desktop_refresh_windows_and_apps_p90 %.3f ms\n", wall[wall.size() * 9 / 10]);
    std::printf("desktop_refresh_windows_and_apps_cpu_median %.3f ms\n", cpu[cpu.size() / 2]);
    std::printf("desktop_refresh_windows_listed %lld windows\n", static_cast<long long>(store.windows().size()));

    for (auto &client : clients) {
        client->closeWriteChannel();
        client->waitForFinished(2000);
    }
    return 0;
}
