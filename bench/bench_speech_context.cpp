// How well spoken app and window commands are recognised with and without the names on the screen.
// Installs desktop entries for apps whose names are not ordinary English, opens a test window for
// each under the X server, takes the app and window snapshots as the app does, and feeds flite
// speech (voices rms, awb, slt) through the capture worker and PocketSphinx faster than real time.
// Run inside scripts/test-session.sh. Prints `name value unit` lines:
//   speech_corpus_*                 apps installed, terms taken from the snapshots, sentences
//   speech_wer_<corpus>_<voice>_<plain|context>   word error rate, in per cent
//   speech_rtf_<plain|context>      decoding CPU time per second of audio
//   speech_context_switch_*_median  time the recogniser takes to take in a context
//   speech_rss_*                    resident memory after loading, and after taking in the terms
#include "desktop/action_mode_store.h"
#include "foundation/settings_storage.h"
#include "platform/desktop_backends.h"
#include "voice/recognition_context.h"
#include "voice/voice_capture_worker.h"
#include "word_errors.h"

#include "support/fifo_microphone.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace zapum;
using zapum::bench::editDistance;
using zapum::bench::words;
using test::FifoMicrophone;

namespace {

struct App {
    const char *name;
    const char *title;
};

// Everyday Linux apps, named as their desktop entries name them, each with a typical window title.
const App kApps[] = {
    {"Inkscape", "Untitled drawing - Inkscape"},     {"Thunderbird", "Inbox - Mozilla Thunderbird"},
    {"Firefox", "New Tab - Mozilla Firefox"},         {"KeePassXC", "Passwords.kdbx - KeePassXC"},
    {"GIMP", "GNU Image Manipulation Program"},       {"VLC", "VLC media player"},
    {"Nautilus", "Home"},                             {"LibreOffice Writer", "Quarterly report.odt - LibreOffice Writer"},
    {"Audacity", "Audacity"},                         {"Blender", "Blender"},
    {"Krita", "Krita"},                               {"Okular", "manual.pdf - Okular"},
    {"Evince", "Document Viewer"},                    {"Gedit", "notes.txt - gedit"},
    {"Konsole", "bash - Konsole"},                    {"Kdenlive", "Untitled - Kdenlive"},
    {"Rhythmbox", "Rhythmbox"},                       {"Shotwell", "Shotwell"},
    {"Chromium", "New Tab - Chromium"},               {"Zotero", "My Library - Zotero"},
    {"Geany", "untitled - Geany"},                    {"FileZilla", "FileZilla"},
    {"Darktable", "darktable"},                       {"Remmina", "Remmina Remote Desktop Client"},
    {"Pidgin", "Buddy List"},                         {"HexChat", "HexChat: Libera.Chat"},
    {"qBittorrent", "qBittorrent v4.5.2"},            {"Calibre", "calibre - My Books"},
};

struct Sentence {
    const char *spoken;     // what flite is asked to say, the way a person says it
    const char *reference;  // the transcript we want, in the names' on-screen spelling
};

const Sentence kCommands[] = {
    {"switch to inkscape", "switch to inkscape"},
    {"open thunderbird", "open thunderbird"},
    {"go back to firefox", "go back to firefox"},
    {"bring keepass x c to the front", "bring keepassxc to the front"},
    {"switch to gimp", "switch to gimp"},
    {"open v l c", "open vlc"},
    {"show me nautilus", "show me nautilus"},
    {"switch to libre office writer", "switch to libreoffice writer"},
    {"bring audacity to the front", "bring audacity to the front"},
    {"open blender", "open blender"},
    {"switch to krita", "switch to krita"},
    {"go to okular", "go to okular"},
    {"open evince", "open evince"},
    {"switch to gedit", "switch to gedit"},
    {"bring konsole to the front", "bring konsole to the front"},
    {"open kdenlive", "open kdenlive"},
    {"switch to rhythmbox", "switch to rhythmbox"},
    {"show shotwell", "show shotwell"},
    {"switch to chromium", "switch to chromium"},
    {"open zotero", "open zotero"},
    {"bring geany to the front", "bring geany to the front"},
    {"switch to file zilla", "switch to filezilla"},
    {"open darktable", "open darktable"},
    {"switch to remmina", "switch to remmina"},
    {"go to pidgin", "go to pidgin"},
    {"open hex chat", "open hexchat"},
    {"switch to q bittorrent", "switch to qbittorrent"},
    {"bring calibre to the front", "bring calibre to the front"},
    {"close the inkscape window", "close the inkscape window"},
    {"take a screenshot of krita", "take a screenshot of krita"},
    {"minimize thunderbird", "minimize thunderbird"},
    {"switch from firefox to zotero", "switch from firefox to zotero"},
    {"show all blender windows", "show all blender windows"},
    {"click save in gedit", "click save in gedit"},
    {"open the quarterly report in libre office", "open the quarterly report in libreoffice"},
    {"switch to the okular window", "switch to the okular window"},
};

const char *const kGeneral[] = {
    "please open the calendar and show me the weather for tomorrow",
    "what is the capital of france",
    "what time is it in london right now",
    "turn the music down a little",
    "send a message to my mother tonight",
    "how many days are left until friday",
    "remind me to call the doctor at three",
    "what is the weather like this weekend",
    "read me the last email from my boss",
    "set a timer for ten minutes",
    "how do i change the screen brightness",
    "make the text on the screen bigger",
    "what was the score of the game last night",
    "find a good recipe for dinner",
    "can you help me write a short letter",
    "when does the next train leave for the city",
    "what is on my schedule for monday",
    "tell me a joke about computers",
    "how far is the airport from here",
    "save this page and close the window",
    "play some quiet music while i work",
    "what is the best way to learn a new language",
    "open the file i was working on yesterday",
    "how much does a cup of coffee cost",
    "turn off the lights in the kitchen",
    "what is the meaning of this word",
    "write down that the meeting moved to four",
    "is it going to rain this afternoon",
    "show me pictures of the beach",
    "copy the address and paste it into the form",
};

const char *const kVoices[] = {"rms", "awb", "slt"};

// Plays a clip into the worker as a 16 kHz mono microphone would, in the audio server's chunks.
class ClipInput final : public AudioInput {
public:
    Result<AudioInputFormat> start(FrameSink sink) override
    {
        m_sink = std::move(sink);
        return AudioInputFormat{FifoMicrophone::kSampleRate, 1};
    }
    void stop() override { m_sink = {}; }
    void play(const QByteArray &pcm)
    {
        const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
        const qsizetype count = pcm.size() / 2;
        std::vector<float> chunk;
        for (qsizetype at = 0; at < count && m_sink; at += 800) {
            const qsizetype n = std::min<qsizetype>(800, count - at);
            chunk.resize(size_t(n));
            for (qsizetype i = 0; i < n; ++i)
                chunk[size_t(i)] = float(samples[at + i]) / 32768.0f;
            m_sink(chunk.data(), n);
        }
    }

private:
    FrameSink m_sink;
};

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0.0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

struct Clip {
    QByteArray pcm;
    QString reference;
};

struct Recogniser {
    ClipInput *input = nullptr;
    std::unique_ptr<VoiceCaptureWorker> worker;
    quint64 capture = 0;
    double cpu = 0.0;
    double audio = 0.0;

