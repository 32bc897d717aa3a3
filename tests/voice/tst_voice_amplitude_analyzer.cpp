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
    // A tone lights its own band only, rises over a few blocks and falls away in silence.
    void toneRisesInItsBandAndDecays()
    {
        VoiceAmplitudeAnalyzer analyzer(kSize);
        const Levels first = feed(analyzer, tone());
        const Levels second = feed(analyzer, tone());
        QVERIFY2(first[4] > 0.5f && second[4] > first[4] && second[4] <= 1.0f, qPrintable(QString::number(second[4])));
        for (int i = 0; i < VoiceAmplitudeAnalyzer::kBandCount; ++i) {
            if (i != 4)
                QVERIFY2(second[size_t(i)] < 0.02f, qPrintable(QStringLiteral("band %1: %2").arg(i).arg(second[size_t(i)])));
        }
        const float peak = analyzer.rollingPeak();
        const Levels quiet = feed(analyzer, std::vector<float>(kSize, 0.0f));
        QVERIFY(quiet[4] < second[4] && quiet[4] > 0.0f);
        QVERIFY(analyzer.rollingPeak() < peak);
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
