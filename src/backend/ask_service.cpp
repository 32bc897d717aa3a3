#include "backend/ask_service.h"

#include "backend/environment_store.h"
#include "backend/session_controller.h"
#include "foundation/settings_storage.h"
#include "voice/voice_keychain.h"

#include <QJsonDocument>
#include <QPointer>
#include <QTimer>

#include <QCoro/QCoroTimer>

namespace zapum {

using namespace settings_keys;

namespace {

const QString kDefaultModel = QStringLiteral("gpt-4o-mini");

}  // namespace

QList<DesktopAskModel> allAskModels()
{
    return {DesktopAskModel::Gpt4oMini, DesktopAskModel::Gpt4o, DesktopAskModel::Gpt41Mini, DesktopAskModel::Gpt41Nano};
}

QString rawValue(DesktopAskModel model)
{
    switch (model) {
    case DesktopAskModel::Gpt4oMini: return QStringLiteral("gpt-4o-mini");
    case DesktopAskModel::Gpt4o: return QStringLiteral("gpt-4o");
    case DesktopAskModel::Gpt41Mini: return QStringLiteral("gpt-4.1-mini");
    case DesktopAskModel::Gpt41Nano: return QStringLiteral("gpt-4.1-nano");
    }
    return {};
}

QString label(DesktopAskModel model)
{
    switch (model) {
    case DesktopAskModel::Gpt4oMini: return QStringLiteral("GPT-4o mini \u2014 fast, economical");
    case DesktopAskModel::Gpt4o: return QStringLiteral("GPT-4o \u2014 capable");
    case DesktopAskModel::Gpt41Mini: return QStringLiteral("GPT-4.1 mini");
    case DesktopAskModel::Gpt41Nano: return QStringLiteral("GPT-4.1 nano");
    }
    return {};
}

DesktopAskModel askModelForPicker(const QString &stored)
{
    for (DesktopAskModel model : allAskModels()) {
        if (rawValue(model) == stored)
            return model;
    }
    return DesktopAskModel::Gpt4oMini;
}

AskService::AskService(SessionController &sessions, SettingsStorage &settings, const VoiceKeychain &keychain,
                       AskTimings timings, QObject *parent)
    : QObject(parent),
      m_sessions(sessions),
      m_settings(settings),
      m_keychain(keychain),
      m_timings(timings),
      m_backend(new BackendClient(timings.http, this))
{
}

QString AskService::placeholderAnswer(const QString &question)
{
    return QStringLiteral("That's a great question about \"") + question
           + QStringLiteral("\". Sign in and set an API base URL so ZaPum can give you a real answer from your workspace.");
}

AskResponse AskService::readAnswer(const QByteArray &body)
{
    const QJsonValue answer = QJsonDocument::fromJson(body).object().value(QStringLiteral("answer"));
    if (!answer.isString())
        return AskResponse::error(QStringLiteral("Could not read response."));
    return AskResponse::answer(answer.toString());
}

QCoro::Task<void> AskService::ask(QString question)
{
    const QString trimmed = question.trimmed();
    if (trimmed.isEmpty())
        co_return;
    setWorking(true);
    setLastResponse(std::nullopt);

    if (!m_sessions.session()) {
        // Published before the panel opens, so the popover already explains why it appeared.
        setLastResponse(AskResponse::error(QStringLiteral("Sign in to ZaPum first.")));
        if (!m_sessions.session())
            m_sessions.presentAccountPanel();
        setWorking(false);
        co_return;
    }

    QPointer<AskService> self(this);
    const AskResponse response = co_await answer(trimmed);
    if (!self)
        co_return;
    setLastResponse(response);
    setWorking(false);
}

// Only reads state before its first wait; ask() re-checks that the service still exists.
QCoro::Task<AskResponse> AskService::answer(QString question)
{
    if (m_runTypedQuery && m_keychain.read(kAnthropicAccount)) {
        const Result<QString> reply = co_await m_runTypedQuery(question);
        if (!reply)
            co_return AskResponse::error(reply.failure().message);
        const QString text = reply.value().trimmed();
        co_return AskResponse::answer(text.isEmpty() ? QStringLiteral("Done.") : text);
    }

    const std::optional<QUrl> root = parseApiRoot(m_settings.storedText(kApiBaseUrl).value_or(QString()));
    if (!root || !m_sessions.session()) {
        // A plain timer rather than QCoro::sleepFor: that coroutine template trips clang's
        // function sanitizer in the fuzzing build.
        QTimer pause;
        pause.setSingleShot(true);
        pause.start(m_timings.placeholderDelay);
        co_await pause;
        co_return AskResponse::answer(placeholderAnswer(question));
    }
    co_return co_await askBackend(*root, question);
}

QCoro::Task<AskResponse> AskService::askBackend(QUrl root, QString question)
{
    const ZaPumUserSession &user = *m_sessions.session();
    QString model = m_settings.storedText(kAskModel).value_or(QString()).trimmed();
    if (model.isEmpty())
        model = kDefaultModel;

    const QJsonObject body{{QStringLiteral("question"), question},
                           {QStringLiteral("userId"), user.userId},
                           {QStringLiteral("model"), model}};
    const HttpResult reply = co_await m_backend->send(BackendCall::post(root, backend_paths::kAsk, body, user.accessToken));
    if (!reply) {
        if (transportErrorOf(reply.failure()) == TransportError::TimedOut)
            co_return AskResponse::error(QStringLiteral("Request timed out."));
        co_return AskResponse::error(reply.failure().message);
    }
    if (!isSuccessStatus(reply.value().status))
        co_return AskResponse::error(QStringLiteral("Server error. Check your API URL."));
    co_return readAnswer(reply.value().body);
}

void AskService::setWorking(bool working)
{
    if (std::exchange(m_isWorking, working) != working)
        Q_EMIT isWorkingChanged();
}

void AskService::setLastResponse(std::optional<AskResponse> response)
{
    if (m_lastResponse == response)
        return;
    m_lastResponse = std::move(response);
    Q_EMIT lastResponseChanged();
}

}  // namespace zapum
