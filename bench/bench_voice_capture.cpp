// Speech recognition through the whole capture path: flite speech written in real time into the
// test session's FIFO microphone, recorded by VoiceCaptureService from PulseAudio. Run inside
// scripts/test-session.sh. Prints `name value unit` lines:
//   voice_recognizer_rtf       CPU time of the process per second of a 10 s utterance
//   voice_partial_lag_mean/max from the end of a spoken word to the first partial that has it
//   voice_recognizer_wer       word error rate over flite sentences in three voices
// then the same with a desktop's worth of app and window names to listen for (suffix `_context`).
#include "voice/recognition_context.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_capture_service.h"
#include "word_errors.h"

#include "support/await_task.h"
#include "support/fifo_microphone.h"

#include <QCoreApplication>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace zapum;
using zapum::bench::editDistance;
using zapum::bench::words;
using namespace std::chrono_literals;
using test::FifoMicrophone;

namespace {

struct Spoken {
    QString voice;
    QString text;
};

const QList<Spoken> kSentences{
    {QStringLiteral("slt"), QStringLiteral("please open the calendar and show me the weather for tomorrow")},
    {QStringLiteral("slt"), QStringLiteral("what is the capital of france")},
    {QStringLiteral("rms"), QStringLiteral("what time is it in london right now")},
    {QStringLiteral("rms"), QStringLiteral("turn the music down a little")},
    {QStringLiteral("awb"), QStringLiteral("send a message to my mother tonight")},
    {QStringLiteral("awb"), QStringLiteral("how many days are left until friday")},
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString capture(VoiceCaptureService &service, const QByteArray &audio)
{
    if (!service.start().ok())
        return {};
    FifoMicrophone microphone;
    microphone.play(audio);
    microphone.waitUntilPlayed(60s);
    return test::awaitTask(service.stop());
}

// Where the speech in a clip ends: the last 10 ms window with a clearly audible sample.
qsizetype speechEnd(const QByteArray &clip)
{
    const auto *samples = reinterpret_cast<const qint16 *>(clip.constData());
    const qsizetype count = clip.size() / 2;
    for (qsizetype n = count - 1; n >= 0; --n) {
        if (std::abs(int(samples[n])) > 600)
            return n + 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!FifoMicrophone::available()) {
        std::fprintf(stderr, "bench_voice_capture: run inside scripts/test-session.sh\n");
        return 2;
    }
    VoiceAmplitudePublisher publisher;
    VoiceCaptureService service(publisher);
    if (!test::awaitTask(service.requestPermissions())) {
        std::fprintf(stderr, "bench_voice_capture: no recogniser or no microphone\n");
        return 1;
    }

    // Plain first: the recogniser keeps context terms once it has them.
    for (const bool withContext : {false, true}) {
        const char *suffix = withContext ? "_context" : "";
        if (withContext) {
            service.setContextProvider([] {
                return recognition_context::vocabulary(
                    {QStringLiteral("Inkscape"), QStringLiteral("Thunderbird"), QStringLiteral("KeePassXC"),
                     QStringLiteral("GIMP"), QStringLiteral("VLC"), QStringLiteral("LibreOffice Writer"),
                     QStringLiteral("Kdenlive"), QStringLiteral("Zotero"), QStringLiteral("Remmina"),
                     QStringLiteral("HexChat"), QStringLiteral("qBittorrent"), QStringLiteral("Okular"),
                     QStringLiteral("Krita"), QStringLiteral("Geany")},
                    {QStringLiteral("Quarterly report.odt - LibreOffice Writer"),
                     QStringLiteral("Inbox - Mozilla Thunderbird"), QStringLiteral("manual.pdf - Okular"),
                     QStringLiteral("My Library - Zotero")});
            });
        }
        // Word error rate, one capture per sentence.
        int errors = 0;
        int referenceWords = 0;
        for (const Spoken &sentence : kSentences) {
            const QByteArray audio = FifoMicrophone::silence(0.3) + FifoMicrophone::speak(sentence.text, sentence.voice) +
                                     FifoMicrophone::silence(0.8);
            const QString heard = capture(service, audio);
            errors += editDistance(words(sentence.text), words(heard));
            referenceWords += int(words(sentence.text).size());
            std::fprintf(stderr, "%s: \"%s\" -> \"%s\"\n", qPrintable(sentence.voice), qPrintable(sentence.text),
                         qPrintable(heard));
        }

        // Real-time factor over about 10 s of speech in one capture.
        QByteArray longAudio = FifoMicrophone::silence(0.3);
        for (int i = 0; i < 3; ++i)
            longAudio += FifoMicrophone::speak(kSentences[i * 2].text, kSentences[i * 2].voice) + FifoMicrophone::silence(0.4);
        while (longAudio.size() < 10 * FifoMicrophone::kSampleRate * 2)
            longAudio += FifoMicrophone::silence(0.1);
        const double audioSeconds = double(longAudio.size()) / 2 / FifoMicrophone::kSampleRate;
        const double cpuBefore = cpuSeconds();
        capture(service, longAudio);
        const double rtf = (cpuSeconds() - cpuBefore) / audioSeconds;

        // Lag: single words with pauses between them, noting when each word's last sound was played.
        const QStringList lagWords{QStringLiteral("calendar"), QStringLiteral("weather"), QStringLiteral("london"),
                                   QStringLiteral("music"),    QStringLiteral("tomorrow"), QStringLiteral("message")};
        QByteArray lagAudio = FifoMicrophone::silence(0.5);
        QList<qsizetype> wordEnds;
        for (const QString &word : lagWords) {
            const QByteArray clip = FifoMicrophone::speak(word, QStringLiteral("slt"));
            wordEnds.append(lagAudio.size() / 2 + speechEnd(clip));
            lagAudio += clip + FifoMicrophone::silence(1.2);
        }
        QList<QPair<FifoMicrophone::Clock::time_point, QString>> partials;
        service.setOnPartial([&](const QString &text) { partials.append({FifoMicrophone::Clock::now(), text}); });
        FifoMicrophone microphone;
        if (!service.start().ok())
            return 1;
        microphone.play(lagAudio);
        microphone.waitUntilPlayed(60s);
        test::awaitTask(service.stop());
        double lagSum = 0.0;
        double lagMax = 0.0;
        int lagCount = 0;
        for (qsizetype i = 0; i < lagWords.size(); ++i) {
            const auto spokenEnd = microphone.startedAt() + std::chrono::microseconds(wordEnds[i] * 1'000'000 / FifoMicrophone::kSampleRate);
            for (const auto &[when, text] : partials) {
                if (words(text).contains(lagWords[i])) {
                    const double lag = std::chrono::duration<double, std::milli>(when - spokenEnd).count();
                    lagSum += lag;
                    lagMax = std::max(lagMax, lag);
                    ++lagCount;
                    break;
                }
            }
        }

        std::printf("voice_recognizer_rtf%s %.3f ratio\n", suffix, rtf);
        if (lagCount > 0) {
            std::printf("voice_partial_lag_mean%s %.0f ms\n", suffix, lagSum / lagCount);
            std::printf("voice_partial_lag_max%s %.0f ms\n", suffix, lagMax);
        }
        std::printf("voice_partial_lag_words%s %d count\n", suffix, lagCount);
        std::printf("voice_recognizer_wer%s %.1f %%\n", suffix, 100.0 * errors / std::max(referenceWords, 1));
        std::fflush(stdout);
        service.setOnPartial({});
    }
    return 0;
}
