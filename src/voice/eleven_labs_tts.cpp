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

#include <QCoro/QCoroTimer>

#include <algorithm>
#include <cmath>

namespace zapum {
namespace {

constexpr auto kBaseUrlVariable = "ZAPUM_ELEVENLABS_BASE_URL";

Failure cancelled()
{
    return transportFailure(TransportError::Cancelled);
}

}  // namespace

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

ElevenLabsTTS::~ElevenLabsTTS() = default;

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
    return serviceEndpoint(baseUrl, QStringLiteral("v1/text-to-speech/") + voiceId);
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

    const HttpResult result = co_await m_http->send(std::move(request));
    if (!self)
        co_return cancelled();
    if (!result) {
        qCInfo(lcVoice) << "speech request failed:" << result.failure().message;
        co_return result.failure();
    }
    const HttpResponse &response = result.value();
    if (!isSuccessStatus(response.status)) {
        qCInfo(lcVoice) << "speech request answered with status" << response.status;
        co_return replyFailure(response.body);
    }
    co_return co_await playMp3(response.body);
}

QCoro::Task<Status> ElevenLabsTTS::playMp3(QByteArray data)
{
    QPointer<ElevenLabsTTS> self(this);
    auto opened = m_output.openMp3(data);
    if (!opened)
        co_return opened.failure();
    std::unique_ptr<AudioClipPlayer> player = std::move(opened).value();
    const Status started = player->play();
    if (!started)
        co_return started.failure();

    const AudioClipPlayer *current = player.get();
    const auto wait = player->duration() + m_timing.playbackTail;
    m_player = std::move(player);
    startMetering();

    // Completion is timed by the clip's length; the device's own end notice comes late and
    // varies with the server's buffering. A coarse timer could end up to 5 % early and cut off
    // the last words.
    QTimer playbackEnd;
    playbackEnd.setSingleShot(true);
    playbackEnd.setTimerType(Qt::PreciseTimer);
    playbackEnd.start(wait);
    co_await playbackEnd;
    if (!self)
        co_return cancelled();

    // A newer utterance may have taken over meanwhile; its timer and bars are its own.
    if (m_player.get() == current) {
        m_meterTimer.stop();
        m_publisher.reset();
        m_player.reset();
    }
    if (onFinished)
        onFinished();
    co_return Done{};
}

void ElevenLabsTTS::startMetering()
{
    m_meterTimer.start();
}

void ElevenLabsTTS::meterTick()
{
    if (!m_player || !m_player->isPlaying())
        return;
    const double level = meterLevel(m_player->averagePowerDb());
    m_publisher.submit(meterBars(level, [] { return 0.85 + 0.3 * QRandomGenerator::global()->generateDouble(); }));
}

}  // namespace zapum
