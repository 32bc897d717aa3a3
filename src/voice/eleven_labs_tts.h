#pragma once

#include "foundation/failure.h"
#include "foundation/http_client.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace zapum {

class AudioOutput;
class AudioStreamPlayer;
class VoiceAmplitudePublisher;

struct ElevenLabsTiming {
    HttpTimeouts http{std::chrono::seconds(30), std::chrono::seconds(60)};
    std::chrono::milliseconds requestDeadline{std::chrono::seconds(60)};
    // Just over 1/30 s: the publisher drops anything sooner than 1/30 s after the last
    // accepted levels, and a tick a hair early would be thrown away.
    std::chrono::milliseconds meterInterval{35};
};

// Speaks reply texts: asks the ElevenLabs text-to-speech service for MP3 audio, plays it while it
// is still arriving, and drives the voice bars from the level of what is being heard.
class ElevenLabsTTS : public QObject {
    Q_OBJECT
public:
    static inline const QString kDomain = QStringLiteral("ElevenLabs");
    static inline const QString kModelId = QStringLiteral("eleven_turbo_v2_5");
    static constexpr double kStability = 0.5;
    static constexpr double kSimilarityBoost = 0.75;

    static QUrl defaultBaseUrl();
    // The vendor's host unless ZAPUM_ELEVENLABS_BASE_URL names another http(s) URL.
    static QUrl baseUrlFromEnvironment();

    ElevenLabsTTS(VoiceAmplitudePublisher &publisher, AudioOutput &output, QUrl baseUrl = defaultBaseUrl(),
                  ElevenLabsTiming timing = {}, QObject *parent = nullptr);
    ~ElevenLabsTTS() override;

    // Returns once the whole text has been heard, or at once for a blank text. When the request
    // fails before any audio came, nothing is played and the bars are left alone; when the
    // stream breaks off, what arrived is played out first and then the failure returned.
    QCoro::Task<Status> speak(QString text, QString voiceId, QString apiKey);
    // Cuts off the utterance in progress: its request is aborted, the sound stops at once and
    // the bars drop to zero; its speak() returns as cancelled. Nothing happens when silent.
    void stop();

    // Called after every speak that ends normally.
    std::function<void()> onFinished;

    // The utterance now requested or playing, if any.
    const AudioStreamPlayer *player() const { return m_player.get(); }
    bool isMetering() const { return m_meterTimer.isActive(); }

    // The product name as a speech engine should say it.
    static inline const QString kSpokenName = QStringLiteral("Zah-pum");
    // Replaces the product name where it stands as a word in one of its usual spellings.
    static QString fixPronunciation(const QString &text);
    // Why a voice id cannot go into the request path, or nothing when it can.
    static std::optional<Failure> voiceIdProblem(const QString &voiceId);
    // The streaming variant of the speech call: the same request, audio sent as it is made.
    static QUrl endpoint(const QUrl &baseUrl, const QString &voiceId);
    static QByteArray requestBody(const QString &text);
    // The failure for a reply outside 2xx: its body as text, or a fixed sentence.
    static Failure replyFailure(const QByteArray &body);

    // Bar height for a mean power: the power clamped to -60…0 dB, as the square root of its
    // amplitude, so the floor reads about 0.0316 and full scale 1.
    static double meterLevel(double powerDb);
    // Seven bars: the level shaped by a bell around the middle bar, times a jitter drawn per bar
    // from `jitter` (expected in 0.85…1.15), each clamped to 0…1.
    static QList<float> meterBars(double level, const std::function<double()> &jitter);

private:
    class PlaybackWait;

    void meterTick();
    // Lets go of the utterance's player without touching the bars.
    void dropPlayer(const AudioStreamPlayer *player);

    VoiceAmplitudePublisher &m_publisher;
    AudioOutput &m_output;
    QUrl m_baseUrl;
    ElevenLabsTiming m_timing;
    std::unique_ptr<AudioStreamPlayer> m_player;
    PlaybackWait *m_wait = nullptr;  // of the utterance waiting for its end
    quint64 m_utterance = 0;         // counts speaks and stops, so a woken speak knows it was cut off
    QTimer m_meterTimer;
    HttpClient *m_http;
};

}  // namespace zapum
