#include "support/app_process.h"

#include "platform/linux/secrets/file_secret_store.h"
#include "voice/voice_keychain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <csignal>

namespace zapum::test {

QString zapumBinary()
{
    return QStringLiteral(ZAPUM_BINARY);
}

AppProcess::AppProcess() : m_environment(QProcessEnvironment::systemEnvironment())
{
    const QString home = m_home.path();
    m_environment.insert(QStringLiteral("HOME"), home);
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    m_environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    m_environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    m_environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{category}: %{message}"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, &m_process, [this] { m_log += m_process.readAll(); });
}

AppProcess::~AppProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void AppProcess::start(const QStringList &arguments)
{
    m_process.setProcessEnvironment(m_environment);
    m_process.start(zapumBinary(), arguments);
    m_process.waitForStarted(5000);
}

void AppProcess::keepSecretsPrivate()
{
    m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + home() + QStringLiteral("/no-bus"));
}

void AppProcess::saveSession(const QJsonObject &session)
{
    linux_platform::FileSecretStore store(home() + QStringLiteral("/data/ZaPum/secrets.json"));
    if (!store.write(kSessionAccount, QJsonDocument(session).toJson(QJsonDocument::Compact)))
        qFatal("cannot write %s", qPrintable(store.path()));
}

bool AppProcess::waitForLogLine(const QString &text, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!log().contains(text)) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return log().contains(text);
        m_process.waitForReadyRead(50);
        QCoreApplication::processEvents();
    }
    return true;
}

int AppProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(int(timeout.count())))
        return -1;
    m_log += m_process.readAll();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int AppProcess::terminate(std::chrono::milliseconds timeout)
{
    ::kill(pid_t(m_process.processId()), SIGTERM);
    return waitForExit(timeout);
}

QString AppProcess::ownLog() const
{
    QStringList own;
    for (const QString &line : log().split(u'\n')) {
        if (line.startsWith(QLatin1String("zapum.")))
            own.append(line);
    }
    return own.join(u'\n');
}

}  // namespace zapum::test
