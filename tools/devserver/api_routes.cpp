// The JSON endpoints the desktop app calls.
#include "dev_server.h"
#include "guidance_document.h"
#include "http_util.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace zapum::devserver {
namespace {

// The desktop reads issuedAt as seconds since 2001-01-01 00:00:00 UTC.
constexpr double kReferenceDateInUnixSeconds = 978307200.0;
constexpr int kDefaultSearchLimit = 6;
constexpr int kMaxSearchLimit = 50;
constexpr int kAskMemoryLines = 3;

// A required text member, or nullopt after answering 400.
std::optional<QString> requiredText(const QJsonObject &body, const char *key, httplib::Response &response)
{
    const QJsonValue value = body.value(QLatin1String(key));
    if (!value.isString()) {
        sendError(response, 400,
                  QStringLiteral("%1 %2.").arg(QLatin1String(key), value.isUndefined()
                                                                       ? QStringLiteral("is missing")
                                                                       : QStringLiteral("must be a text")));
        return std::nullopt;
    }
    return value.toString();
}

std::optional<QString> requiredNonBlank(const QJsonObject &body, const char *key, httplib::Response &response)
{
    std::optional<QString> text = requiredText(body, key, response);
    if (text && text->trimmed().isEmpty()) {
        sendError(response, 400, QStringLiteral("%1 must not be empty.").arg(QLatin1String(key)));
        return std::nullopt;
    }
    return text;
}

QJsonObject sessionJson(const User &user, const QString &accessToken, const QString &apiBase, double now)
{
    return QJsonObject{{QStringLiteral("userId"), user.id},
                       {QStringLiteral("email"), user.email},
                       {QStringLiteral("accessToken"), accessToken},
                       {QStringLiteral("apiBaseURL"), apiBase},
                       {QStringLiteral("issuedAt"), now - kReferenceDateInUnixSeconds}};
}

QString exchangeRefusal(Redeem outcome)
{
    switch (outcome) {
    case Redeem::Expired: return QStringLiteral("This pairing code has expired. Start the sign-in again.");
    case Redeem::StateMismatch: return QStringLiteral("This pairing code belongs to another sign-in attempt.");
    case Redeem::Unknown:
    case Redeem::Ok: break;
    }
    return QStringLiteral("This pairing code is not valid or was already used. Start the sign-in again.");
}

QString localAnswer(const QString &question, const QString &model, const QList<MemoryHit> &memories)
{
    QString answer = QStringLiteral("You asked \u201C%1\u201D. ").arg(question);
    if (memories.isEmpty()) {
        answer += QStringLiteral("This is the local ZaPum dev server: it answers by rule, without a language model, "
                                 "so connect a real backend for a real answer.");
    } else {
        answer += QStringLiteral("Here is what I remember that may help:");
        for (const MemoryHit &hit : memories)
            answer += QStringLiteral("\n- ") + hit.memory;
    }
    return answer + QStringLiteral("\n(Model %1, answered locally by zapum-devserver.)").arg(model);
}

// Whole numbers only: a search for 2.5 memories is a client bug worth hearing about. A large
// limit is merely generous and gets the most this server returns.
std::optional<int> searchLimit(const QJsonValue &value, httplib::Response &response)
{
    if (value.isUndefined() || value.isNull())
        return kDefaultSearchLimit;
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number != std::floor(number) || number < 1) {
        sendError(response, 400, QStringLiteral("limit must be a whole number of at least 1."));
        return std::nullopt;
    }
    return int(std::min<double>(number, kMaxSearchLimit));
}

// The messages of a remember call as (role, trimmed content); blank contents are dropped.
std::optional<QList<std::pair<QString, QString>>> rememberedMessages(const QJsonValue &value,
                                                                     httplib::Response &response)
{
    if (!value.isArray() || value.toArray().isEmpty()) {
        sendError(response, 400, QStringLiteral("messages must be a non-empty list of {role, content} objects."));
        return std::nullopt;
    }
    QList<std::pair<QString, QString>> messages;
    const QJsonArray list = value.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject message = list.at(i).toObject();
        const QString role = message.value(QStringLiteral("role")).toString();
        const QJsonValue content = message.value(QStringLiteral("content"));
        if (role != QLatin1String("user") && role != QLatin1String("assistant")) {
            sendError(response, 400, QStringLiteral("messages[%1].role must be \"user\" or \"assistant\".").arg(i));
            return std::nullopt;
        }
        if (!content.isString()) {
            sendError(response, 400, QStringLiteral("messages[%1].content must be a text.").arg(i));
            return std::nullopt;
        }
        if (const QString text = content.toString().trimmed(); !text.isEmpty())
            messages.append({role, text});
    }
    return messages;
}

} // namespace

void DevServer::answerWithNewSession(const User &user, const httplib::Request &request, httplib::Response &response)
{
    const double now = unixNow();
    const QString accessToken = m_store.createSession(user.id, now);
    if (accessToken.isEmpty())
        throw std::runtime_error("session not stored");
    sendJson(response, 200, sessionJson(user, accessToken, apiBaseSeenBy(request), now));
}

