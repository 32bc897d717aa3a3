#pragma once

#include "backend/backend_request.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <chrono>
#include <optional>

namespace zapum {

class EnvironmentStore;
class SessionController;

struct MemoryTimings {
    HttpTimeouts http{std::chrono::seconds(4), std::chrono::seconds(6)};
};

// The backend's memory store for the voice agent: memories recalled before a run, the exchange
// remembered after it. Never fails loudly: an empty recall, or a log line.
class MemoryService : public QObject {
    Q_OBJECT
public:
    MemoryService(const SessionController &sessions, const EnvironmentStore &environment,
                  MemoryTimings timings = {}, QObject *parent = nullptr);

    // "- memory" lines, at most `limit`, in the server's order; empty on any failure or when
    // signed out.
    QCoro::Task<QString> recall(QString query, int limit);
    // Starts the upload and returns at once; nothing is reported back.
    void remember(const QString &userText, const QString &assistantText);

    // The search reply rendered as recall() returns it.
    static QString renderSearchReply(const QByteArray &body, int limit);

private:
    struct Auth {
        QUrl root;
        QString accessToken;
    };
    std::optional<Auth> resolveAuth() const;
    QCoro::Task<void> upload(BackendCall call);

    const SessionController &m_sessions;
    const EnvironmentStore &m_environment;
    BackendClient *m_backend;
};

}  // namespace zapum
