#include "voice/anthropic_voice_agent.h"

#include "foundation/logging.h"
#include "foundation/service_url.h"
#include "platform/platform_words.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QPointer>
#include <QStringList>
#include <QUuid>

#include <initializer_list>
#include <utility>

namespace zapum {
namespace {

const QString kDomain = QStringLiteral("Anthropic");
constexpr auto kBaseUrlVariable = "ZAPUM_ANTHROPIC_BASE_URL";

// Left alone, the model drifts to other capitalisations of the name, and whatever it writes is
// shown in the caption chip and read aloud; hence the spelling rule next to the pronunciation.
// The machine is named as this desktop names it, so the model never talks about a Mac on a PC.
QString instructions()
{
    return QStringLiteral(
               "  You are ZaPum, pronounced \"zah-pum\"."
               "   Whenever you introduce yourself or refer to yourself, always write your name as ZaPum, "
               "never as \"Zapum\", \"ZAPUM\" or \"Za Pum\", nor any other variant."
               "   You are a friendly desktop companion on the user's %1.   You help them switch between "
               "open apps, capture their screen, and occasionally click   at a coordinate when they ask. "
               "Keep spoken replies to one or two short sentences.   Always tell the user what you just did. "
               "If a tool is not available or fails, say so briefly.   Never click without being asked; "
               "never loop more than a couple of tool calls without speaking.")
        .arg(platformWords().computer);
}

QJsonObject tool(const char *name, const char *description, const QJsonObject &properties,
                 const QStringList &required)
{
    return QJsonObject{
        {QStringLiteral("name"), QLatin1String(name)},
        {QStringLiteral("description"), QLatin1String(description)},
        {QStringLiteral("input_schema"),
         QJsonObject{
             {QStringLiteral("type"), QStringLiteral("object")},
             {QStringLiteral("properties"), properties},
             {QStringLiteral("required"), QJsonArray::fromStringList(required)},
         }},
    };
}

QJsonObject typed(const char *type)
{
    return QJsonObject{{QStringLiteral("type"), QLatin1String(type)}};
}

QString keyRejected()
{
    return QStringLiteral("Anthropic key rejected. Re-paste it in Settings \u2192 Voice.");
}

QString rateLimited()
{
    return QStringLiteral("Anthropic rate limit hit \u2014 try again in a few seconds.");
}

bool containsAny(const QString &text, std::initializer_list<const char *> needles)
{
    for (const char *needle : needles)
        if (text.contains(QLatin1String(needle)))
            return true;
    return false;
}

}  // namespace

QUrl AnthropicVoiceAgent::defaultBaseUrl()
{
    return QUrl(QStringLiteral("https://api.anthropic.com/"));
}

QUrl AnthropicVoiceAgent::baseUrlFromEnvironment()
{
    return serviceBaseUrlFromEnvironment(kBaseUrlVariable, defaultBaseUrl());
}

QUrl AnthropicVoiceAgent::messagesEndpoint(const QUrl &baseUrl)
{
    return serviceEndpoint(baseUrl, QStringLiteral("v1/messages"));
}

AnthropicVoiceAgent::AnthropicVoiceAgent(QUrl baseUrl, HttpTimeouts timeouts, QObject *parent)
    : QObject(parent), m_baseUrl(std::move(baseUrl)), m_http(new HttpClient(timeouts, this))
{
}

AnthropicVoiceAgent::~AnthropicVoiceAgent() = default;

const QJsonArray &AnthropicVoiceAgent::tools()
{
    static const QJsonArray list = {
        tool("list_windows", "List on-screen windows and currently running regular apps.", {}, {}),
        tool("activate_app", "Bring an app to the front by exact name as reported by list_windows.",
             QJsonObject{{QStringLiteral("app_name"),
                          QJsonObject{{QStringLiteral("type"), QStringLiteral("string")},
                                      {QStringLiteral("description"), QStringLiteral("Human-readable app name.")}}}},
             {QStringLiteral("app_name")}),
        tool("capture_screen", "Take a snapshot of the main display.", {}, {}),
        tool("click", "Perform a single left click at screen coordinates.",
             QJsonObject{{QStringLiteral("x"), typed("number")}, {QStringLiteral("y"), typed("number")}},
             {QStringLiteral("x"), QStringLiteral("y")}),
        tool("speak", "Say something to the user as plain text.",
             QJsonObject{{QStringLiteral("text"), typed("string")}}, {QStringLiteral("text")}),
    };
    return list;
}

QString AnthropicVoiceAgent::systemPrompt(const VoiceAgentContext &context)
{
    QString prompt = instructions() + QStringLiteral("\n\nCurrent on-screen windows:\n") + context.windowsSummary
                     + QStringLiteral("\n\nRunning apps:\n") + context.appsSummary;
    if (!context.memoryText.isEmpty()) {
        prompt += QStringLiteral("\n\nWhat you remember about this user from past conversations (use only when "
                                 "genuinely relevant; do not announce that you \"remember\"):\n")
                  + context.memoryText;
    }
    return prompt;
}

QCoro::Task<Result<AnthropicVoiceAgent::Turn>> AnthropicVoiceAgent::run(QString apiKey, QString model,
                                                                        QJsonArray messages,
                                                                        VoiceAgentContext context)
{
    const QJsonObject body{
        {QStringLiteral("model"), model},
        {QStringLiteral("max_tokens"), kMaxTokens},
        {QStringLiteral("system"), systemPrompt(context)},
        {QStringLiteral("tools"), tools()},
        {QStringLiteral("messages"), messages},
    };

    HttpRequest request;
    request.method = "POST";
    request.url = messagesEndpoint(m_baseUrl);
    request.headers = {
        {"x-api-key", apiKey.toUtf8()},
        {"anthropic-version", "2023-06-01"},
        {"Content-Type", "application/json"},
    };
    // Qt's JSON writer cannot fail (non-finite numbers are written as null), so there is no
    // encoding error to report here.
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    request.deadline = kRequestDeadline;

    QPointer<AnthropicVoiceAgent> self(this);
    const HttpResult sent = co_await m_http->send(std::move(request));
    if (!self)
        co_return transportFailure(TransportError::Cancelled);

    if (!sent) {
        qCWarning(lcVoice) << "Anthropic request failed before a response, transport error" << sent.failure().code;
        co_return sent.failure();
    }
    const HttpResponse &response = sent.value();
    if (response.status == 0)
        co_return Failure{kDomain, -1, QStringLiteral("No HTTP response")};
    if (!isSuccessStatus(response.status)) {
        qCWarning(lcVoice) << "Anthropic answered with HTTP status" << response.status;
        co_return Failure{kDomain, response.status, humanize(response.body, response.status, model)};
    }

    Result<Turn> turn = parseReply(response.body);
    if (turn)
        qCDebug(lcVoice) << "Anthropic reply: HTTP" << response.status << "with" << turn.value().toolCalls.size()
                         << "tool calls, stop reason" << turn.value().stopReason;
    else
        qCWarning(lcVoice) << "Anthropic reply with HTTP status" << response.status << "could not be read";
    co_return std::move(turn);
}

void AnthropicVoiceAgent::cancel()
{
    m_http->cancelAll();
}

Result<AnthropicVoiceAgent::Turn> AnthropicVoiceAgent::parseReply(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return Failure{QStringLiteral("JSON"), int(error.error), error.errorString()};
    if (!document.isObject())
        return Failure{kDomain, 0, QStringLiteral("Bad JSON")};
    const QJsonObject reply = document.object();

    Turn turn;
    const QJsonValue stopReason = reply.value(QLatin1String("stop_reason"));
    turn.stopReason = stopReason.isString() ? stopReason.toString() : QStringLiteral("end_turn");

    // Only a list made entirely of objects counts; anything else is read as no content at all.
    const QJsonValue contentValue = reply.value(QLatin1String("content"));
    QJsonArray content = contentValue.toArray();
    for (const QJsonValue &block : std::as_const(content)) {
        if (!block.isObject()) {
            content = {};
            break;
        }
    }

    for (const QJsonValue &blockValue : std::as_const(content)) {
        const QJsonObject block = blockValue.toObject();
        const QString type = block.value(QLatin1String("type")).toString();
        if (type == QLatin1String("text")) {
            const QJsonValue text = block.value(QLatin1String("text"));
            if (text.isString())
                turn.text += text.toString();
        } else if (type == QLatin1String("tool_use")) {
            const QJsonValue id = block.value(QLatin1String("id"));
            VoiceAgentToolCall call;
            call.id = id.isString() ? id.toString() : QUuid::createUuid().toString(QUuid::WithoutBraces);
            call.name = block.value(QLatin1String("name")).toString();
            call.input = block.value(QLatin1String("input")).toObject();
            turn.toolCalls.append(std::move(call));
        }
    }
    return turn;
}

QString AnthropicVoiceAgent::humanize(const QByteArray &errorBody, int status, const QString &model)
{
    const QJsonDocument document = QJsonDocument::fromJson(errorBody);
    const QJsonValue errorValue = document.isObject() ? document.object().value(QLatin1String("error")) : QJsonValue();
    if (!errorValue.isObject()) {
        return QStringLiteral("Anthropic HTTP ") + QString::number(status)
               + QStringLiteral(" \u2014 check key and model in Settings \u2192 Voice.");
    }
    const QJsonObject error = errorValue.toObject();
    const QJsonValue typeValue = error.value(QLatin1String("type"));
    const QString type = typeValue.isString() ? typeValue.toString() : QStringLiteral("error");
    const QString message = error.value(QLatin1String("message")).toString();
    const QString combined = (type + QLatin1Char(' ') + message).toLower();

    // The order matters: an authentication error that names the model is about the model.
    if (combined.contains(QLatin1String("model")) && containsAny(combined, {"not found", "invalid", "does not exist"})) {
        return QStringLiteral("Claude model \u201C") + model
               + QStringLiteral("\u201D isn't available. Update it in Settings \u2192 Voice.");
    }
    if (containsAny(combined, {"authentication", "api key", "x-api-key"}))
        return keyRejected();
    if (status == 429)
        return rateLimited();
    if (status == 401)
        return keyRejected();
    if (combined.contains(QLatin1String("rate")))
        return rateLimited();
    if (message.isEmpty())
        return QStringLiteral("Anthropic ") + type + QStringLiteral(" (HTTP ") + QString::number(status)
               + QStringLiteral(").");
    return message;
}

}  // namespace zapum
