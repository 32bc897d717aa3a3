#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <optional>

namespace zapum::test {

// A program the tests start: its output (both channels) gathered as it arrives, and the program
// killed if it still runs when the test is done.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    QProcess &process() { return m_process; }
    QString log() const { return QString::fromUtf8(m_log); }
    // Spins the caller's event loop until `ready` holds, the program has ended or the time is up.
    bool waitFor(const std::function<bool()> &ready, std::chrono::milliseconds timeout);
    bool waitForLogLine(const QString &text, std::chrono::milliseconds timeout);
    // Sends SIGTERM and waits; the exit code, or -1 when it did not exit in time or crashed.
    int terminate(std::chrono::milliseconds timeout);
    int waitForExit(std::chrono::milliseconds timeout);

protected:
    QProcess m_process;
    QByteArray m_log;
};

// The real zapum executable, started with its own private config, data and cache folders so
// a test never sees the developer's settings or secrets.
class AppProcess : public ChildProcess {
public:
    AppProcess();
    // A run in another run's environment: a second instance over the same settings and secrets.
    explicit AppProcess(const QProcessEnvironment &environment);

    QProcessEnvironment &environment() { return m_environment; }
    QString home() const { return m_home; }

    void start(const QStringList &arguments = {});
    // Secrets in the app's private file rather than the test desktop's shared keyring, so that a
    // session saved by one test never reaches the next.
    void keepSecretsPrivate();
    // A saved session record in that private file, as the app writes it.
    void saveSession(const QJsonObject &session);
    // A stand-in for xdg-open that only writes down the URLs it is given, one a line.
    void recordOpenedUrls();
    QString openedUrlsFile() const { return m_home + QStringLiteral("/opened-urls"); }
    QJsonObject settings() const;
    void writeSettings(const QJsonObject &settings);
    // Only the app's own lines: a failure message has room for a few hundred characters, and the
    // web engine's start-up chatter would fill it.
    QString ownLog() const;

private:
    QTemporaryDir m_dir;
    QString m_home;
    QProcessEnvironment m_environment;
};

QString zapumBinary();
// Runs a command-line tool to its end and returns what it printed; nothing when it could not start,
// failed or ran for over a minute, and then its complaint goes to the test's output.
std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments);

}  // namespace zapum::test
