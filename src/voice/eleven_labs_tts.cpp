#include "voice/eleven_labs_tts.h"

#include "foundation/logging.h"
#include "foundation/service_url.h"
#include "platform/audio_output.h"
#include "voice/voice_amplitude_publisher.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringDecoder>


#include <algorithm>
#include <cmath>
#include <coroutine>
#include <memory>

namespace zapum {
namespace {

constexpr auto kBaseUrlVariable = "ZAPUM_ELEVENLABS_BASE_URL";

Failure cancelled()
{
    return transportFailure(TransportError::Cancelled);
}

}  // namespace

// Resumes the speak that waits on it once its player has ended, or once it is let go of (a stop,
// the service going away). Lives in that speak's own frame.
class ElevenLabsTTS::PlaybackWait : public QObject {
public:
    struct Awaiter {
        PlaybackWait *wait;
        bool await_ready() const noexcept { return wait->m_released; }
        void await_suspend(std::coroutine_handle<> waiter) const noexcept { wait->m_waiter = waiter; }
        void await_resume() const noexcept {}
    };
    Awaiter operator co_await() { return Awaiter{this}; }

    // On the next event-loop pass, never inside the caller's own call.
    void release()
    {
        if (std::exchange(m_released, true))
            return;
        if (m_waiter)
            QMetaObject::invokeMethod(this, [this] { std::exchange(m_waiter, {}).resume(); }, Qt::QueuedConnection);
    }

private:
    bool m_released = false;
    std::coroutine_handle<> m_waiter;
};

QUrl ElevenLabsTTS::defaultBaseUrl()
{
    return QUrl(QStringLiteral("https://api.elevenlabs.io/"));
}

QUrl ElevenLabsTTS::baseUrlFromEnvironment()
{
    return serviceBaseUrlFromEnvironment(kBaseUrlVariable, defaultBaseUrl());
}

ElevenLabsTTS::ElevenLabsTTS(VoiceAmplitudePublisher &publisher, AudioOutput &output, QUrl baseUrl,
                             ElevenLabsTiming timing, QObject *parent)
    : QObject(parent), m_publisher(publisher), m_output(output), m_baseUrl(std::move(baseUrl)), m_timing(timing),
      m_http(new HttpClient(timing.http, this))
{
    m_meterTimer.setTimerType(Qt::PreciseTimer);
    m_meterTimer.setInterval(m_timing.meterInterval);
    connect(&m_meterTimer, &QTimer::timeout, this, &ElevenLabsTTS::meterTick);
}

ElevenLabsTTS::~ElevenLabsTTS()
{
    // A speak still waiting for its sound to end wakes up, finds us gone and returns.
    if (PlaybackWait *wait = std::exchange(m_wait, nullptr))
        wait->release();
}

QString ElevenLabsTTS::fixPronunciation(const QString &text)
{
    // Unicode word rules, so that the name run together with accented letters stays as it is.
    static const QRegularExpression name(QStringLiteral("\\b(ZaPum|Zapum|ZAPUM|zapum)\\b"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    if (!name.isValid())
        return text;
    QString fixed = text;
    return fixed.replace(name, kSpokenName);
}

std::optional<Failure> ElevenLabsTTS::voiceIdProblem(const QString &voiceId)
{
    // The id becomes the last path segment of a request that carries the API key. Anything that
    // could leave that segment (a slash, a query or fragment, an escape, a dot segment) or that
    // a URL cannot hold (white space, control characters) would send the key somewhere else.
    const bool unsafe = voiceId.isEmpty() || voiceId == QLatin1String(".") || voiceId == QLatin1String("..") ||
                        std::any_of(voiceId.begin(), voiceId.end(), [](QChar c) {
                            return c.isSpace() || c.category() == QChar::Other_Control || c == u'/' || c == u'\\' ||
                                   c == u'?' || c == u'#' || c == u'%';
                        });
    if (!unsafe)
        return std::nullopt;
    return Failure{kDomain, 0,
                   QStringLiteral("The ElevenLabs voice id in Settings \u2192 Voice is not valid \u2014 paste the id "
                                  "alone, without spaces, slashes or the characters ?, # and %.")};
}

QUrl ElevenLabsTTS::endpoint(const QUrl &baseUrl, const QString &voiceId)
{
    return serviceEndpoint(baseUrl, QStringLiteral("v1/text-to-speech/") + voiceId + QStringLiteral("/stream"));
}

QByteArray ElevenLabsTTS::requestBody(const QString &text)
{
    const QJsonObject body{
        {QStringLiteral("text"), text},
        {QStringLiteral("model_id"), kModelId},
        {QStringLiteral("voice_settings"),
         QJsonObject{{QStringLiteral("stability"), kStability}, {QStringLiteral("similarity_boost"), kSimilarityBoost}}},
    };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

Failure ElevenLabsTTS::replyFailure(const QByteArray &body)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(body);
    // An empty body would leave the user with an empty error line.
    if (decoder.hasError() || text.trimmed().isEmpty())
        return Failure{kDomain, 0, QStringLiteral("tts failed")};
    return Failure{kDomain, 0, text};
}

double ElevenLabsTTS::meterLevel(double powerDb)
{
    const double clamped = std::clamp(powerDb, -60.0, 0.0);
    return std::sqrt(std::pow(10.0, clamped / 20.0));
}

QList<float> ElevenLabsTTS::meterBars(double level, const std::function<double()> &jitter)
{
    QList<float> bars;
    bars.reserve(7);
    for (int i = 0; i < 7; ++i) {
        const double weight = std::exp(-double((i - 3) * (i - 3)) / 6.0);
        bars.append(float(std::clamp(level * weight * jitter(), 0.0, 1.0)));
    }
    return bars;
}

QCoro::Task<Status> ElevenLabsTTS::speak(QString text, QString voiceId, QString apiKey)
{
    QPointer<ElevenLabsTTS> self(this);
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        if (onFinished)
            onFinished();
        co_return Done{};
    }
    if (auto problem = voiceIdProblem(voiceId)) {
        qCWarning(lcVoice) << "speech refused: the voice id cannot form a request path";
        co_return *problem;
    }

    // One voice at a time: an earlier utterance still going is cut off.
    stop();
    const quint64 utterance = m_utterance;
    m_player = m_output.createPlayer();
    AudioStreamPlayer *player = m_player.get();

    // The first failure to take the audio (not MP3, no output device) sticks; the rest of the
    // body is then ignored.
    auto refused = std::make_shared<std::optional<Failure>>();
    HttpRequest request;
    request.method = "POST";
    request.url = endpoint(m_baseUrl, voiceId);
    request.headers = {
        {"xi-api-key", apiKey.toUtf8()},
        {"accept", "audio/mpeg"},
        {"Content-Type", "application/json"},
    };
    request.body = requestBody(fixPronunciation(trimmed));
    request.deadline = m_timing.requestDeadline;
    request.onBody = [target = QPointer<AudioStreamPlayer>(player), refused](const QByteArray &bytes) {
        AudioStreamPlayer *const into = target.data();
        if (!into || refused->has_value())
            return;
        if (const Status taken = into->append(bytes); !taken)
            *refused = taken.failure();
    };
    m_meterTimer.start();

    const HttpResult result = co_await m_http->send(std::move(request));
    if (!self || utterance != m_utterance)
        co_return cancelled();
    std::optional<Failure> failure;
    if (!result) {
        qCInfo(lcVoice) << "speech request failed:" << result.failure().message;
        failure = result.failure();
    } else if (!isSuccessStatus(result.value().status)) {
        qCInfo(lcVoice) << "speech request answered with status" << result.value().status;
        dropPlayer(player);
        co_return replyFailure(result.value().body);
    } else if (*refused) {
        dropPlayer(player);
        co_return **refused;
    }

    // Whatever arrived plays out, also when the stream broke off; a stream that held no audio
    // plays nothing and says why, unless the network's failure says more.
    PlaybackWait wait;
    connect(player, &AudioStreamPlayer::ended, &wait, &PlaybackWait::release);
    if (const Status finished = player->finish(); !finished) {
        dropPlayer(player);
        co_return failure ? *failure : finished.failure();
    }
    m_wait = &wait;
    co_await wait;
    if (!self)
        co_return cancelled();
    if (m_wait == &wait)
        m_wait = nullptr;
    if (utterance != m_utterance)
        co_return cancelled();

    if (!failure)
        failure = player->outputFailure();
    m_meterTimer.stop();
    m_publisher.reset();
    m_player.reset();
    if (failure)
        co_return *failure;
    if (onFinished)
        onFinished();
    co_return Done{};
}

void ElevenLabsTTS::dropPlayer(const AudioStreamPlayer *player)
{
    if (m_player.get() != player)
        return;
    m_meterTimer.stop();
    m_player.reset();
}

void ElevenLabsTTS::stop()
{
    ++m_utterance;
    m_http->cancelAll();
    m_meterTimer.stop();
    if (m_player) {
        m_player->stop();
        m_player.reset();
        m_publisher.reset();
    }
    if (PlaybackWait *wait = std::exchange(m_wait, nullptr))
        wait->release();
}

void ElevenLabsTTS::meterTick()
{
    if (!m_player || !m_player->isPlaying())
        return;
    const double level = meterLevel(m_player->averagePowerDb());
    m_publisher.submit(meterBars(level, [] { return 0.85 + 0.3 * QRandomGenerator::global()->generateDouble(); }));
}

}  // namespace zapum
