#pragma once

#include "platform/audio_output.h"

#include <QElapsedTimer>

#include <chrono>

namespace zapum::test {

// Plays nothing, for a clip's length: whatever bytes come in count as a clip of `clipLength`.
class FakeAudioOutput final : public AudioOutput {
public:
    class Player final : public AudioClipPlayer {
    public:
        explicit Player(std::chrono::milliseconds length) : m_length(length) {}
        std::chrono::milliseconds duration() const override { return m_length; }
        Status play() override
        {
            m_clock.start();
            return Done{};
        }
        bool isPlaying() const override { return m_clock.isValid() && m_clock.elapsed() < m_length.count(); }
        double averagePowerDb() const override { return isPlaying() ? -12.0 : kSilenceDb; }

    private:
        std::chrono::milliseconds m_length;
        QElapsedTimer m_clock;
    };

    Result<std::unique_ptr<AudioClipPlayer>> openMp3(const QByteArray &mp3) override
    {
        ++clipsOpened;
        lastClip = mp3;
        return std::unique_ptr<AudioClipPlayer>(std::make_unique<Player>(clipLength));
    }

    std::chrono::milliseconds clipLength{20};
    int clipsOpened = 0;
    QByteArray lastClip;
};

}  // namespace zapum::test
