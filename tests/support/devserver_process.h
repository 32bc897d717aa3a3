#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>

namespace zapum::test {

// One HTTP exchange as a test sees it: redirects are not followed, so a Location stays visible.
struct WireReply {
    int status = 0; // 0: no HTTP response at all
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    QJsonObject json() const;
    QString error() const { return json().value(QStringLiteral("error")).toString(); }
    QByteArray header(const QByteArray &name) const;
};

using RawHeaders = QList<QPair<QByteArray, QByteArray>>;

// Sends one request and waits for the answer (or gives up after `timeout`).
WireReply sendRequest(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                      const RawHeaders &headers = {}, std::chrono::milliseconds timeout = std::chrono::seconds(10));
WireReply sendJson(const QByteArray &method, const QUrl &url, const QJsonObject &body, const QString &bearer = {});

// The real zapum-devserver on free ports with a private data file; its first user's token is
// written to a private file, never printed.
class DevServerProcess {
public:
    DevServerProcess();
    ~DevServerProcess();

    // Starts the server with these extra arguments and waits until it listens. False (with the
    // output kept in output()) when it did not come up.
    bool start(const QStringList &arguments = {});
    // SIGTERM, then the exit code (-1 when it did not stop in time).
    int stop();

    QString dataFile() const { return m_dir.filePath(QStringLiteral("devserver.sqlite3")); }
    QString tokenFile() const { return m_dir.filePath(QStringLiteral("dev-token")); }
    QString devToken() const;
    QUrl api(const QString &path) const;
    QUrl web(const QString &pathAndQuery) const;
    int apiPort() const { return m_apiPort; }
    int webPort() const { return m_webPort; }
    QString output() const { return QString::fromUtf8(m_output); }
    QProcess &process() { return m_process; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
    int m_apiPort = 0;
    int m_webPort = 0;
};

QString devServerBinary();

} // namespace zapum::test
