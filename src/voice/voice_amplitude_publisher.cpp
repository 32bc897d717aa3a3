#include "voice/voice_amplitude_publisher.h"

#include <algorithm>

namespace zapum {

VoiceAmplitudePublisher::VoiceAmplitudePublisher(QObject *parent, Clock clock)
    : QObject(parent), m_clock(std::move(clock))
{
}

void VoiceAmplitudePublisher::setLevels(const QList<float> &levels)
{
    if (m_levels == levels)
        return;
    m_levels = levels;
    Q_EMIT levelsChanged();
}

void VoiceAmplitudePublisher::submit(const QList<float> &levels)
{
    if (levels.size() != kBandCount)
        return;
    const double now = m_clock();
    if (now - m_lastPublish < kPublishInterval)
        return;
    m_lastPublish = now;
    QList<float> clamped(kBandCount);
    std::transform(levels.begin(), levels.end(), clamped.begin(),
                   [](float level) { return std::max(std::min(level, 1.0f), 0.0f); });
    setLevels(clamped);
}

}  // namespace zapum
