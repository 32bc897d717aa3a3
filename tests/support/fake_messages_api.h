#pragma once

#include "support/fake_http_server.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace zapum::test {

// Reply and error bodies in the Messages API's wire format.
namespace messages {

QJsonObject textBlock(const QString &text);
QJsonObject toolUseBlock(const QString &id, const QString &name, const QJsonObject &input = {});

// A full reply message. Without a stop reason the member is left out.
QByteArray reply(const QJsonArray &content, const std::optional<QString> &stopReason = QStringLiteral("end_turn"));
// Shorthands for the two usual replies: plain text, and tool calls (stop reason "tool_use").
QByteArray textReply(const QString &text);
QByteArray toolUseReply(const QJsonArray &toolUseBlocks, const QString &leadingText = {});

// {"type":"error","error":{"type":..., "message":...}}
QByteArray error(const QString &type, const QString &message);

}  // namespace messages

// One request the fake received, with its body read as JSON.
struct MessagesRequest {
    RecordedRequest raw;
    QJsonObject body;  // empty when the body was not a JSON object

    QString system() const { return body.value(QLatin1String("system")).toString(); }
    QJsonArray messages() const { return body.value(QLatin1String("messages")).toArray(); }
    // The last message's role and content, the usual thing a test asks about.
    QJsonObject lastMessage() const
    {
        const QJsonArray list = messages();
        return list.isEmpty() ? QJsonObject{} : list.last().toObject();
    }
};

// A fake Anthropic Messages API on a real HTTP server. It answers POST <prefix>v1/messages from a
// queue of canned replies, in order; anything else gets the service's own 404 error, and a
// request with nothing queued gets a 500 api_error so that a test that forgot to queue a reply
// fails loudly instead of hanging.
class FakeMessagesApi {
public:
    // `pathPrefix` starts and ends with '/', as a proxy in front of the service would add.
    explicit FakeMessagesApi(const QString &pathPrefix = QStringLiteral("/"));

    QUrl baseUrl() const { return m_server.baseUrl().resolved(QUrl(m_prefix)); }
    FakeHttpServer &server() { return m_server; }

    void enqueueReply(const QByteArray &body, int status = 200) { enqueue(FakeResponse::json(status, body)); }
    void enqueueText(const QString &text) { enqueueReply(messages::textReply(text)); }
    void enqueueError(int status, const QString &type, const QString &message)
    {
        enqueueReply(messages::error(type, message), status);
    }
    // For stalls, trickles, dropped connections and bodies that are not JSON.
    void enqueue(FakeResponse response);

    int requestCount() const { return m_server.requestCount(); }
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const
    {
        return m_server.waitForRequests(count, timeout);
    }
    QList<MessagesRequest> requests() const;
    MessagesRequest lastRequest() const;

private:
    FakeResponse answer(const RecordedRequest &request);

    QString m_prefix;
    QByteArray m_path;
    mutable QMutex m_mutex;
    QList<FakeResponse> m_queue;
    // Last, so that its thread stops before anything the handler touches is gone.
    FakeHttpServer m_server;
};

}  // namespace zapum::test
