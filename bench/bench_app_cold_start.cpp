// The whole app signed in (a saved session, test desktop): from starting the process to the bee's
// first frame on screen, then a minute of idling and strolling: the CPU of the app's process tree
// over that minute, the proportional memory (PSS) of the tree and the resident memory of the app
// process at its end; then the same two memory figures after a number of spoken turns (the talk
// key held with xdotool, flite speaking into the test session's microphone, the model and speech
// services faked on 127.0.0.1, each turn ending with the unanswered follow-up). Medians of several
// runs; several programs may be compared in one run (alternating, so they share the machine's
// conditions). The voice mode is on only when there are spoken turns to make; with it off the
// speech recogniser is never loaded:
//
//   bench_app_cold_start [NAME=PROGRAM ...]      default: app=<the zapum beside this build>
//   ZAPUM_BENCH_RUNS (3), ZAPUM_BENCH_IDLE_SECONDS (60), ZAPUM_BENCH_VOICE_TURNS (10, 0 for none)
//
// The bee's frame is found on the screen itself (its yellow in the strip above the bottom of the
// screen where the panel strolls), so programs that log nothing about it are measured alike.
// Each program first starts once with an empty cache folder (the first start after installing,
// reported on its own), then every measured run shares that folder, as every later start does:
// shader and pipeline caches are warm. Run inside scripts/test-session.sh.
#include "support/app_process.h"
#include "support/desktop_driver.h"
#include "support/fake_messages_api.h"
#include "support/fake_speech_api.h"
#include "support/fifo_microphone.h"
#include "voice/voice_keychain.h"
#include "platform/linux/secrets/file_secret_store.h"
#include "proc_stats.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;
using namespace zapum::test;
using namespace zapum::bench;

namespace {

const QString kReply = QStringLiteral("Your report is open.");
const QStringList kRequests = {QStringLiteral("Open the calendar please"), QStringLiteral("What is on my screen"),
                               QStringLiteral("Switch to the browser"), QStringLiteral("Tell me a short joke")};

// The outside services a spoken turn reaches, answering every turn alike.
struct VoiceServices {
    FakeMessagesApi model;
    FakeSpeechApi speech{synthesizeSpeech(kReply).mp3, "el-bench"};
    explicit VoiceServices(int turns)
    {
        for (int i = 0; i < turns; ++i)
            model.enqueueText(kReply);
    }
};

void saveLocalSession(AppProcess &app, const VoiceServices &voice, bool voiceMode)
{
    app.saveSession({{QStringLiteral("userId"), QStringLiteral("bench")},
                     {QStringLiteral("email"), QStringLiteral("bench@example.com")},
                     {QStringLiteral("accessToken"), QStringLiteral("t")}});
    zapum::linux_platform::FileSecretStore secrets(app.home() + QStringLiteral("/data/ZaPum/secrets.json"));
    secrets.write(zapum::kAnthropicAccount, "sk-ant-bench");
    secrets.write(zapum::kElevenLabsAccount, "el-bench");
    app.environment().insert(QStringLiteral("ZAPUM_ANTHROPIC_BASE_URL"), voice.model.baseUrl().toString());
    app.environment().insert(QStringLiteral("ZAPUM_ELEVENLABS_BASE_URL"), voice.speech.baseUrl().toString());
    QDir().mkpath(app.home() + QStringLiteral("/config/ZaPum"));
    QFile settings(app.home() + QStringLiteral("/config/ZaPum/settings.json"));
    if (settings.open(QIODevice::WriteOnly))
        settings.write(voiceMode ? R"({"ZaPumOnboardingSeen": true, "ZaPumVoiceModeEnabled": true})"
                                 : R"({"ZaPumOnboardingSeen": true})");
}

// Whether some program records from the test session's microphone (only the app does here).
bool microphoneOpen()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")});
    pactl.waitForFinished(5000);
    return !pactl.readAllStandardOutput().trimmed().isEmpty();
}

