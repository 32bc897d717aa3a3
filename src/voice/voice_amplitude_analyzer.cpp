#include "voice/voice_amplitude_analyzer.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace zapum {

namespace {

// The window is scaled to unit mean square, so a windowed block keeps the loudness of the raw one.
constexpr double kHannScale = 0.8165;

bool isPowerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

}  // namespace

std::array<VoiceAmplitudeAnalyzer::BinRange, VoiceAmplitudeAnalyzer::kBandCount>
VoiceAmplitudeAnalyzer::bandBins(int fftSize)
{
    const int half = fftSize / 2;
    // Single precision, as the bars were tuned with: a band edge that moves by one bin changes
    // what a band shows.
    const float top = float(half - 1);
    std::array<BinRange, kBandCount> bands;
    for (int i = 0; i < kBandCount; ++i) {
        const int lo = int(std::pow(top, float(i) / float(kBandCount))) + 1;
        const int hi = int(std::pow(top, float(i + 1) / float(kBandCount))) + 1;
        const int start = std::max(std::min(lo, half - 1), 1);
        const int end = std::max(std::min(hi, half), start + 1);
        bands[size_t(i)] = {start, end};
    }
    return bands;
}

VoiceAmplitudeAnalyzer::VoiceAmplitudeAnalyzer(int fftSize) : m_fftSize(fftSize)
{
    // Below 4 samples the packed spectrum has no bin between DC and Nyquist to put a band on.
    if (!isPowerOfTwo(fftSize) || fftSize < 4)
        throw std::invalid_argument("VoiceAmplitudeAnalyzer: the FFT size must be a power of two, at least 4");
    m_fft = kiss_fftr_alloc(fftSize, 0, nullptr, nullptr);
    if (!m_fft)
        throw std::bad_alloc();
    m_bands = bandBins(fftSize);
    m_window.resize(size_t(fftSize));
    for (int n = 0; n < fftSize; ++n)
        m_window[size_t(n)] = float(kHannScale * (1.0 - std::cos(2.0 * std::numbers::pi * n / fftSize)));
    m_windowed.resize(size_t(fftSize));
    m_magnitudes.resize(size_t(fftSize / 2));
    m_spectrum.resize(size_t(fftSize / 2 + 1) * 2);
}

VoiceAmplitudeAnalyzer::~VoiceAmplitudeAnalyzer()
{
    kiss_fftr_free(m_fft);
}

void VoiceAmplitudeAnalyzer::reset()
{
    m_smoothed.fill(0.0f);
    m_rollingPeak = kInitialPeak;
}

VoiceAmplitudeAnalyzer::Levels VoiceAmplitudeAnalyzer::analyze(const float *samples, qsizetype count)
{
    if (count < m_fftSize)
        return m_smoothed;

    for (size_t n = 0; n < m_windowed.size(); ++n)
        m_windowed[n] = samples[n] * m_window[n];

    static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float));
    auto *spectrum = reinterpret_cast<kiss_fft_cpx *>(m_spectrum.data());
    kiss_fftr(m_fft, m_windowed.data(), spectrum);

    // The levels were tuned against a packed real FFT whose bins read twice the textbook |X[k]|;
    // keep that scale so the peak decay and the curve behave as tuned. Bin 0 (DC and Nyquist) is
    // never part of a band.
    const int firstBin = m_bands.front().start;
    const int endBin = m_bands.back().end;
    for (int k = firstBin; k < endBin; ++k) {
        const float re = spectrum[k].r;
        const float im = spectrum[k].i;
        m_magnitudes[size_t(k)] = 2.0f * std::sqrt(re * re + im * im);
    }

    Levels bands;
    for (size_t i = 0; i < bands.size(); ++i) {
        float sum = 0.0f;
        for (int k = m_bands[i].start; k < m_bands[i].end; ++k)
            sum += m_magnitudes[size_t(k)];
        bands[i] = sum / float(m_bands[i].end - m_bands[i].start);
    }

    // A block with a NaN or infinity (a misbehaving driver) would poison the peak, and with it
    // every later block of the capture; drop it instead.
    float loudest = 0.0f;
    for (float band : bands) {
        if (!std::isfinite(band))
            return m_smoothed;
        loudest = std::max(loudest, band);
    }
    m_rollingPeak = std::max(m_rollingPeak * kPeakDecay, loudest);
    const float inversePeak = m_rollingPeak > 0.0f ? 1.0f / m_rollingPeak : 1.0f;
    for (size_t i = 0; i < bands.size(); ++i) {
        const float level = std::sqrt(std::min(bands[i] * inversePeak, 1.0f));
        m_smoothed[i] = kAlpha * level + (1.0f - kAlpha) * m_smoothed[i];
    }
    return m_smoothed;
}

}  // namespace zapum