    QString hear(const Clip &clip, const QStringList &terms)
    {
        QString heard;
        const auto connection = QObject::connect(worker.get(), &VoiceCaptureWorker::transcriptChanged,
                                                 [&heard](quint64, const QString &text) { heard = text; });
        const double start = threadCpuSeconds();
        worker->startCapture(++capture);
        worker->applyContext(capture, terms);
        input->play(clip.pcm);
        worker->stopCapture(capture);
        cpu += threadCpuSeconds() - start;
        audio += double(clip.pcm.size()) / 2 / FifoMicrophone::kSampleRate;
        QObject::disconnect(connection);
        return heard;
    }
};

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_speech_context needs the test session (scripts/test-session.sh)\n");
        return 2;
    }
    const bool verbose = application.arguments().contains(QStringLiteral("--verbose"));

    // Desktop entries in a private data folder, and one test client process per app.
    QTemporaryDir dataHome;
    QDir(dataHome.path()).mkpath(QStringLiteral("applications"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    std::vector<std::unique_ptr<QProcess>> clients;
    int index = 0;
    for (const App &app : kApps) {
        const QString wmClass = QStringLiteral("BenchApp%1").arg(index);
        QFile entry(dataHome.filePath(QStringLiteral("applications/bench-app-%1.desktop").arg(index)));
        if (!entry.open(QIODevice::WriteOnly))
            return 1;
        entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=bench-app-%2\nStartupWMClass=%3\n")
                        .arg(QLatin1String(app.name))
                        .arg(index)
                        .arg(wmClass)
                        .toUtf8());
        entry.close();
        auto client = std::make_unique<QProcess>();
        client->start(QStringLiteral(X11_TEST_CLIENT),
                      {QStringLiteral("--window"), QStringLiteral("title=%1;x=%2;y=40;w=200;h=120;class=%3")
                                                       .arg(QLatin1String(app.title))
                                                       .arg(20 * index)
                                                       .arg(wmClass)});
        if (!client->waitForReadyRead(10000) || !client->readLine().startsWith("ready")) {
            std::fprintf(stderr, "a test client did not come up\n");
            return 1;
        }
        clients.push_back(std::move(client));
        ++index;
    }
    QTemporaryDir settingsDir;
    SettingsStorage settings(settingsDir.filePath(QStringLiteral("settings.json")));
    DesktopBackends backends = openDesktopBackends();
    ActionModeStore store(settings, *backends.windowServer, *backends.workspace, *backends.screenCapture,
                          *backends.inputSynthesizer);
    store.refreshWindowsAndApps();
    const QStringList terms = recognition_context::vocabulary(store.runningApps(), store.windows());
    if (verbose)
        std::fprintf(stderr, "terms: %s\n", qPrintable(terms.join(QLatin1Char(' '))));

    // Speech, with a little silence around it as a hold of the talk key has.
    std::vector<Clip> commands;
    std::vector<Clip> general;
    for (const char *voice : kVoices) {
        for (const Sentence &sentence : kCommands) {
            commands.push_back({FifoMicrophone::silence(0.3) + FifoMicrophone::speak(QLatin1String(sentence.spoken), QLatin1String(voice)) +
                                    FifoMicrophone::silence(0.8),
                                QLatin1String(sentence.reference)});
        }
        for (const char *sentence : kGeneral) {
            general.push_back({FifoMicrophone::silence(0.3) + FifoMicrophone::speak(QLatin1String(sentence), QLatin1String(voice)) +
                                   FifoMicrophone::silence(0.8),
                               QLatin1String(sentence)});
        }
    }

    Recogniser recogniser;
    recogniser.worker = std::make_unique<VoiceCaptureWorker>(
        [] { return createSpeechRecognizer(); },
        [&recogniser] {
            auto input = std::make_unique<ClipInput>();
            recogniser.input = input.get();
            return input;
        },
        1.0 / 30.0, [] { return 0.0; });
    if (!recogniser.worker->load()) {
        std::fprintf(stderr, "bench_speech_context: no speech model\n");
        return 1;
    }

    // Plain first: the recogniser keeps context terms once it has them.
    for (const bool withContext : {false, true}) {
        const char *mode = withContext ? "context" : "plain";
        recogniser.cpu = recogniser.audio = 0.0;
        for (const auto &[corpus, clips] : {std::pair{"commands", &commands}, std::pair{"general", &general}}) {
            const size_t perVoice = clips->size() / std::size(kVoices);
            for (size_t v = 0; v < std::size(kVoices); ++v) {
                int errors = 0;
                int referenceWords = 0;
                for (size_t i = v * perVoice; i < (v + 1) * perVoice; ++i) {
                    const Clip &clip = (*clips)[i];
                    const QString heard = recogniser.hear(clip, withContext ? terms : QStringList());
                    const int distance = editDistance(words(clip.reference), words(heard));
                    errors += distance;
                    referenceWords += int(words(clip.reference).size());
                    if (verbose && distance > 0)
                        std::fprintf(stderr, "%s %s: \"%s\" -> \"%s\"\n", mode, kVoices[v], qPrintable(clip.reference),
                                     qPrintable(heard));
                }
                std::printf("speech_wer_%s_%s_%s %.1f %%\n", corpus, kVoices[v], mode,
                            100.0 * errors / std::max(referenceWords, 1));
                std::fflush(stdout);
            }
        }
        std::printf("speech_rtf_%s %.3f ratio\n", mode, recogniser.cpu / std::max(recogniser.audio, 1e-9));
    }

    // What a listening period pays when the context changes: a fresh recogniser taking in the
    // desktop's terms, the same terms again, the terms with a few windows closed (no new word),
    // one new window-title word, and the context turned off.
    std::vector<double> firstSwitch, sameSwitch, fewerSwitch, newWordSwitch, clearSwitch;
    const auto timed = [](SpeechRecognizer &recognizer, const QStringList &context, std::vector<double> &into) {
        QElapsedTimer timer;
        timer.start();
        recognizer.setContext(context);
        into.push_back(double(timer.nsecsElapsed()) / 1e6);
    };
    const double rssBefore = residentMegabytes();
    const std::unique_ptr<SpeechRecognizer> fresh = createSpeechRecognizer();
    const double rssLoaded = residentMegabytes();
    timed(*fresh, terms, firstSwitch);
    const double rssContext = residentMegabytes();
    for (int round = 0; round < 5; ++round) {
        const QStringList fewer = terms.mid(0, terms.size() - 5 - round);
        timed(*fresh, fewer, fewerSwitch);
        timed(*fresh, fewer, sameSwitch);
        timed(*fresh, terms + QStringList{QStringLiteral("Zorblaxia%1").arg(QChar(u'a' + round))}, newWordSwitch);
    }
    for (int round = 0; round < 3; ++round) {
        timed(*fresh, {}, clearSwitch);
        timed(*fresh, terms, firstSwitch);
    }

    std::printf("speech_corpus_apps %lld count\n", static_cast<long long>(std::size(kApps)));
    std::printf("speech_corpus_apps_seen %lld count\n", static_cast<long long>(store.runningApps().size()));
    std::printf("speech_corpus_terms %lld count\n", static_cast<long long>(terms.size()));
    std::printf("speech_corpus_commands %lld sentences\n", static_cast<long long>(std::size(kCommands)));
    std::printf("speech_corpus_general %lld sentences\n", static_cast<long long>(std::size(kGeneral)));
    std::printf("speech_context_switch_first_median %.1f ms\n", median(firstSwitch));
    std::printf("speech_context_switch_same_median %.3f ms\n", median(sameSwitch));
    std::printf("speech_context_switch_fewer_median %.1f ms\n", median(fewerSwitch));
    std::printf("speech_context_switch_new_word_median %.1f ms\n", median(newWordSwitch));
    std::printf("speech_context_switch_off_median %.1f ms\n", median(clearSwitch));
    std::printf("speech_rss_recognizer %.1f MB\n", rssLoaded - rssBefore);
    std::printf("speech_rss_recognizer_context %.1f MB\n", rssContext - rssBefore);

    for (auto &client : clients) {
        client->closeWriteChannel();
        client->waitForFinished(5000);
    }
    return 0;
}