// One spoken turn from the key going down to the bee resting after the unanswered follow-up.
bool speakOneTurn(AppProcess &app, VoiceServices &voice, int turn)
{
    using namespace std::chrono_literals;
    const int asked = voice.model.requestCount();
    const int spoken = voice.speech.requestCount();
    xdotool({QStringLiteral("keydown"), QStringLiteral("Alt_R")});
    const bool listening = app.waitFor(microphoneOpen, 5s);
    if (listening) {
        FifoMicrophone microphone;
        microphone.play(FifoMicrophone::speak(kRequests.at(turn % kRequests.size()), QStringLiteral("slt"))
                        + FifoMicrophone::silence(0.6));
        microphone.waitUntilPlayed(15s);
    }
    xdotool({QStringLiteral("keyup"), QStringLiteral("Alt_R")});
    return listening && app.waitFor([&] { return voice.model.requestCount() > asked; }, 20s)
           && app.waitFor([&] { return voice.speech.requestCount() > spoken; }, 20s)
           && app.waitFor(microphoneOpen, 20s)  // the follow-up
           && app.waitFor([] { return !microphoneOpen(); }, 20s);
}

// Whether the strip the idle panel walks along shows a bee: enough clearly yellow pixels.
bool beeOnScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    const QImage strip = screen->grabWindow(0, area.left(), area.bottom() - 140, area.width(), 140).toImage();
    int yellow = 0;
    for (int y = 0; y < strip.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(strip.constScanLine(y));
        for (int x = 0; x < strip.width(); ++x)
            yellow += qRed(line[x]) > 180 && qGreen(line[x]) > 110 && qBlue(line[x]) < 110;
    }
    return yellow >= 40;
}

struct Run {
    double coldStart = -1;  // seconds
    double cpuPercent = -1;
    double pssTreeMB = -1;
    double rssMainMB = -1;
    double pssTreeAfterTurnsMB = -1;
    double rssMainAfterTurnsMB = -1;
};

double pssOfTreeMB(qint64 pid)
{
    double kb = 0.0;
    for (qint64 p : processTree(pid))
        kb += kilobytes(readProc(p, "smaps_rollup"), "Pss:");
    return kb / 1024.0;
}

