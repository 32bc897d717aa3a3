#pragma once

#include "foundation/failure.h"
#include "foundation/http_client.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>

namespace zapum {

// One tool call requested by the model.
struct VoiceAgentToolCall {
    QString id;  // the model's tool-use id, or a fresh UUID when it gave none
    QString name;
    QJsonObject input;

    bool operator==(const VoiceAgentToolCall &) const = default;
};

// What the model is told about the desktop and the user for one request.
struct VoiceAgentContext {
    QString windowsSummary;
    QString appsSummary;
    QString memoryText;  // empty when nothing was recalled
};

// The one client of the Anthropic Messages API. It keeps no conversation: the caller owns the
// message list and calls run() once per model step.
class AnthropicVoiceAgent : public QObject {
    Q_OBJECT
public:
    struct Turn {
        QString text;  // every text block of the reply, joined with nothing in between
        QList<VoiceAgentToolCall> toolCalls;
        QString stopReason;

        bool operator==(const Turn &) const = default;
    };

    static constexpr int kMaxTokens = 1024;
    static constexpr std::chrono::seconds kRequestDeadline{60};

    static HttpTimeouts defaultTimeouts() { return {std::chrono::seconds(45), std::chrono::seconds(90)}; }
    static QUrl defaultBaseUrl();
    // The vendor's host unless ZAPUM_ANTHROPIC_BASE_URL names another http(s) URL, for a proxy
    // or a test server. An unusable value is ignored rather than breaking every request.
    static QUrl baseUrlFromEnvironment();
    // `v1/messages` under the base URL, keeping any path prefix the base URL has.
    static QUrl messagesEndpoint(const QUrl &baseUrl);

    explicit AnthropicVoiceAgent(QUrl baseUrl = defaultBaseUrl(), HttpTimeouts timeouts = defaultTimeouts(),
                                 QObject *parent = nullptr);
    ~AnthropicVoiceAgent() override;


    // One non-streaming request. The key and model are used exactly as given.
    QCoro::Task<Result<Turn>> run(QString apiKey, QString model, QJsonArray messages, VoiceAgentContext context);
    // Aborts every request in flight; their runs fail as cancelled.
    void cancel();

    // The five desktop tools, sent unchanged with every request.
    static const QJsonArray &tools();
    static QString systemPrompt(const VoiceAgentContext &context);

    // Reads a 2xx reply body. Public so that tests and the fuzzer reach it without a server.
    static Result<Turn> parseReply(const QByteArray &body);
    // The sentence shown to the user for an error reply.
    static QString humanize(const QByteArray &errorBody, int status, const QString &model);

private:
    QUrl m_baseUrl;
    HttpClient *m_http;
};

}  // namespace zapum
