#pragma once

#include <QObject>
#include <QString>

namespace zapum {

class LoginItem;

// "Start ZaPum when I log in", shared by the settings window and the walkthrough's last page. The
// desktop's own record is the truth (the user may delete the entry by hand), so it is read afresh
// rather than kept in the settings file.
class StartAtLoginStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY enabledChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
public:
    explicit StartAtLoginStore(LoginItem &item, QObject *parent = nullptr);

    bool isEnabled() const;
    // On failure the switch springs back and `error` says why.
    void setEnabled(bool enabled);
    QString error() const { return m_error; }

Q_SIGNALS:
    void enabledChanged();
    void errorChanged();

private:
    void setError(const QString &error);

    LoginItem &m_item;
    QString m_error;
};

}  // namespace zapum
