#pragma once

#include "platform/audio_output.h"

#include <QTimer>

#include <chrono>

namespace zapum::test {

// Plays nothing, for a clip's length: whatever bytes come in count as a clip of `clipLength`,
// "heard" from the end of the stream on.
class FakeAudioOutput final : public AudioOutput {
public:
    class Player final : public AudioStreamPlayer {
    public:
        explicit Player(FakeAudioOutput &output) : m_output(output)
        {
            m_end.setSingleShot(true);
            connect(&m_end, &QTimer::timeout, this, &AudioStreamPlayer::ended);
        }
        Status append(QByteArrayView mp3) override
        {
            m_output.lastClip += mp3;
            return Done{};
        }
        Status finish() override
        {
            if (m_output.lastClip.isEmpty())
                return Failure{QLatin1String(kAudioDomain), int(AudioFailure::Undecodable), QStringLiteral("No audio.")};
            m_end.start(m_output.clipLength);
            return Done{};
        }
        void stop() override
        {
            ++m_output.stops;
            m_end.stop();
        }
        bool isPlaying() const override { return m_end.isActive(); }
        double averagePowerDb() const override { return isPlaying() ? -12.0 : kSilenceDb; }
        int underruns() const override { return 0; }
        std::optional<Failure> outputFailure() const override { return std::nullopt; }

    private:
        FakeAudioOutput &m_output;
        QTimer m_end;
    };

    std::unique_ptr<AudioStreamPlayer> createPlayer() override
    {
        ++clipsOpened;
        lastClip.clear();
        return std::make_unique<Player>(*this);
    }

    std::chrono::milliseconds clipLength{20};
    int clipsOpened = 0;
    int stops = 0;  // utterances cut off
    QByteArray lastClip;
};

}  // namespace zapum::test
