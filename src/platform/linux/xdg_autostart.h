#pragma once

#include "platform/login_item.h"

#include <QString>

namespace zapum::linux_platform {

// A program path as one argument of a desktop entry's Exec key: quoted, with the characters the
// desktop entry format reserves inside quotes escaped, and % doubled.
QString desktopExecArgument(const QString &program);
// The whole autostart entry that starts `program` with the at-login flag.
QByteArray autostartEntry(const QString &program);

// An XDG autostart entry ($XDG_CONFIG_HOME/autostart/zapum.desktop): present means on. An entry
// the user or a desktop's session settings marked Hidden=true counts as off, as the desktop
// treats it.
class XdgAutostart final : public LoginItem {
public:
    XdgAutostart(QString entryPath, QString program);

    bool isEnabled() const override;
    Status setEnabled(bool enabled) override;
    QString path() const { return m_path; }

private:
    QString m_path;
    QString m_program;
};

}  // namespace zapum::linux_platform
