#include "voice/sample_rate_converter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace zapum {

namespace {

// Zero crossings of the sinc on each side. With the Blackman window (about 74 dB of stop band) and
// the cut-off below, what folds back lands above 7 kHz, where the recogniser's features end; the
// cost is about 100 multiply-adds per output sample from 48 kHz.
constexpr double kZeroCrossings = 16.0;
// The cut-off, as a fraction of the lower Nyquist frequency.
constexpr double kRolloff = 0.95;
constexpr int kTableStepsPerSample = 512;

}  // namespace

SampleRateConverter::SampleRateConverter(int inputRate, int outputRate)
    : m_inputRate(inputRate), m_outputRate(outputRate), m_passThrough(inputRate == outputRate)
{
    if (inputRate <= 0 || outputRate <= 0)
        throw std::invalid_argument("SampleRateConverter: sample rates must be positive");
    if (m_passThrough)
        return;
    m_cutoff = 0.5 * kRolloff * std::min(1.0, double(outputRate) / inputRate);
    m_halfWidth = kZeroCrossings / (2.0 * m_cutoff);
    m_reach = int(std::ceil(m_halfWidth));
    // One side of the symmetric kernel, sampled finely; in between, linear interpolation.
    m_table.resize(size_t(m_reach * kTableStepsPerSample + 2));
    for (size_t i = 0; i < m_table.size(); ++i) {
        const double x = double(i) / kTableStepsPerSample;
        if (x >= m_halfWidth) {
            m_table[i] = 0.0f;
            continue;
        }
        const double arg = 2.0 * m_cutoff * x;
        const double sinc = arg == 0.0 ? 1.0 : std::sin(std::numbers::pi * arg) / (std::numbers::pi * arg);
        const double phase = std::numbers::pi * x / m_halfWidth;
        const double blackman = 0.42 + 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
        m_table[i] = float(2.0 * m_cutoff * sinc * blackman);
    }
    reset();
}

void SampleRateConverter::reset()
{
    if (m_passThrough)
        return;
    // Silence before the first sample, so the first output is centred on it.
    m_history.assign(size_t(m_reach), 0.0f);
    m_position = m_reach;
    m_fraction = 0;
    m_realEnd = m_reach;
}

float SampleRateConverter::kernel(double offset) const
{
    const double at = std::abs(offset) * kTableStepsPerSample;
    const auto index = size_t(at);
    if (index + 1 >= m_table.size())
        return 0.0f;
    const float weight = float(at - double(index));
    return m_table[index] + weight * (m_table[index + 1] - m_table[index]);
}

float SampleRateConverter::interpolate() const
{
    const double t = double(m_position) + double(m_fraction) / m_outputRate;
    float sum = 0.0f;
    for (qint64 n = m_position - m_reach; n <= m_position + m_reach; ++n)
        sum += m_history[size_t(n)] * kernel(t - double(n));
    return sum;
}

void SampleRateConverter::advance()
{
    m_fraction += m_inputRate;
    m_position += m_fraction / m_outputRate;
    m_fraction %= m_outputRate;
}

void SampleRateConverter::emitReady(qsizetype available, std::vector<float> &output)
{
    while (m_position + m_reach < available) {
        output.push_back(interpolate());
        advance();
    }
    // Keep only what later outputs can still reach.
    const qint64 drop = std::min<qint64>(m_position - m_reach, qint64(m_history.size()));
    if (drop > 0) {
        m_history.erase(m_history.begin(), m_history.begin() + drop);
        m_position -= drop;
        m_realEnd -= drop;
    }
}

void SampleRateConverter::process(const float *input, qsizetype count, std::vector<float> &output)
{
    if (m_passThrough) {
        output.insert(output.end(), input, input + count);
        return;
    }
    m_history.insert(m_history.end(), input, input + count);
    m_realEnd = qint64(m_history.size());
    emitReady(qsizetype(m_history.size()), output);
}

void SampleRateConverter::flush(std::vector<float> &output)
{
    if (m_passThrough)
        return;
    const qint64 realEnd = m_realEnd;
    m_history.resize(m_history.size() + size_t(m_reach) + 1, 0.0f);
    while (m_position < realEnd) {
        output.push_back(interpolate());
        advance();
    }
    reset();
}

}  // namespace zapum
