#include "support/desktop_driver.h"

#include <QProcess>
#include <QQuickItem>

namespace zapum::test {

QString xdotool(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

void clickAt(QPoint globalPosition)
{
    xdotool({QStringLiteral("mousemove"), QString::number(globalPosition.x()), QString::number(globalPosition.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

QQuickItem *findItem(QQuickItem *root, const QString &objectName)
{
    if (!root)
        return nullptr;
    if (root->objectName() == objectName)
        return root;
    for (QQuickItem *child : root->childItems())
        if (QQuickItem *found = findItem(child, objectName))
            return found;
    return nullptr;
}

namespace {

QStringList g_warnings;
QtMessageHandler g_previous = nullptr;

void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    const bool warning = type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg;
    if (warning
        && (category.startsWith(QLatin1String("zapum")) || category.startsWith(QLatin1String("qt.qml"))
            || category == QLatin1String("js") || message.contains(QLatin1String(".qml:"))))
        g_warnings << message;
    if (g_previous)
        g_previous(type, context, message);
}

}  // namespace

OwnWarnings::OwnWarnings()
{
    g_warnings.clear();
    g_previous = qInstallMessageHandler(record);
}

OwnWarnings::~OwnWarnings()
{
    qInstallMessageHandler(g_previous);
    g_previous = nullptr;
}

QStringList OwnWarnings::take()
{
    return std::exchange(g_warnings, {});
}

}  // namespace zapum::test
