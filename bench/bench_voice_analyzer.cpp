// Cost of one voice-bar analysis of a 1024-sample block, next to the bare KissFFT real transform
// of the same size measured in the same run. Prints `name value unit` lines.
#include "voice/voice_amplitude_analyzer.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int kSize = 1024;
constexpr int kIterations = 20000;
constexpr int kRounds = 7;

// Best of several rounds: other work on a shared machine only ever makes a round slower.
template <typename F>
double bestMicroseconds(F &&run)
{
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kIterations; ++i)
            run(i);
        const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / kIterations);
    }
    return best;
}

}  // namespace

int main()
{
    // Speech-like input: a few harmonics and some noise, varied per block.
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    std::vector<std::vector<float>> blocks(16, std::vector<float>(kSize));
    for (size_t b = 0; b < blocks.size(); ++b) {
        for (int n = 0; n < kSize; ++n) {
            const double t = double(n) / 48000.0;
            blocks[b][size_t(n)] = float(0.3 * std::sin(2 * std::numbers::pi * (180.0 + 10.0 * double(b)) * t) +
                                         0.1 * std::sin(2 * std::numbers::pi * 1400.0 * t)) +
                                   noise(random);
        }
    }

    zapum::VoiceAmplitudeAnalyzer analyzer(kSize);
    float sink = 0.0f;
    const double analyzerUs = bestMicroseconds([&](int i) {
        sink += analyzer.analyze(blocks[size_t(i) % blocks.size()].data(), kSize)[3];
    });

    kiss_fftr_cfg fft = kiss_fftr_alloc(kSize, 0, nullptr, nullptr);
    std::vector<kiss_fft_cpx> spectrum(kSize / 2 + 1);
    const double fftUs = bestMicroseconds([&](int i) {
        kiss_fftr(fft, blocks[size_t(i) % blocks.size()].data(), spectrum.data());
        sink += spectrum[40].r;
    });
    kiss_fftr_free(fft);

    std::printf("voice_analyzer_block %.3f us\n", analyzerUs);
    std::printf("kissfft_real_1024 %.3f us\n", fftUs);
    std::printf("voice_analyzer_over_kissfft %.2f x\n", analyzerUs / fftUs);
    return sink == 12345.0f ? 1 : 0;  // keeps the work from being optimised away
}
