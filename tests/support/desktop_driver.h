#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

class QQuickItem;

namespace zapum::test {

// Runs xdotool against the test desktop and returns what it printed.
QString xdotool(const QStringList &arguments);
// A real click through the X server: the pointer moves there, then button 1 goes down and up.
void clickAt(QPoint globalPosition);
// The item named `objectName` anywhere under `root`, following visual children (Repeater
// delegates have no QObject parent to search through).
QQuickItem *findItem(QQuickItem *root, const QString &objectName);

// Collects warnings from QML and from our own logging categories while it lives; chatter from
// other components (the web engine, the GL stack) is not ours to judge.
class OwnWarnings {
public:
    OwnWarnings();
    ~OwnWarnings();
    OwnWarnings(const OwnWarnings &) = delete;
    OwnWarnings &operator=(const OwnWarnings &) = delete;

    QStringList take();
};

}  // namespace zapum::test
