#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

namespace zapum::test {

// The test session's microphone: a FIFO that PulseAudio reads as the source zapum_mic, 16 kHz mono
// 16-bit. Audio written here reaches a recorder only while one records, and as fast as it is
// written, so play() paces it like a person speaking.
class FifoMicrophone {
public:
    static constexpr int kSampleRate = 16000;
    using Clock = std::chrono::steady_clock;

    // Whether the test session provides the microphone (ZAPUM_TEST_MIC_FIFO).
    static bool available();
    // Speech from flite's voice (rms, awb or slt) as 16 kHz mono 16-bit samples; empty when
    // flite or sox failed.
    static QByteArray speak(const QString &text, const QString &voice);
    static QByteArray silence(double seconds) { return QByteArray(qsizetype(seconds * kSampleRate) * 2, '\0'); }

    FifoMicrophone();
    ~FifoMicrophone();
    FifoMicrophone(const FifoMicrophone &) = delete;
    FifoMicrophone &operator=(const FifoMicrophone &) = delete;

    // Starts writing the samples in real time on a thread of its own.
    void play(QByteArray samples);
    // Spins the caller's event loop until everything was written.
    bool waitUntilPlayed(std::chrono::milliseconds timeout);
    // When playing began; the sample at offset n was written n / 16000 s later, or up to 20 ms after.
    Clock::time_point startedAt() const { return m_startedAt; }

private:
    void write(QByteArray samples);
    void join();

    int m_fd = -1;
    std::thread m_writer;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{true};
    Clock::time_point m_startedAt;
};

}  // namespace zapum::test