void DevServer::addApiRoutes()
{
    // The endpoints that take a JSON body from a signed-in user.
    const auto authenticatedPost = [this](const char *path, auto handler) {
        m_api.Post(path, [this, handler](const httplib::Request &request, httplib::Response &response) {
            const std::optional<User> user = authenticate(request, response);
            if (!user)
                return;
            if (const std::optional<QJsonObject> body = jsonBody(request, response))
                handler(*user, *body, response);
        });
    };

    m_api.Post("/v1/desktop/session", [this](const httplib::Request &request, httplib::Response &response) {
        const std::optional<QJsonObject> body = jsonBody(request, response);
        if (!body)
            return;
        const std::optional<QString> email = requiredNonBlank(*body, "email", response);
        if (!email)
            return;
        // Tokens are compared exactly as typed; only the address is forgiving.
        const std::optional<QString> token = requiredText(*body, "token", response);
        if (!token)
            return;
        const std::optional<User> user = m_store.userBySignIn(email->trimmed(), *token);
        if (!user) {
            sendError(response, 401, QStringLiteral("Unknown e-mail address or token."));
            return;
        }
        answerWithNewSession(*user, request, response);
    });

    m_api.Post("/v1/desktop/exchange", [this](const httplib::Request &request, httplib::Response &response) {
        const std::optional<QJsonObject> body = jsonBody(request, response);
        if (!body)
            return;
        const std::optional<QString> code = requiredNonBlank(*body, "code", response);
        if (!code)
            return;
        const std::optional<QString> state = requiredNonBlank(*body, "state", response);
        if (!state)
            return;
        const RedeemResult redeemed = m_store.redeemPairingCode(*code, *state, unixNow());
        if (redeemed.outcome != Redeem::Ok || !redeemed.user) {
            sendError(response, 400, exchangeRefusal(redeemed.outcome));
            return;
        }
        answerWithNewSession(*redeemed.user, request, response);
    });

    m_api.Get("/v1/desktop/guidance", [this](const httplib::Request &request, httplib::Response &response) {
        const std::optional<User> user = authenticate(request, response);
        if (!user)
            return;
        sendJson(response, 200, m_store.guidance(user->id).value_or(defaultGuidance(user->email, webBase())));
    });

    authenticatedPost("/v1/desktop/ask", [this](const User &user, const QJsonObject &body,
                                                httplib::Response &response) {
        const std::optional<QString> question = requiredNonBlank(body, "question", response);
        if (!question)
            return;
        const std::optional<QString> userId = requiredText(body, "userId", response);
        if (!userId)
            return;
        const std::optional<QString> model = requiredNonBlank(body, "model", response);
        if (!model)
            return;
        if (*userId != user.id) {
            sendError(response, 403, QStringLiteral("userId does not belong to this access token."));
            return;
        }
        const QString asked = question->trimmed();
        const QList<MemoryHit> memories = m_store.searchMemories(user.id, ftsMatchExpression(asked), kAskMemoryLines);
        sendJson(response, 200,
                 QJsonObject{{QStringLiteral("answer"), localAnswer(asked, model->trimmed(), memories)},
                             {QStringLiteral("model"), model->trimmed()}});
    });

    authenticatedPost("/v1/desktop/memory/remember",
                      [this](const User &user, const QJsonObject &body, httplib::Response &response) {
                          const auto messages = rememberedMessages(body.value(QStringLiteral("messages")), response);
                          if (!messages)
                              return;
                          const QJsonValue channel = body.value(QStringLiteral("channel"));
                          if (!channel.isUndefined() && !channel.isNull() && !channel.isString()) {
                              sendError(response, 400, QStringLiteral("channel must be a text."));
                              return;
                          }
                          const int stored = m_store.remember(user.id, *messages, channel.toString(), unixNow());
                          if (stored < 0)
                              throw std::runtime_error("memories not stored");
                          sendJson(response, 200, QJsonObject{{QStringLiteral("stored"), stored}});
                      });

    authenticatedPost(
        "/v1/desktop/memory/search", [this](const User &user, const QJsonObject &body, httplib::Response &response) {
            const std::optional<QString> query = requiredText(body, "query", response);
            if (!query)
                return;
            const std::optional<int> limit = searchLimit(body.value(QStringLiteral("limit")), response);
            if (!limit)
                return;
            QJsonArray results;
            for (const MemoryHit &hit : m_store.searchMemories(user.id, ftsMatchExpression(*query), *limit)) {
                results.append(QJsonObject{{QStringLiteral("memory"), hit.memory},
                                           {QStringLiteral("role"), hit.role},
                                           {QStringLiteral("channel"), hit.channel},
                                           {QStringLiteral("score"), hit.score}});
            }
            sendJson(response, 200, QJsonObject{{QStringLiteral("results"), results}});
        });

    m_api.Get("/v1/desktop/commands", [this](const httplib::Request &request, httplib::Response &response) {
        const std::optional<User> user = authenticate(request, response);
        if (!user)
            return;
        QJsonArray commands;
        for (const QueuedCommand &command : m_store.takeCommands(user->id)) {
            QJsonObject entry{{QStringLiteral("type"), command.type}};
            entry.insert(QStringLiteral("payload"),
                         command.payload ? QJsonValue(*command.payload) : QJsonValue(QJsonValue::Null));
            commands.append(entry);
        }
        sendJson(response, 200,
                 QJsonObject{{QStringLiteral("commands"), commands}, {QStringLiteral("userId"), user->id}});
    });
}

} // namespace zapum::devserver
