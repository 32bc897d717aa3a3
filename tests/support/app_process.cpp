#include "support/app_process.h"

#include "platform/linux/secrets/file_secret_store.h"
#include "voice/voice_keychain.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace zapum::test {

QString zapumBinary()
{
    return QStringLiteral(ZAPUM_BINARY);
}

std::optional<QByteArray> runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return process.readAllStandardOutput();
    qWarning().noquote() << program << "failed:" << process.errorString() << process.readAllStandardError();
    return std::nullopt;
}

ChildProcess::ChildProcess()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, &m_process, [this] { m_log += m_process.readAll(); });
}

ChildProcess::~ChildProcess()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

bool ChildProcess::waitFor(const std::function<bool()> &ready, std::chrono::milliseconds timeout)
{
    // Whatever an ended program printed last may not have been read yet.
    if (QTest::qWaitFor([&] { return ready() || m_process.state() == QProcess::NotRunning; }, int(timeout.count())))
        m_log += m_process.readAll();
    return ready();
}

bool ChildProcess::waitForLogLine(const QString &text, std::chrono::milliseconds timeout)
{
    return waitFor([&] { return log().contains(text); }, timeout);
}

int ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(int(timeout.count())))
        return -1;
    m_log += m_process.readAll();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int ChildProcess::terminate(std::chrono::milliseconds timeout)
{
    // processId() is 0 once the process is gone, and kill(0, …) would hit our own process group.
    if (const qint64 pid = m_process.processId(); pid > 0)
        ::kill(pid_t(pid), SIGTERM);
    return waitForExit(timeout);
}

AppProcess::AppProcess() : m_home(m_dir.path()), m_environment(QProcessEnvironment::systemEnvironment())
{
    m_environment.insert(QStringLiteral("HOME"), m_home);
    m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/config"));
    m_environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home + QStringLiteral("/data"));
    m_environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home + QStringLiteral("/cache"));
    m_environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{category}: %{message}"));
}

AppProcess::AppProcess(const QProcessEnvironment &environment)
    : m_home(environment.value(QStringLiteral("HOME"))), m_environment(environment)
{
}

void AppProcess::start(const QStringList &arguments)
{
    m_process.setProcessEnvironment(m_environment);
    m_process.start(zapumBinary(), arguments);
    m_process.waitForStarted(5000);
}

void AppProcess::keepSecretsPrivate()
{
    m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + m_home + QStringLiteral("/no-bus"));
}

void AppProcess::saveSession(const QJsonObject &session)
{
    linux_platform::FileSecretStore store(m_home + QStringLiteral("/data/ZaPum/secrets.json"));
    if (!store.write(kSessionAccount, QJsonDocument(session).toJson(QJsonDocument::Compact)))
        qFatal("cannot write %s", qPrintable(store.path()));
}

void AppProcess::recordOpenedUrls()
{
    const QString bin = m_home + QStringLiteral("/bin");
    QDir().mkpath(bin);
    QFile opener(bin + QStringLiteral("/xdg-open"));
    if (!opener.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(opener.fileName()));
    opener.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n").arg(openedUrlsFile()).toUtf8());
    opener.close();
    opener.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_environment.insert(QStringLiteral("PATH"), bin + u':' + m_environment.value(QStringLiteral("PATH")));
}

QJsonObject AppProcess::settings() const
{
    QFile file(m_home + QStringLiteral("/config/ZaPum/settings.json"));
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

void AppProcess::writeSettings(const QJsonObject &settings)
{
    QDir().mkpath(m_home + QStringLiteral("/config/ZaPum"));
    QFile file(m_home + QStringLiteral("/config/ZaPum/settings.json"));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(settings).toJson()) < 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
}

QString AppProcess::ownLog() const
{
    return log().split(u'\n').filter(QRegularExpression(QStringLiteral("^zapum\\."))).join(u'\n');
}

}  // namespace zapum::test
