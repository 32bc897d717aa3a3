#include "voice/voice_amplitude_analyzer.h"

#include <QTest>

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <vector>

using namespace zapum;

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

// Mean over band 4 (51 bins) of twice |X[k]| for a Hann-windowed sine of amplitude 0.5 on bin 40:
// 2|X[40]| = A·N·0.8165 and its two neighbours half that.
const float kTonePeak = 2.0f * 0.5f * kSize * 0.8165f / 51.0f;

}  // namespace

class TestVoiceAmplitudeAnalyzer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bandBins()
    {
        const auto bins = VoiceAmplitudeAnalyzer::bandBins(kSize);
        const int edges[] = {2, 3, 6, 15, 36, 87, 210, 512};
        for (size_t band = 0; band < bins.size(); ++band)
            QCOMPARE(bins[band], (VoiceAmplitudeAnalyzer::BinRange{edges[band], edges[band + 1]}));
    }

    // Blocks fed one after the other: "tone", "silence", "short" (one sample short), "nan" (a
    // tone with one NaN sample) and "reset".
    void sequences_data()
    {
        QTest::addColumn<QByteArrayList>("blocks");
        QTest::addColumn<float>("band4");
        QTest::addColumn<float>("peak");
        QTest::newRow("silence from reset") << QByteArrayList{"silence"} << 0.0f << 0.01f * 0.985f;
        QTest::newRow("short block from reset") << QByteArrayList{"short"} << 0.0f << 0.01f;
        QTest::newRow("tone, one block") << QByteArrayList{"tone"} << 0.55f << kTonePeak;
        QTest::newRow("tone, two blocks") << QByteArrayList{"tone", "tone"} << 0.7975f << kTonePeak;
        QTest::newRow("reset starts afresh") << QByteArrayList{"tone", "tone", "reset", "tone"} << 0.55f << kTonePeak;
        QTest::newRow("block with a NaN is dropped") << QByteArrayList{"tone", "nan"} << 0.55f << kTonePeak;
        QTest::newRow("silence after a tone decays") << QByteArrayList{"tone", "silence"} << 0.45f * 0.55f
                                                     << kTonePeak * 0.985f;
    }
    void sequences()
    {
        QFETCH(QByteArrayList, blocks);
        QFETCH(float, band4);
        QFETCH(float, peak);
        VoiceAmplitudeAnalyzer analyzer(kSize);
        VoiceAmplitudeAnalyzer::Levels levels{};
        for (const QByteArray &name : blocks) {
            if (name == "reset") {
                analyzer.reset();
                continue;
            }
            std::vector<float> samples = name == "silence" ? std::vector<float>(kSize, 0.0f) : tone();
            if (name == "nan")
                samples[100] = std::numeric_limits<float>::quiet_NaN();
            levels = analyzer.analyze(samples.data(), name == "short" ? kSize - 1 : kSize);
        }
        QVERIFY2(std::abs(levels[4] - band4) < 1e-4f, qPrintable(QString::number(levels[4])));
        for (int i = 0; i < VoiceAmplitudeAnalyzer::kBandCount; ++i) {
            if (i != 4)
                QVERIFY2(levels[size_t(i)] < 0.02f, qPrintable(QStringLiteral("band %1: %2").arg(i).arg(levels[size_t(i)])));
        }
        QVERIFY2(std::abs(analyzer.rollingPeak() - peak) <= peak * 1e-4f, qPrintable(QString::number(analyzer.rollingPeak())));
        QCOMPARE(analyzer.levels(), levels);
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
