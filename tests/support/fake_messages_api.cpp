#include "support/fake_messages_api.h"

#include <QJsonDocument>
#include <QMutexLocker>
#include <QUuid>

namespace zapum::test {

using namespace Qt::StringLiterals;

namespace messages {

QJsonObject textBlock(const QString &text)
{
    return {{u"type"_s, u"text"_s}, {u"text"_s, text}};
}

QJsonObject toolUseBlock(const QString &id, const QString &name, const QJsonObject &input)
{
    return {{u"type"_s, u"tool_use"_s}, {u"id"_s, id}, {u"name"_s, name}, {u"input"_s, input}};
}

QByteArray reply(const QJsonArray &content, const std::optional<QString> &stopReason)
{
    // The members the client ignores are there too, so a client that trips over them shows up.
    QJsonObject message{
        {u"id"_s, QString(u"msg_"_s + QUuid::createUuid().toString(QUuid::Id128))},
        {u"type"_s, u"message"_s},
        {u"role"_s, u"assistant"_s},
        {u"model"_s, u"claude-test"_s},
        {u"content"_s, content},
        {u"stop_sequence"_s, QJsonValue::Null},
        {u"usage"_s, QJsonObject{{u"input_tokens"_s, 12}, {u"output_tokens"_s, 34}}},
    };
    if (stopReason)
        message.insert(u"stop_reason"_s, *stopReason);
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
    return reply(content, u"tool_use"_s);
}

QByteArray error(const QString &type, const QString &message)
{
    const QJsonObject error{{u"type"_s, type}, {u"message"_s, message}};
    return QJsonDocument(QJsonObject{{u"type"_s, u"error"_s}, {u"error"_s, error}}).toJson(QJsonDocument::Compact);
}

}  // namespace messages

FakeMessagesApi::FakeMessagesApi(const QString &pathPrefix)
    : m_prefix(pathPrefix), m_path(pathPrefix.toUtf8() + "v1/messages")
{
    m_server.setHandler([this](const RecordedRequest &request) { return answer(request); });
}

void FakeMessagesApi::enqueue(FakeResponse response)
{
    QMutexLocker lock(&m_mutex);
    m_queue.append(std::move(response));
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
    return all.value(all.size() - 1);
}

FakeResponse FakeMessagesApi::answer(const RecordedRequest &request)
{
    if (request.method != "POST" || request.path() != m_path)
        return FakeResponse::json(404, messages::error(u"not_found_error"_s, u"Not found"_s));
    if (!request.header("x-api-key"))
        return FakeResponse::json(401, messages::error(u"authentication_error"_s, u"x-api-key header is required"_s));
    QMutexLocker lock(&m_mutex);
    if (m_queue.isEmpty())
        return FakeResponse::json(500, messages::error(u"api_error"_s, u"fake Messages API: no reply queued"_s));
    return m_queue.takeFirst();
}

}  // namespace zapum::test
