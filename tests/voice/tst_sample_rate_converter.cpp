#include "voice/sample_rate_converter.h"

#include <QTest>

#include <cmath>
#include <numbers>
#include <vector>

using namespace zapum;

namespace {

std::vector<float> sine(double frequency, int rate, double seconds, float amplitude = 0.5f)
{
    std::vector<float> samples(size_t(seconds * rate));
    for (size_t n = 0; n < samples.size(); ++n)
        samples[n] = amplitude * float(std::sin(2.0 * std::numbers::pi * frequency * double(n) / rate));
    return samples;
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

class TestSampleRateConverter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tones_data()
    {
        QTest::addColumn<int>("inputRate");
        QTest::addColumn<double>("frequency");
        QTest::addColumn<double>("expectedAmplitude");
        QTest::addColumn<double>("tolerance");

        QTest::newRow("48 kHz, 5.5 kHz kept") << 48000 << 5500.0 << 0.5 << 0.01;
        QTest::newRow("8 kHz up, 1 kHz kept") << 8000 << 1000.0 << 0.5 << 0.01;
        QTest::newRow("16 kHz passes through") << 16000 << 1000.0 << 0.5 << 1e-6;
        // Would fold back to 6 kHz and 4 kHz, right into what the recogniser listens to.
        QTest::newRow("48 kHz, 10 kHz removed") << 48000 << 10000.0 << 0.0 << 0.001;
        QTest::newRow("44.1 kHz, 12 kHz removed") << 44100 << 12000.0 << 0.0 << 0.001;
    }

    void tones()
    {
        QFETCH(int, inputRate);
        QFETCH(double, frequency);
        QFETCH(double, expectedAmplitude);
        QFETCH(double, tolerance);

        SampleRateConverter converter(inputRate, 16000);
        const std::vector<float> output = convert(converter, sine(frequency, inputRate, 1.0), 1024);
        QVERIFY2(std::abs(qsizetype(output.size()) - 16000) <= 1, qPrintable(QString::number(output.size())));
        // Where the tone is kept, it is kept at its own frequency, not somewhere else.
        const double measuredFrequency = frequency < 8000 ? frequency : 16000.0 - std::fmod(frequency, 16000.0);
        const double amplitude = amplitudeAt(output, measuredFrequency, 16000);
        QVERIFY2(std::abs(amplitude - expectedAmplitude) <= tolerance, qPrintable(QString::number(amplitude)));
    }

    // A capture hands over audio in whatever pieces the audio server chose; the result must not
    // depend on them.
    void chunkingDoesNotMatter()
    {
        for (const auto &[rate, chunk] : {std::pair{48000, size_t(1)}, std::pair{44100, size_t(17)}}) {
            const std::vector<float> input = sine(440.0, rate, 0.3);
            SampleRateConverter whole(rate, 16000);
            SampleRateConverter pieces(rate, 16000);
            QCOMPARE(convert(pieces, input, chunk), convert(whole, input, input.size()));
        }
    }
};

QTEST_GUILESS_MAIN(TestSampleRateConverter)
#include "tst_sample_rate_converter.moc"
