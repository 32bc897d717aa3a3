#include "support/fake_messages_api.h"

#include <QJsonDocument>
#include <QMutexLocker>
#include <QUuid>

namespace zapum::test {

namespace messages {

QJsonObject textBlock(const QString &text)
{
    return {{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}};
}

QJsonObject toolUseBlock(const QString &id, const QString &name, const QJsonObject &input)
{
    return {{QStringLiteral("type"), QStringLiteral("tool_use")},
            {QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("input"), input}};
}

QByteArray reply(const QJsonArray &content, const std::optional<QString> &stopReason)
{
    // The members the client ignores are there too, so a client that trips over them shows up.
    QJsonObject message{
        {QStringLiteral("id"), QString(QStringLiteral("msg_") + QUuid::createUuid().toString(QUuid::Id128))},
        {QStringLiteral("type"), QStringLiteral("message")},
        {QStringLiteral("role"), QStringLiteral("assistant")},
        {QStringLiteral("model"), QStringLiteral("claude-test")},
        {QStringLiteral("content"), content},
        {QStringLiteral("stop_sequence"), QJsonValue::Null},
        {QStringLiteral("usage"),
         QJsonObject{{QStringLiteral("input_tokens"), 12}, {QStringLiteral("output_tokens"), 34}}},
    };
    if (stopReason)
        message.insert(QStringLiteral("stop_reason"), *stopReason);
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

QByteArray textReply(const QString &text)
{
    return reply(QJsonArray{textBlock(text)});
}

QByteArray toolUseReply(const QJsonArray &toolUseBlocks, const QString &leadingText)
{
    QJsonArray content;
    if (!leadingText.isEmpty())
        content.append(textBlock(leadingText));
    for (const QJsonValue &block : toolUseBlocks)
        content.append(block);
    return reply(content, QStringLiteral("tool_use"));
}

QByteArray error(const QString &type, const QString &message)
{
    const QJsonObject body{
        {QStringLiteral("type"), QStringLiteral("error")},
        {QStringLiteral("error"), QJsonObject{{QStringLiteral("type"), type}, {QStringLiteral("message"), message}}},
    };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

}  // namespace messages

FakeMessagesApi::FakeMessagesApi(const QString &pathPrefix)
    : m_prefix(pathPrefix), m_path(pathPrefix.toUtf8() + "v1/messages")
{
    m_server.setHandler([this](const RecordedRequest &request) { return answer(request); });
}

QUrl FakeMessagesApi::baseUrl() const
{
    QUrl url = m_server.baseUrl();
    url.setPath(m_prefix);
    return url;
}

void FakeMessagesApi::enqueueReply(const QByteArray &body, int status)
{
    enqueue(FakeResponse::json(status, body));
}

void FakeMessagesApi::enqueueError(int status, const QString &type, const QString &message)
{
    enqueue(FakeResponse::json(status, messages::error(type, message)));
}

void FakeMessagesApi::enqueue(FakeResponse response)
{
    QMutexLocker lock(&m_mutex);
    m_queue.push_back(std::move(response));
}

QList<MessagesRequest> FakeMessagesApi::requests() const
{
    QList<MessagesRequest> parsed;
    for (const RecordedRequest &raw : m_server.requests())
        parsed.append({raw, QJsonDocument::fromJson(raw.body).object()});
    return parsed;
}

MessagesRequest FakeMessagesApi::lastRequest() const
{
    const QList<MessagesRequest> all = requests();
    return all.isEmpty() ? MessagesRequest{} : all.last();
}

FakeResponse FakeMessagesApi::answer(const RecordedRequest &request)
{
    if (request.method != "POST" || request.path() != m_path)
        return FakeResponse::json(404, messages::error(QStringLiteral("not_found_error"), QStringLiteral("Not found")));
    if (!request.header("x-api-key")) {
        return FakeResponse::json(401, messages::error(QStringLiteral("authentication_error"),
                                                       QStringLiteral("x-api-key header is required")));
    }
    QMutexLocker lock(&m_mutex);
    if (m_queue.empty()) {
        return FakeResponse::json(500, messages::error(QStringLiteral("api_error"),
                                                       QStringLiteral("fake Messages API: no reply queued")));
    }
    FakeResponse next = std::move(m_queue.front());
    m_queue.pop_front();
    return next;
}

}  // namespace zapum::test
