#include "voice/voice_amplitude_analyzer.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

using namespace zapum;
using Levels = VoiceAmplitudeAnalyzer::Levels;

namespace {

constexpr int kSize = 1024;

// A sine on bin 40, which falls in band 4 (bins 36..86).
std::vector<float> tone(float amplitude = 0.5f)
{
    std::vector<float> samples(kSize);
    for (int n = 0; n < kSize; ++n)
        samples[size_t(n)] = amplitude * float(std::sin(2.0 * std::numbers::pi * 40 * n / kSize));
    return samples;
}

Levels feed(VoiceAmplitudeAnalyzer &analyzer, std::vector<float> samples, int count = kSize)
{
    return analyzer.analyze(samples.data(), count);
}

}  // namespace

class TestVoiceAmplitudeAnalyzer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The numbers the bars were tuned with. A tone on bin 40 puts s·A·N on that bin and half of it
    // on each neighbour (s = 0.8165, the window's scale; bins read twice |X[k]|), all inside band 4
    // (bins 36–86): its level is 1 from the first block, smoothed from zero to 0.55, 0.7975,
    // 0.908875; silence then keeps 0.45 of it while the peak decays by 1.5 %.
    void toneGivesTheTunedLevels()
    {
        using Bins = VoiceAmplitudeAnalyzer::BinRange;
        QCOMPARE(VoiceAmplitudeAnalyzer::bandBins(kSize),
                 (std::array<Bins, 7>{{{2, 3}, {3, 6}, {6, 15}, {15, 36}, {36, 87}, {87, 210}, {210, 512}}}));
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
    void badBlocksAreDroppedAndResetForgets()
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

    // Sizes 1 and 2 would leave no bin between DC and Nyquist for a band to read.
    void refusesUnusableSizes()
    {
        for (int size : {1000, 0, -1024, 2})
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, VoiceAmplitudeAnalyzer{size});
    }
};

QTEST_GUILESS_MAIN(TestVoiceAmplitudeAnalyzer)
#include "tst_voice_amplitude_analyzer.moc"
