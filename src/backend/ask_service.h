#pragma once

#include "backend/backend_request.h"
#include "foundation/failure.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace zapum {

class SessionController;
class SettingsStorage;
class VoiceKeychain;

namespace settings_keys {
inline const QString kAskModel = QStringLiteral("ZaPumAskModel");
}  // namespace settings_keys

// The answer models the backend's ask endpoint offers, in the settings picker's order.
enum class DesktopAskModel { Gpt4oMini, Gpt4o, Gpt41Mini, Gpt41Nano };

QList<DesktopAskModel> allAskModels();
QString rawValue(DesktopAskModel model);
QString label(DesktopAskModel model);
// The picker shows the model stored under ZaPumAskModel, or the first one when the text is unknown.
DesktopAskModel askModelForPicker(const QString &stored);

struct AskResponse {
    enum class Kind { Answer, Error };
    Kind kind = Kind::Answer;
    QString text;

    static AskResponse answer(QString text) { return {Kind::Answer, std::move(text)}; }
    static AskResponse error(QString text) { return {Kind::Error, std::move(text)}; }
    bool operator==(const AskResponse &) const = default;
};

struct AskTimings {
    HttpTimeouts http{std::chrono::seconds(30), std::chrono::seconds(60)};
    // How long the "set an API base URL" reply pretends to think.
    std::chrono::milliseconds placeholderDelay{600};
};

// Answers the popover's typed questions: through the local agent when the composition root supplies
// one and an Anthropic key is stored, else through the backend's ask endpoint.
class AskService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isWorking READ isWorking NOTIFY isWorkingChanged)
    Q_PROPERTY(bool hasResponse READ hasResponse NOTIFY lastResponseChanged)
    Q_PROPERTY(bool responseIsError READ responseIsError NOTIFY lastResponseChanged)
    Q_PROPERTY(QString responseText READ responseText NOTIFY lastResponseChanged)

public:
    // The agent's reply text, or a failure whose message is shown. Must not be a capturing
    // coroutine lambda: pass a plain lambda that calls a member coroutine.
    using TypedQueryRunner = std::function<QCoro::Task<Result<QString>>(QString question)>;

    AskService(SessionController &sessions, SettingsStorage &settings, const VoiceKeychain &keychain,
               AskTimings timings = {}, QObject *parent = nullptr);

    void setTypedQueryRunner(TypedQueryRunner runner) { m_runTypedQuery = std::move(runner); }

    bool isWorking() const { return m_isWorking; }
    const std::optional<AskResponse> &lastResponse() const { return m_lastResponse; }
    bool hasResponse() const { return m_lastResponse.has_value(); }
    bool responseIsError() const { return m_lastResponse && m_lastResponse->kind == AskResponse::Kind::Error; }
    QString responseText() const { return m_lastResponse ? m_lastResponse->text : QString(); }

    // Never fails: the outcome is lastResponse(). A blank question changes nothing.
    QCoro::Task<void> ask(QString question);
    // "Ask again": forget the last answer so the question field shows alone.
    void clearResponse() { setLastResponse(std::nullopt); }

    // The friendly reply given when no API base URL is set.
    static QString placeholderAnswer(const QString &question);
    // What a 2xx reply of the ask endpoint says.
    static AskResponse readAnswer(const QByteArray &body);

Q_SIGNALS:
    void isWorkingChanged();
    void lastResponseChanged();

private:
    QCoro::Task<AskResponse> answer(QString question);
    QCoro::Task<AskResponse> askBackend(QUrl root, QString question);
    void setWorking(bool working);
    void setLastResponse(std::optional<AskResponse> response);

    SessionController &m_sessions;
    SettingsStorage &m_settings;
    const VoiceKeychain &m_keychain;
    AskTimings m_timings;
    BackendClient *m_backend;
    TypedQueryRunner m_runTypedQuery;

    bool m_isWorking = false;
    std::optional<AskResponse> m_lastResponse;
};

}  // namespace zapum
