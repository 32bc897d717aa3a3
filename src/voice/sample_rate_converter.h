#pragma once

#include <QtGlobal>

#include <vector>

namespace zapum {

// Streaming conversion of mono float samples between two sample rates with a windowed-sinc
// low-pass, so a 44.1 or 48 kHz microphone can feed a 16 kHz recogniser without folding the
// upper frequencies back into the speech band. Output sample j is the input signal at time
// j / outputRate; equal rates pass samples through untouched.
class SampleRateConverter {
public:
    SampleRateConverter(int inputRate, int outputRate);

    int inputRate() const { return m_inputRate; }
    int outputRate() const { return m_outputRate; }

    // Appends every output sample that the input seen so far fully determines.
    void process(const float *input, qsizetype count, std::vector<float> &output);
    // Appends the remaining output up to the end of the input seen so far, then starts afresh.
    void flush(std::vector<float> &output);
    void reset();

private:
    float kernel(double offset) const;
    float interpolate() const;
    void advance();
    void emitReady(qsizetype available, std::vector<float> &output);

    int m_inputRate;
    int m_outputRate;
    bool m_passThrough;
    double m_cutoff = 0.0;     // cycles per input sample
    double m_halfWidth = 0.0;  // kernel reach, in input samples
    int m_reach = 0;           // m_halfWidth rounded up
    std::vector<float> m_table;
    std::vector<float> m_history;
    qint64 m_position = 0;    // whole input samples into m_history
    qint64 m_fraction = 0;    // plus m_fraction / m_outputRate of one
    qint64 m_realEnd = 0;     // samples of m_history that came from the input
};

}  // namespace zapum
