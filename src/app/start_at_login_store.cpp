#include "app/start_at_login_store.h"

#include "foundation/logging.h"
#include "platform/login_item.h"

namespace zapum {

StartAtLoginStore::StartAtLoginStore(LoginItem &item, QObject *parent) : QObject(parent), m_item(item) {}

bool StartAtLoginStore::isEnabled() const
{
    return m_item.isEnabled();
}

void StartAtLoginStore::setEnabled(bool enabled)
{
    const Status status = m_item.setEnabled(enabled);
    if (status) {
        setError({});
        qCInfo(lcApp) << "start at login" << (enabled ? "on" : "off");
    } else {
        setError(status.failure().message);
        qCWarning(lcApp).noquote() << "start at login unchanged:" << status.failure().message;
    }
    // Also after a failure: a switch the user flipped must show the state that is true.
    Q_EMIT enabledChanged();
}

void StartAtLoginStore::setError(const QString &error)
{
    if (error == m_error)
        return;
    m_error = error;
    Q_EMIT errorChanged();
}

}  // namespace zapum