Run measure(const QString &program, const QString &cacheDir, int idleSeconds, int voiceTurns)
{
    AppProcess app;
    VoiceServices voice(voiceTurns);
    app.keepSecretsPrivate();
    saveLocalSession(app, voice, voiceTurns > 0);
    app.environment().insert(QStringLiteral("XDG_CACHE_HOME"), cacheDir);
    app.process().setProcessEnvironment(app.environment());
    QElapsedTimer clock;
    clock.start();
    app.process().start(program, {});
    if (!app.process().waitForStarted(5000))
        return {};
    Run run;
    while (clock.elapsed() < 30000 && app.process().state() == QProcess::Running) {
        if (beeOnScreen()) {
            run.coldStart = double(clock.nsecsElapsed()) / 1e9;
            break;
        }
        QTest::qWait(5);  // keeps reading the app's output, too
    }
    if (run.coldStart < 0 || idleSeconds == 0) {
        app.terminate(5s);
        return run;
    }
    const qint64 pid = app.process().processId();
    QTest::qWait(5000);  // settled: the first flutter is over, helpers have started
    QHash<qint64, double> before;
    for (qint64 p : processTree(pid))
        before.insert(p, cpuSeconds(p));
    QElapsedTimer idle;
    idle.start();
    QTest::qWait(idleSeconds * 1000);
    double used = 0.0;
    for (qint64 p : processTree(pid))
        used += cpuSeconds(p) - before.value(p, 0.0);
    run.cpuPercent = 100.0 * used / (double(idle.elapsed()) / 1000.0);
    run.pssTreeMB = pssOfTreeMB(pid);
    run.rssMainMB = kilobytes(readProc(pid, "status"), "VmRSS:") / 1024.0;
    for (int turn = 0; turn < voiceTurns; ++turn) {
        if (!speakOneTurn(app, voice, turn)) {
            std::fprintf(stderr, "spoken turn %d did not complete\n%s\n", turn + 1, qPrintable(app.ownLog().right(2000)));
            app.terminate(5s);
            return run;
        }
    }
    if (voiceTurns > 0) {
        run.pssTreeAfterTurnsMB = pssOfTreeMB(pid);
        run.rssMainAfterTurnsMB = kilobytes(readProc(pid, "status"), "VmRSS:") / 1024.0;
    }
    app.terminate(5s);
    return run;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

}  // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION")) {
        std::fprintf(stderr, "run inside scripts/test-session.sh\n");
        return 1;
    }
    const int runs = std::max(1, qEnvironmentVariableIsSet("ZAPUM_BENCH_RUNS") ? qEnvironmentVariableIntValue("ZAPUM_BENCH_RUNS") : 3);
    const int idleSeconds = std::max(1, qEnvironmentVariableIsSet("ZAPUM_BENCH_IDLE_SECONDS")
                                            ? qEnvironmentVariableIntValue("ZAPUM_BENCH_IDLE_SECONDS") : 60);
    const int voiceTurns = std::max(0, qEnvironmentVariableIsSet("ZAPUM_BENCH_VOICE_TURNS")
                                           ? qEnvironmentVariableIntValue("ZAPUM_BENCH_VOICE_TURNS") : 10);
    QList<std::pair<QString, QString>> programs;
    for (const QString &argument : application.arguments().mid(1)) {
        const qsizetype eq = argument.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            std::fprintf(stderr, "usage: bench_app_cold_start [NAME=PROGRAM ...]\n");
            return 2;
        }
        programs.append({argument.left(eq), argument.mid(eq + 1)});
    }
    if (programs.isEmpty())
        programs.append({QStringLiteral("app"), zapumBinary()});

    QTemporaryDir caches;
    QHash<QString, double> firstStart;
    for (const auto &[name, program] : std::as_const(programs))
        firstStart.insert(name, measure(program, caches.filePath(name), 0, 0).coldStart);
    QHash<QString, QList<Run>> results;
    for (int i = 0; i < runs; ++i) {
        for (const auto &[name, program] : std::as_const(programs)) {
            const Run run = measure(program, caches.filePath(name), idleSeconds, voiceTurns);
            if (run.coldStart < 0 || run.cpuPercent < 0) {
                std::fprintf(stderr, "%s: no bee appeared on the screen\n", qPrintable(name));
                return 1;
            }
            if (voiceTurns > 0 && run.pssTreeAfterTurnsMB < 0)
                return 1;
            results[name].append(run);
        }
    }
    for (const auto &[name, program] : std::as_const(programs)) {
        const QList<Run> &all = results[name];
        const auto column = [&all](double Run::*field) {
            QList<double> values;
            for (const Run &run : all)
                values.append(run.*field);
            return median(values);
        };
        const QByteArray n = name.toUtf8();
        std::printf("%s_first_start_to_bee_frame %.3f s\n", n.constData(), firstStart.value(name));
        std::printf("%s_start_to_bee_frame_median %.3f s\n", n.constData(), column(&Run::coldStart));
        std::printf("%s_idle_cpu_tree_median %.2f percent_of_one_core\n", n.constData(), column(&Run::cpuPercent));
        std::printf("%s_pss_tree_median %.1f MB\n", n.constData(), column(&Run::pssTreeMB));
        std::printf("%s_rss_main_median %.1f MB\n", n.constData(), column(&Run::rssMainMB));
        if (voiceTurns > 0) {
            std::printf("%s_pss_tree_after_%d_turns_median %.1f MB\n", n.constData(), voiceTurns,
                        column(&Run::pssTreeAfterTurnsMB));
            std::printf("%s_rss_main_after_%d_turns_median %.1f MB\n", n.constData(), voiceTurns,
                        column(&Run::rssMainAfterTurnsMB));
        }
    }
    std::fflush(stdout);
    return 0;
}
