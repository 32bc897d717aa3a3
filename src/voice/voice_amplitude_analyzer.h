#pragma once

#include <QtGlobal>

#include <array>
#include <vector>

struct kiss_fftr_state;

namespace zapum {

// Turns one block of microphone samples into seven band levels in [0, 1] for the voice bars: a
// Hann-windowed FFT, seven logarithmically spaced bands, normalised against a slowly decaying peak,
// lifted by a square root and smoothed over time. One instance per capture, reset at its start;
// not thread-safe. analyze() allocates nothing, so it may run on the audio path.
class VoiceAmplitudeAnalyzer {
public:
    static constexpr int kBandCount = 7;
    static constexpr float kAlpha = 0.55f;
    static constexpr float kInitialPeak = 0.01f;
    static constexpr float kPeakDecay = 0.985f;

    using Levels = std::array<float, kBandCount>;
    struct BinRange {
        int start = 0;
        int end = 0;  // exclusive
        bool operator==(const BinRange &) const = default;
    };

    // fftSize must be a power of two of at least 4; anything else throws std::invalid_argument.
    explicit VoiceAmplitudeAnalyzer(int fftSize = 1024);
    ~VoiceAmplitudeAnalyzer();
    VoiceAmplitudeAnalyzer(const VoiceAmplitudeAnalyzer &) = delete;
    VoiceAmplitudeAnalyzer &operator=(const VoiceAmplitudeAnalyzer &) = delete;

    int fftSize() const { return m_fftSize; }
    float rollingPeak() const { return m_rollingPeak; }
    const Levels &levels() const { return m_smoothed; }

    // Uses the first fftSize() of `count` mono samples. Fewer than fftSize() change nothing and
    // return the current levels.
    Levels analyze(const float *samples, qsizetype count);
    void reset();

    // Which FFT bins each band averages, for an FFT of `fftSize` samples.
    static std::array<BinRange, kBandCount> bandBins(int fftSize);

private:
    int m_fftSize;
    kiss_fftr_state *m_fft = nullptr;
    std::array<BinRange, kBandCount> m_bands;
    std::vector<float> m_window;
    std::vector<float> m_windowed;
    std::vector<float> m_magnitudes;
    std::vector<float> m_spectrum;  // fftSize / 2 + 1 complex values, interleaved
    Levels m_smoothed{};
    float m_rollingPeak = kInitialPeak;
};

}  // namespace zapum
