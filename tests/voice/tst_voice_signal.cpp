// What the recogniser is fed: the voice resampled to its rate, and the terms on the screen it is
// told to listen for; and the voice bars' levels.
#include "platform/linux/speech/flite_lexicon.h"
#include "voice/recognition_context.h"
#include "voice/sample_rate_converter.h"
#include "voice/voice_amplitude_analyzer.h"
#include "voice/voice_amplitude_publisher.h"

#include <QTest>

#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using Levels = VoiceAmplitudeAnalyzer::Levels;

namespace {

constexpr int kSize = 1024;

Levels feed(VoiceAmplitudeAnalyzer &analyzer, std::vector<float> samples, int count = kSize)
{
    return analyzer.analyze(samples.data(), count);
}

std::vector<float> sine(double frequency, int rate, double seconds, float amplitude = 0.5f)
{
    std::vector<float> samples(size_t(seconds * rate));
    for (size_t n = 0; n < samples.size(); ++n)
        samples[n] = amplitude * float(std::sin(2.0 * std::numbers::pi * frequency * double(n) / rate));
    return samples;
}

// A sine on bin 40, which falls in band 4 (bins 36..86).
std::vector<float> tone()
{
    return sine(40.0, kSize, 1.0);
}

// Amplitude of the component at `frequency`, measured away from the edges.
double amplitudeAt(const std::vector<float> &samples, double frequency, int rate)
{
    const size_t skip = samples.size() / 10;
    double re = 0.0;
    double im = 0.0;
    size_t count = 0;
    for (size_t n = skip; n < samples.size() - skip; ++n, ++count) {
        const double phase = 2.0 * std::numbers::pi * frequency * double(n) / rate;
        re += samples[n] * std::cos(phase);
        im += samples[n] * std::sin(phase);
    }
    return 2.0 * std::hypot(re, im) / double(count);
}

std::vector<float> convert(SampleRateConverter &converter, const std::vector<float> &input, size_t chunk)
{
    std::vector<float> output;
    for (size_t offset = 0; offset < input.size(); offset += chunk)
        converter.process(input.data() + offset, qsizetype(std::min(chunk, input.size() - offset)), output);
    converter.flush(output);
    return output;
}

}  // namespace

