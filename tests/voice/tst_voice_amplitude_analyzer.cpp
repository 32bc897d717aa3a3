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

std::vector<float> tone(int bin, float amplitude)
{
    std::vector<float> samples(kSize);
    for (int n = 0; n < kSize; ++n)
        samples[size_t(n)] = amplitude * float(std::sin(2.0 * std::numbers::pi * bin * n / kSize));
    return samples;
}

// Mean over band 4 (bins 36..86, 51 bins) of twice |X[k]| for a Hann-windowed sine of amplitude A
// on bin 40: 2|X[40]| = A·N·0.8165 and its two neighbours half that.
float toneBandValue(float amplitude)
{
    return 2.0f * amplitude * kSize * 0.8165f / 51.0f;
}

// Blocks fed one after the other, named in the rows.
std::vector<float> block(const QString &name)
{
    if (name == QLatin1String("tone"))
        return tone(40, 0.5f);
    if (name == QLatin1String("quiet tone"))
        return tone(40, 0.25f);
    if (name == QLatin1String("silence"))
        return std::vector<float>(kSize, 0.0f);
    if (name == QLatin1String("short"))
        return tone(40, 0.5f);  // fed with a count of 1023
    if (name == QLatin1String("nan")) {
        std::vector<float> samples = tone(40, 0.5f);
        samples[100] = std::numeric_limits<float>::quiet_NaN();
        return samples;
    }
    return {};
}

}  // namespace

class TestVoiceAmplitudeAnalyzer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bandBins_data()
    {
        QTest::addColumn<int>("band");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::newRow("band 0") << 0 << 2 << 3;
        QTest::newRow("band 1") << 1 << 3 << 6;
        QTest::newRow("band 2") << 2 << 6 << 15;
        QTest::newRow("band 3") << 3 << 15 << 36;
        QTest::newRow("band 4") << 4 << 36 << 87;
        QTest::newRow("band 5") << 5 << 87 << 210;
        QTest::newRow("band 6") << 6 << 210 << 512;
    }

    void bandBins()
    {
        QFETCH(int, band);
        QFETCH(int, start);
        QFETCH(int, end);
        const auto bins = VoiceAmplitudeAnalyzer::bandBins(kSize);
        QCOMPARE(bins[size_t(band)], (VoiceAmplitudeAnalyzer::BinRange{start, end}));
    }

    void sequences_data()
    {
        QTest::addColumn<QStringList>("blocks");
        QTest::addColumn<float>("band4");
        QTest::addColumn<float>("peak");

        const float peak = toneBandValue(0.5f);
        QTest::newRow("silence from reset") << QStringList{QStringLiteral("silence")} << 0.0f << 0.01f * 0.985f;
        QTest::newRow("short block from reset") << QStringList{QStringLiteral("short")} << 0.0f << 0.01f;
        QTest::newRow("tone, one block") << QStringList{QStringLiteral("tone")} << 0.55f << peak;
        QTest::newRow("tone, two blocks") << QStringList{QStringLiteral("tone"), QStringLiteral("tone")} << 0.7975f
                                          << peak;
        QTest::newRow("reset starts afresh")
            << QStringList{QStringLiteral("tone"), QStringLiteral("tone"), QStringLiteral("reset"), QStringLiteral("tone")}
            << 0.55f << peak;
        QTest::newRow("short block changes nothing")
            << QStringList{QStringLiteral("tone"), QStringLiteral("short")} << 0.55f << peak;
        QTest::newRow("block with a NaN is dropped")
            << QStringList{QStringLiteral("tone"), QStringLiteral("nan")} << 0.55f << peak;
        QTest::newRow("silence after a tone decays")
            << QStringList{QStringLiteral("tone"), QStringLiteral("silence")} << 0.45f * 0.55f << peak * 0.985f;
        // Half the peak's loudness (against a peak that fell by 1.5 %) shows at about 0.71.
        QTest::newRow("quieter tone against the decaying peak")
            << QStringList{QStringLiteral("tone"), QStringLiteral("quiet tone")}
            << 0.55f * std::sqrt(0.5f / 0.985f) + 0.45f * 0.55f << peak * 0.985f;
    }

    void sequences()
    {
        QFETCH(QStringList, blocks);
        QFETCH(float, band4);
        QFETCH(float, peak);

        VoiceAmplitudeAnalyzer analyzer(kSize);
        VoiceAmplitudeAnalyzer::Levels levels{};
        for (const QString &name : blocks) {
            if (name == QLatin1String("reset")) {
                analyzer.reset();
                continue;
            }
            const std::vector<float> samples = block(name);
            levels = analyzer.analyze(samples.data(), name == QLatin1String("short") ? kSize - 1 : kSize);
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
    void refusesUnusableSizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("not a power of two") << 1000;
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -1024;
        QTest::newRow("two") << 2;
    }

    void refusesUnusableSizes()
    {
        QFETCH(int, size);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, VoiceAmplitudeAnalyzer{size});
    }
};

QTEST_GUILESS_MAIN(TestVoiceAmplitudeAnalyzer)
#include "tst_voice_amplitude_analyzer.moc"
