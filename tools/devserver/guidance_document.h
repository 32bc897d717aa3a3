#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace zapum::devserver {

// Empty when the value is a guidance document the desktop will show; otherwise a sentence naming
// the first member that is wrong. The desktop silently drops a pushed document it cannot read, so
// the server says why before queueing it.
QString guidanceProblem(const QJsonValue &document);

// What a user sees until someone sets or pushes their own document.
QJsonObject defaultGuidance(const QString &email, const QString &webBase);

} // namespace zapum::devserver