class TestVoiceSignal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void resamplingTones_data()
    {
        QTest::addColumn<int>("inputRate");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("expectedAmplitude");
        QTest::addColumn<double>("tolerance");

        QTest::newRow("48 kHz, 5.5 kHz kept") << 48000 << 5500.0 << 0.5 << 0.01;
        QTest::newRow("8 kHz up, 1 kHz kept") << 8000 << 1000.0 << 0.5 << 0.01;
        QTest::newRow("16 kHz passes through") << 16000 << 1000.0 << 0.5 << 1e-6;
        // Would fold back to 4 kHz, right into what the recogniser listens to.
        QTest::newRow("44.1 kHz, 12 kHz removed") << 44100 << 12000.0 << 0.0 << 0.001;
    }

    void resamplingTones()
    {
        QFETCH(int, inputRate);
        QFETCH(double, frequency);
        QFETCH(double, expectedAmplitude);
        QFETCH(double, tolerance);

        SampleRateConverter converter(inputRate, 16000);
        const std::vector<float> input = sine(frequency, inputRate, 1.0);
        const std::vector<float> output = convert(converter, input, 1024);
        QVERIFY2(std::abs(qsizetype(output.size()) - 16000) <= 1, qPrintable(QString::number(output.size())));
        // Where the tone is kept, it is kept at its own frequency, not somewhere else.
        const double measuredFrequency = frequency < 8000 ? frequency : 16000.0 - std::fmod(frequency, 16000.0);
        const double amplitude = amplitudeAt(output, measuredFrequency, 16000);
        QVERIFY2(std::abs(amplitude - expectedAmplitude) <= tolerance, qPrintable(QString::number(amplitude)));
        // A capture hands over audio in whatever pieces the audio server chose; the result must
        // not depend on them.
        SampleRateConverter bySample(inputRate, 16000);
        QCOMPARE(convert(bySample, input, 1), output);
    }

    // The numbers the bars were tuned with. A tone on bin 40 puts s·A·N on that bin and half of it
    // on each neighbour (s = 0.8165, the window's scale; bins read twice |X[k]|), all inside band 4
    // (bins 36–86): its level is 1 from the first block, smoothed from zero to 0.55, 0.7975,
    // 0.908875, the other bands staying dark; silence then keeps 0.45 of it while the peak decays
    // by 1.5 %.
    void analyzerToneGivesTheTunedLevels()
    {
        VoiceAmplitudeAnalyzer analyzer(kSize);
        const double peak = 2.0 * 0.8165 * 0.5 * kSize / 51.0;
        const auto near = [](double actual, double expected, double tolerance) {
            return qAbs(actual - expected) <= tolerance * qMax(1.0, qAbs(expected));
        };
        for (double expected : {0.55, 0.7975, 0.908875}) {
            const Levels levels = feed(analyzer, tone());
            QVERIFY2(near(levels[4], expected, 1e-5), qPrintable(QString::number(levels[4])));
            for (int i = 0; i < VoiceAmplitudeAnalyzer::kBandCount; ++i)
                QVERIFY2(i == 4 || levels[size_t(i)] < 0.02f, qPrintable(QStringLiteral("band %1").arg(i)));
        }
        QVERIFY2(near(analyzer.rollingPeak(), peak, 1e-4), qPrintable(QString::number(analyzer.rollingPeak())));
        const Levels quiet = feed(analyzer, std::vector<float>(kSize, 0.0f));
        QVERIFY(near(quiet[4], 0.45 * 0.908875, 1e-5));
        QVERIFY(near(analyzer.rollingPeak(), peak * 0.985, 1e-4));
        QCOMPARE(analyzer.levels(), quiet);
    }

    // A block of the wrong length or with a NaN in it changes nothing; a reset starts afresh.
    void analyzerDropsBadBlocksAndResetForgets()
    {
        VoiceAmplitudeAnalyzer fresh(kSize);
        const Levels once = feed(fresh, tone());
        VoiceAmplitudeAnalyzer analyzer(kSize);
        QCOMPARE(feed(analyzer, tone(), kSize - 1), Levels{});
        QCOMPARE(feed(analyzer, tone()), once);
        std::vector<float> withNaN = tone();
        withNaN[100] = std::numeric_limits<float>::quiet_NaN();
        QCOMPARE(feed(analyzer, withNaN), once);
        feed(analyzer, tone());
        analyzer.reset();
        QCOMPARE(feed(analyzer, tone()), once);
    }

    void publisherSubmissions_data()
    {
        QTest::addColumn<QList<float>>("first");
        QTest::addColumn<double>("gapSeconds");
        QTest::addColumn<QList<float>>("second");  // empty: a reset instead
        QTest::addColumn<QList<float>>("expected");
        const QList<float> half(7, 0.5f);
        const QList<float> quarter(7, 0.25f);
        QTest::newRow("wrong band count ignored") << QList<float>(6, 0.5f) << 1.0 << QList<float>(8, 0.5f)
                                                  << QList<float>(7, 0.0f);
        QTest::newRow("10 ms apart keeps the first") << half << 0.010 << quarter << half;
        QTest::newRow("40 ms apart takes the second") << half << 0.040 << quarter << quarter;
        const QList<float> wild{1.4f, -0.2f, 0.3f, 1.0f, 0.0f, 2.0f, -1.0f};
        QTest::newRow("clamped") << half << 1.0 << wild << QList<float>{1.0f, 0.0f, 0.3f, 1.0f, 0.0f, 1.0f, 0.0f};
        QTest::newRow("a reset always gets through") << half << 0.0 << QList<float>() << QList<float>(7, 0.0f);
    }
    void publisherSubmissions()
    {
        QFETCH(QList<float>, first);
        QFETCH(double, gapSeconds);
        QFETCH(QList<float>, second);
        QFETCH(QList<float>, expected);
        double now = 1000.0;
        VoiceAmplitudePublisher publisher(nullptr, [&now] { return now; });
        publisher.submit(first);
        now += gapSeconds;
        if (second.isEmpty())
            publisher.reset();
        else
            publisher.submit(second);
        QCOMPARE(publisher.levels(), expected);
    }

    void vocabulary_data()
    {
        QTest::addColumn<QStringList>("apps");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<int>("cap");
        QTest::addColumn<QStringList>("names");  // the terms after the command words

        QTest::newRow("case, punctuation, repeats")
            << QStringList{u"gedit"_s, u"Thunderbird"_s} << QStringList{u"Inbox — Mozilla Thunderbird"_s, u"notes.txt - gedit"_s}
            << 200 << QStringList{u"Gedit"_s, u"Thunderbird"_s, u"Inbox"_s, u"Mozilla"_s, u"Notes"_s};
        QTest::newRow("many-word names are whole and in words")
            << QStringList{u"LibreOffice Writer"_s} << QStringList{} << 200
            << QStringList{u"LibreOffice_Writer"_s, u"LibreOffice"_s, u"Writer"_s};
        QTest::newRow("dotted ids, accents, numbers and short words")
            << QStringList{u"org.gnome.Nautilus"_s} << QStringList{u"Café de l'Été 2024 v4.5"_s} << 200
            << QStringList{u"Gnome"_s, u"Nautilus"_s, u"Cafe"_s, u"Ete"_s};
        QTest::newRow("capped") << QStringList{u"Krita"_s, u"Okular"_s, u"Zotero"_s} << QStringList{u"Geany"_s}
                                << int(recognition_context::commandWords().size()) + 2
                                << QStringList{u"Krita"_s, u"Okular"_s};
    }
    void vocabulary()
    {
        QFETCH(QStringList, apps);
        QFETCH(QStringList, titles);
        QFETCH(int, cap);
        QFETCH(QStringList, names);
        const QStringList terms = recognition_context::vocabulary(apps, titles, cap);
        QCOMPARE(terms.mid(0, recognition_context::commandWords().size()), recognition_context::commandWords());
        QCOMPARE(terms.mid(recognition_context::commandWords().size()), names);
    }

    void spokenParts_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<QStringList>("parts");
        QTest::newRow("camel case with an acronym") << u"KeePassXC"_s << QStringList{u"kee"_s, u"pass"_s, u"XC"_s};
        QTest::newRow("joined name") << u"LibreOffice_Writer"_s << QStringList{u"libre"_s, u"office"_s, u"writer"_s};
        QTest::newRow("lone letter") << u"qBittorrent"_s << QStringList{u"Q"_s, u"bittorrent"_s};
        QTest::newRow("acronym before a word") << u"XMLHttp"_s << QStringList{u"XML"_s, u"http"_s};
        QTest::newRow("digits") << u"Qt6"_s << QStringList{u"qt"_s, u"six"_s};
    }
    void spokenParts()
    {
        QFETCH(QString, term);
        QFETCH(QStringList, parts);
        QCOMPARE(recognition_context::spokenParts(term), parts);
    }

    // Flite's phones in the acoustic model's set: known words from its lexicon, invented ones
    // from its letter-to-sound rules, upper-case runs spelled out.
    void pronunciation_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("phones");
        QTest::newRow("known") << u"window"_s << u"W IH N D OW"_s;
        QTest::newRow("invented") << u"zorblax"_s << u"Z AO R B L AE K S"_s;
        QTest::newRow("spelled") << u"VLC"_s << u"V IY EH L S IY"_s;
        QTest::newRow("no letters") << QString() << QString();
    }
    void pronunciation()
    {
        QFETCH(QString, word);
        QFETCH(QString, phones);
        FliteLexicon lexicon;
        QCOMPARE(lexicon.phones(word), phones);
        QCOMPARE(FliteLexicon::toModelPhones({u"pau"_s, u"hh"_s, u"eh1"_s, u"l"_s, u"ax0"_s}), u"HH EH L AH"_s);
    }
};

QTEST_GUILESS_MAIN(TestVoiceSignal)
#include "tst_voice_signal.moc"
