#include "backend/memory_service.h"

#include "backend/environment_store.h"
#include "backend/session_controller.h"
#include "foundation/logging.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

namespace zapum {
namespace {

// The component prefix makes these lines easy to pick out of the journal.
void logLine(const QString &line)
{
    qCWarning(lcBackend).noquote() << QStringLiteral("[MemoryService] ") + line;
}

}  // namespace

MemoryService::MemoryService(const SessionController &sessions, const EnvironmentStore &environment,
                             MemoryTimings timings, QObject *parent)
    : QObject(parent), m_sessions(sessions), m_environment(environment), m_backend(new BackendClient(timings.http, this))
{
}

std::optional<MemoryService::Auth> MemoryService::resolveAuth() const
{
    const std::optional<ZaPumUserSession> &user = m_sessions.session();
    if (!user)
        return std::nullopt;
    // The session's own backend wins over whatever the settings point at now.
    QString base = user->apiBaseURL.value_or(QString()).trimmed();
    if (base.isEmpty())
        base = m_environment.resolvedApiBase();
    const std::optional<QUrl> root = parseApiRoot(base);
    if (!root)
        return std::nullopt;
    return Auth{*root, user->accessToken};
}

QString MemoryService::renderSearchReply(const QByteArray &body, int limit)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonValue results = document.object().value(QStringLiteral("results"));
    if (!results.isArray())
        return {};
    const QJsonArray entries = results.toArray();
    // Every entry must be an object for the reply to count, even those without a memory.
    for (const QJsonValue &entry : entries) {
        if (!entry.isObject())
            return {};
    }
    QStringList lines;
    for (const QJsonValue &entry : entries) {
        if (lines.size() >= limit)
            break;
        const QJsonValue memory = entry.toObject().value(QStringLiteral("memory"));
        const QString text = memory.isString() ? memory.toString().trimmed() : QString();
        if (!text.isEmpty())
            lines.append(QStringLiteral("- ") + text);
    }
    return lines.join(QLatin1Char('\n'));
}

QCoro::Task<QString> MemoryService::recall(QString query, int limit)
{
    const QString trimmed = query.trimmed();
    if (trimmed.isEmpty())
        co_return QString();
    const std::optional<Auth> auth = resolveAuth();
    if (!auth)
        co_return QString();

    const QJsonObject body{{QStringLiteral("query"), trimmed}, {QStringLiteral("limit"), limit}};
    const HttpResult reply =
        co_await m_backend->send(BackendCall::post(auth->root, backend_paths::kMemorySearch, body, auth->accessToken));
    if (!reply) {
        logLine(QStringLiteral("recall failed: ") + reply.failure().message);
        co_return QString();
    }
    if (!isSuccessStatus(reply.value().status))
        co_return QString();
    co_return renderSearchReply(reply.value().body, limit);
}

void MemoryService::remember(const QString &userText, const QString &assistantText)
{
    const QString user = userText.trimmed();
    const QString assistant = assistantText.trimmed();
    if (user.isEmpty())
        return;
    const std::optional<Auth> auth = resolveAuth();
    if (!auth)
        return;

    QJsonArray messages{QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), user}}};
    if (!assistant.isEmpty())
        messages.append(QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")}, {QStringLiteral("content"), assistant}});

    // The wire name the backend files desktop voice exchanges under.
    const QJsonObject body{{QStringLiteral("messages"), messages}, {QStringLiteral("channel"), QStringLiteral("macos-voice")}};
    // Nobody waits for this: the task runs on by itself once its handle is dropped.
    (void)upload(BackendCall::post(auth->root, backend_paths::kMemoryRemember, body, auth->accessToken));
}

QCoro::Task<void> MemoryService::upload(BackendCall call)
{
    const HttpResult reply = co_await m_backend->send(std::move(call));
    if (!reply)
        logLine(QStringLiteral("remember failed: ") + reply.failure().message);
    else if (!isSuccessStatus(reply.value().status))
        logLine(QStringLiteral("remember non-2xx: ") + QString::number(reply.value().status));
}

}  // namespace zapum
