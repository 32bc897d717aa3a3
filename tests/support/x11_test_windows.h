#pragma once

// For tests built with X11_TEST_CLIENT, the path of tests/desktop/x11_test_client.

#include "platform/linux/x11/x11_display.h"
#include "support/app_process.h"

#include <QTest>

#include <xcb/xcb.h>

namespace zapum::test {

// The windows the window manager manages now, as _NET_CLIENT_LIST names them.
inline QList<quint32> managedWindows(x11::X11Display &display)
{
    if (!display.isUsable())
        return {};
    const auto cookie = xcb_get_property(display.connection(), 0, display.root(), display.atoms()._NET_CLIENT_LIST,
                                         XCB_ATOM_WINDOW, 0, 4096);
    return x11::propertyItems(x11::takeReply(xcb_get_property_reply, display.connection(), cookie).get());
}

// Windows of another process: one x11_test_client with a window for each spec, mapped by the time
// the constructor returns. Closing its input ends it.
class TestWindows : public ChildProcess {
public:
    explicit TestWindows(const QStringList &windowSpecs, const QString &display = {}) : m_display(display)
    {
        QStringList arguments;
        for (const QString &spec : windowSpecs)
            arguments << QStringLiteral("--window") << spec;
        if (!display.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("DISPLAY"), display);
            m_process.setProcessEnvironment(environment);
        }
        m_process.start(QStringLiteral(X11_TEST_CLIENT), arguments);
        waitFor([this] { return log().contains(u'\n'); }, std::chrono::seconds(5));
        const QStringList ready = log().section(u'\n', 0, 0).split(u' ');
        for (qsizetype i = 1; ready.first() == QLatin1String("ready") && i < ready.size(); ++i)
            windows.append(ready[i].toUInt());
    }
    ~TestWindows()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(2000))
            m_process.kill();
        m_process.waitForFinished(1000);
        // The next client may get the same window ids; a window manager that has not let go of
        // the old windows yet would take the new ones for them.
        x11::X11Display display(m_display.toLocal8Bit());
        if (!QTest::qWaitFor([&] { return !managedWindows(display).contains(windows.value(0)); }, 3000))
            qWarning("the window manager still manages the test client's windows");
    }

    qint32 pid() const { return qint32(m_process.processId()); }
    // Button events so far, "press|release window button x y rootX rootY".
    QStringList events() const { return log().split(u'\n', Qt::SkipEmptyParts).mid(1); }

    QList<quint32> windows;

private:
    QString m_display;
};

}  // namespace zapum::test
