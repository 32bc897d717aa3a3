#include "platform/linux/xdg_autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace zapum::linux_platform {

namespace {

Failure autostartFailure(const QString &message)
{
    return Failure{QStringLiteral("Autostart"), 0, message};
}

}  // namespace

QString desktopExecArgument(const QString &program)
{
    // Inside a quoted Exec argument ", `, $ and \ take a backslash; the key's value is itself an
    // escaped string, so every backslash is then doubled once more. % starts a field code.
    QString quoted;
    for (const QChar c : program) {
        if (c == u'%') {
            quoted += QStringLiteral("%%");
            continue;
        }
        // One backslash before the character for the Exec quoting, written as two in the value.
        if (c == u'"' || c == u'`' || c == u'$')
            quoted += QStringLiteral("\\\\");
        quoted += c == u'\\' ? QStringLiteral("\\\\\\\\") : QString(c);
    }
    return u'"' + quoted + u'"';
}

QByteArray autostartEntry(const QString &program)
{
    const QString text = QStringLiteral(
                             "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=ZaPum\n"
                             "Comment=Started at log-in; turn it off on the Companion tab of ZaPum's settings\n"
                             "Exec=%1 %2\n"
                             "Icon=zapum\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n")
                             .arg(desktopExecArgument(program), QLatin1String(kAtLoginFlag));
    return text.toUtf8();
}

XdgAutostart::XdgAutostart(QString entryPath, QString program) : m_path(std::move(entryPath)), m_program(std::move(program))
{
}

bool XdgAutostart::isEnabled() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        if (file.readLine().trimmed() == "Hidden=true")
            return false;
    }
    return true;
}

Status XdgAutostart::setEnabled(bool enabled)
{
    if (!enabled) {
        if (QFileInfo::exists(m_path) && !QFile::remove(m_path))
            return autostartFailure(QStringLiteral("Could not remove %1.").arg(QDir::toNativeSeparators(m_path)));
        return Done{};
    }
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return autostartFailure(QStringLiteral("Could not create the folder %1.").arg(QDir::toNativeSeparators(folder)));
    // Written whole or not at all: a half-written entry would start nothing, or something else.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(autostartEntry(m_program)) < 0 || !file.commit())
        return autostartFailure(
            QStringLiteral("Could not write %1: %2.").arg(QDir::toNativeSeparators(m_path), file.errorString()));
    return Done{};
}

}  // namespace zapum::linux_platform

namespace zapum {

std::unique_ptr<LoginItem> makeLoginItem()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::make_unique<linux_platform::XdgAutostart>(config + QStringLiteral("/autostart/zapum.desktop"),
                                                          QCoreApplication::applicationFilePath());
}

}  // namespace zapum
