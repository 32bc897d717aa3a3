#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <chrono>

namespace zapum::test {

// The real zapum executable, started with its own private config, data and cache folders so
// a test never sees the developer's settings or secrets.
class AppProcess {
public:
    AppProcess();
    ~AppProcess();

    QProcessEnvironment &environment() { return m_environment; }
    QProcess &process() { return m_process; }
    QString home() const { return m_home.path(); }

    void start(const QStringList &arguments = {});
    // Secrets in the app's private file rather than the test desktop's shared keyring, so that a
    // session saved by one test never reaches the next.
    void keepSecretsPrivate();
    // A saved session record in that private file, as the app writes it.
    void saveSession(const QJsonObject &session);
    bool waitForLogLine(const QString &text, std::chrono::milliseconds timeout);
    // Sends SIGTERM and waits; the exit code, or -1 when it did not exit in time.
    int terminate(std::chrono::milliseconds timeout);
    int waitForExit(std::chrono::milliseconds timeout);
    QString log() const { return QString::fromUtf8(m_log); }
    // Only the app's own lines: a failure message has room for a few hundred characters, and the
    // web engine's start-up chatter would fill it.
    QString ownLog() const;

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QByteArray m_log;
};

QString zapumBinary();

}  // namespace zapum::test
