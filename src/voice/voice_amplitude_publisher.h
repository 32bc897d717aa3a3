#pragma once

#include "foundation/monotonic_clock.h"

#include <QList>
#include <QObject>

#include <functional>

namespace zapum {

// The latest seven voice-bar levels for the views, from the microphone while listening and from
// playback while speaking. Submissions are throttled to 30 a second; a submission that comes too
// soon is dropped, not queued, so the bars never lag behind the voice.
class VoiceAmplitudePublisher : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<float> levels READ levels WRITE setLevels NOTIFY levelsChanged)
public:
    static constexpr int kBandCount = 7;
    static constexpr double kPublishInterval = 1.0 / 30.0;

    // Seconds on a monotonic clock; replaceable so tests control time.
    using Clock = std::function<double()>;

    explicit VoiceAmplitudePublisher(QObject *parent = nullptr, Clock clock = &monotonicSeconds);

    QList<float> levels() const { return m_levels; }
    // Bypasses the throttle: used to drop the bars to zero when a capture or playback ends.
    void setLevels(const QList<float> &levels);
    void reset() { setLevels(QList<float>(kBandCount, 0.0f)); }

    // Accepted only with exactly seven entries and at least 1/30 s after the last accepted one;
    // each entry is clamped to [0, 1].
    void submit(const QList<float> &levels);

Q_SIGNALS:
    void levelsChanged();

private:
    Clock m_clock;
    QList<float> m_levels = QList<float>(kBandCount, 0.0f);
    double m_lastPublish = 0.0;
};

}  // namespace zapum
