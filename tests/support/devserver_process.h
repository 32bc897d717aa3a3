#pragma once

#include "support/app_process.h"
#include "support/fake_http_server.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>

namespace zapum::test {

// One HTTP exchange as a test sees it: redirects are not followed, so a Location stays visible.
struct WireReply {
    int status = 0; // 0: no HTTP response at all
    QByteArray body;
    Headers headers;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString error() const { return json().value(QStringLiteral("error")).toString(); }
    QByteArray header(QByteArrayView name) const { return findHeader(headers, name).value_or(QByteArray()); }
};

// Sends one request and waits for the answer (or gives up after `timeout`).
WireReply sendRequest(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                      const Headers &headers = {}, std::chrono::milliseconds timeout = std::chrono::seconds(10));
WireReply sendJson(const QByteArray &method, const QUrl &url, const QJsonObject &body, const QString &bearer = {});

// The real zapum-devserver on free ports with a private data file; its first user's token is
// written to a private file, never printed.
class DevServerProcess : public ChildProcess {
public:
    // Starts the server with these extra arguments and waits until it listens. False (with the
    // output kept in log()) when it did not come up.
    bool start(const QStringList &arguments = {});

    QString dataFile() const { return m_dir.filePath(QStringLiteral("devserver.sqlite3")); }
    QString tokenFile() const { return m_dir.filePath(QStringLiteral("dev-token")); }
    QString devToken() const;
    QUrl api(const QString &path) const { return QUrl(apiBase() + u'/' + path); }
    QUrl web(const QString &pathAndQuery) const { return QUrl(webBase() + u'/' + pathAndQuery); }
    QString apiBase() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_apiPort); }
    QString webBase() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_webPort); }

private:
    QTemporaryDir m_dir;
    int m_apiPort = 0;
    int m_webPort = 0;
};

QString devServerBinary();

} // namespace zapum::test
