#include "support/app_process.h"
#include "support/desktop_driver.h"
#include "support/devserver_process.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

#include <functional>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace zapum::test;

namespace {

// Visible top-level windows whose title is exactly `title`. xdotool's search gives up on the first
// window that vanishes while it looks (a BadWindow error, common while the app builds and drops
// windows), so an empty answer is only trusted where absence is what a test checks.
QStringList visibleWindows(const QString &title)
{
    return xdotool({u"search"_s, u"--onlyvisible"_s, u"--name"_s, u'^' + QRegularExpression::escape(title) + u'$'})
        .split(u'\n', Qt::SkipEmptyParts);
}

// The window titled `title` once it shows; empty when none did in time.
QString windowShown(const QString &title)
{
    QStringList windows;
    (void)QTest::qWaitFor([&] { return !(windows = visibleWindows(title)).isEmpty(); }, 10000);
    return windows.value(0);
}

QRect windowGeometry(const QString &window)
{
    QHash<QString, int> value;
    for (const QString &line : xdotool({u"getwindowgeometry"_s, u"--shell"_s, window}).split(u'\n'))
        value.insert(line.section(u'=', 0, 0), line.section(u'=', 1).toInt());
    return QRect(value.value(u"X"_s), value.value(u"Y"_s), value.value(u"WIDTH"_s), value.value(u"HEIGHT"_s));
}

// Types into the window with that title once it is the active one: "=text" is typed, anything
// else is a key's name. The keys queue in order behind the focus change, so none needs a pause.
void keys(const QString &title, const QStringList &sequence)
{
    const QString window = windowShown(title);
    QVERIFY2(!window.isEmpty(), qPrintable(title));
    xdotool({u"windowactivate"_s, u"--sync"_s, window});
    for (const QString &step : sequence) {
        if (step.startsWith(u'='))
            xdotool({u"type"_s, u"--delay"_s, u"20"_s, step.mid(1)});
        else
            xdotool({u"key"_s, step});
    }
}

void screenshot(const QString &name)
{
    QProcess::execute(u"import"_s,
                      {u"-window"_s, u"root"_s, QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/") + name + u".png"_s});
}

// Whether some client holds the keyboard: an open menu takes it a moment after it shows. A grab
// of our own, when it succeeds, ends with the connection.
bool keyboardGrabbed()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_grab_keyboard_reply_t *reply = xcb_grab_keyboard_reply(
        connection, xcb_grab_keyboard(connection, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr);
    const bool grabbed = reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
    free(reply);
    xcb_disconnect(connection);
    return grabbed;
}

// Opens the tray's menu (trayer's only icon, at the top right) and walks it with the keyboard
// until `done`; a walk that came to nothing is tried again. Keys go only once our menu shows and
// holds the keyboard: keys sent earlier go elsewhere, and a walk that lost its first steps would
// pick the wrong item.
bool trayMenuUntil(const QStringList &sequence, const std::function<bool()> &done)
{
    const int width = qEnvironmentVariableIntValue("ZAPUM_TEST_SCREEN_WIDTH");
    const auto ourWindows = [] {
        return xdotool({u"search"_s, u"--onlyvisible"_s, u"--class"_s, u"zapum"_s})
            .split(u'\n', Qt::SkipEmptyParts)
            .size();
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        const qsizetype before = ourWindows();
        xdotool({u"mousemove"_s, QString::number((width > 0 ? width : 1280) - 11), u"11"_s, u"click"_s, u"3"_s});
        if (QTest::qWaitFor([&] { return ourWindows() > before && keyboardGrabbed(); }, 5000)) {
            for (const QString &key : sequence)
                xdotool({u"key"_s, key});
            // Whatever the walk chose, the menu is gone (and its grab with it) before the test goes on.
            if (done())
                return QTest::qWaitFor([] { return !keyboardGrabbed(); }, 5000);
        }
        xdotool({u"key"_s, u"Escape"_s});
        (void)QTest::qWaitFor([&] { return ourWindows() <= before && !keyboardGrabbed(); }, 5000);
    }
    return false;
}

}  // namespace

class TestAppShellE2e : public QObject {
    Q_OBJECT
    DevServerProcess m_server;

    // The app as most tests run it: its own home, the secrets in its private file (the shared test
    // keyring would carry a session from one test into the next), a URL opener that records, and
    // the local server as its backend, with these settings on top.
    void prepare(AppProcess &app, QJsonObject settings = {})
    {
        app.keepSecretsPrivate();
        app.recordOpenedUrls();
        settings.insert(u"ZaPumAPIBaseURL"_s, m_server.apiBase());
        settings.insert(u"ZaPumWebBaseURL"_s, m_server.webBase());
        app.writeSettings(settings);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test session (scripts/test-session.sh)");
        QVERIFY2(m_server.start(), qPrintable(m_server.log()));
    }

    void withoutDisplaySaysWhyInOneSentence()
    {
        AppProcess app;
        app.environment().remove(u"DISPLAY"_s);
        app.environment().remove(u"QT_QPA_PLATFORM"_s);
        app.start();
        QCOMPARE(app.waitForExit(5s), 1);
        const QStringList lines = app.log().trimmed().split(u'\n');
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(u"DISPLAY"_s), qPrintable(app.log()));
    }

    // Signed out, only the account panel shows; a token typed into it brings the companion and the
    // walkthrough. The autostart entry's --autostart with the saved session brings only the bee
    // back: neither the (unseen) walkthrough nor the account panel opens to take the keyboard.
    // Signing out from the tray brings the panel back, and the tray's last item quits.
    void tokenSignInThenAStartAtLogin()
    {
        AppProcess app;
        prepare(app);
        app.start();
        QVERIFY2(app.waitForLogLine(u"account panel shown"_s, 20s), qPrintable(app.ownLog()));
        QVERIFY(visibleWindows(u"ZaPum"_s).isEmpty());
        // The disclosure, the e-mail, the token, Return.
        keys(u"ZaPum account"_s, {u"Tab"_s, u"Tab"_s, u"space"_s, u"Tab"_s, u"=dev@zapum.local"_s, u"Tab"_s,
                                  u'=' + m_server.devToken(), u"Return"_s});
        QVERIFY2(app.waitForLogLine(u"companion online"_s, 20s), qPrintable(app.ownLog()));
        QVERIFY2(QTest::qWaitFor([] { return visibleWindows(u"ZaPum account"_s).isEmpty(); }, 10000),
                 "the panel closes on success");
        QVERIFY(!windowShown(u"Welcome to ZaPum"_s).isEmpty());
        screenshot(u"app-shell-companion-and-walkthrough"_s);
        QVERIFY2(app.terminate(5s) == 0, qPrintable(app.ownLog()));

        AppProcess again(app.environment());
        again.start({u"--autostart"_s});
        QVERIFY2(again.waitForLogLine(u"companion online"_s, 20s), qPrintable(again.ownLog()));
        QVERIFY2(again.log().contains(u"the walkthrough waits"_s), qPrintable(again.ownLog()));
        // The walkthrough would have been shown in the same pass as the bee's panel.
        QVERIFY(!windowShown(u"ZaPum"_s).isEmpty());
        QVERIFY(visibleWindows(u"Welcome to ZaPum"_s).isEmpty());
        QVERIFY(visibleWindows(u"ZaPum account"_s).isEmpty());

        // Show, Toggle, Companion, Sign out.
        QVERIFY2(trayMenuUntil(QStringList(4, u"Down"_s) << u"Return"_s,
                               [&] { return again.waitForLogLine(u"companion hidden"_s, 5s); }),
                 qPrintable(again.ownLog()));
        QVERIFY(!windowShown(u"ZaPum account"_s).isEmpty());
        QVERIFY2(trayMenuUntil({u"Up"_s, u"Return"_s}, [&] { return again.waitForExit(5s) == 0; }),
                 qPrintable(again.ownLog()));
    }

    // The whole offline round: browser sign-in against the local server, its guidance in the
    // popover, then a document pushed from the admin side shown within one (shortened) poll.
    void browserSignInThenGuidanceThenAPushedDocument()
    {
        const QString node = QStandardPaths::findExecutable(u"node"_s);
        if (node.isEmpty() || !QFileInfo::exists(u"/usr/bin/chromium"_s))
            QSKIP("needs Node.js and chromium (scripts/install-deps.sh installs them)");
        constexpr auto pollInterval = 2s;
        AppProcess app;
        // A bee standing still can be clicked; the walkthrough would cover the popover.
        prepare(app, {{u"ZaPumPatrolNearDockEnabled"_s, false}, {u"ZaPumOnboardingSeen"_s, true}});
        app.environment().insert(u"ZAPUM_COMMAND_POLL_SECONDS"_s, QString::number(pollInterval.count()));
        app.start();
        QVERIFY2(app.waitForLogLine(u"account panel shown"_s, 20s), qPrintable(app.ownLog()));
        keys(u"ZaPum account"_s, {u"Tab"_s, u"space"_s});

        QFile opened(app.openedUrlsFile());
        QTRY_VERIFY_WITH_TIMEOUT(opened.exists() && opened.size() > 0, 10000);
        QVERIFY(opened.open(QIODevice::ReadOnly));
        const QUrl link(QString::fromUtf8(opened.readAll().trimmed()));

        // Headless Chromium presses "Link this desktop"; the zapum:// URL it is sent to goes to a
        // second zapum, which hands it to the first and leaves.
        QProcess browser;
        browser.start(node, {QStringLiteral(ZAPUM_SOURCE_DIR "/tests/e2e/browser_link.mjs"),
                             link.toString(QUrl::FullyEncoded)});
        QVERIFY(browser.waitForFinished(60000));
        // Only the reason for a failure, never the output: that holds a working pairing code.
        QVERIFY2(browser.exitCode() == 0, browser.readAllStandardError().constData());
        AppProcess second(app.environment());
        second.start({QString::fromUtf8(browser.readAllStandardOutput().trimmed())});
        QCOMPARE(second.waitForExit(10s), 0);
        QVERIFY2(app.waitForLogLine(u"companion online"_s, 20s), qPrintable(app.ownLog()));

        // The app fetches guidance when asked to from the tray (Show, Toggle, Companion, Sign out,
        // Environment, Pause, Refresh guidance); a click on the bee then shows it.
        QVERIFY2(trayMenuUntil(QStringList(7, u"Down"_s) << u"Return"_s,
                               [&] { return app.waitForLogLine(u"guidance refreshed from the menu"_s, 5s); }),
                 qPrintable(app.ownLog()));
        clickAt(windowGeometry(windowShown(u"ZaPum"_s)).center());
        QVERIFY2(app.waitForLogLine(u"guidance popover shows: ZaPum on your local server"_s, 15s),
                 qPrintable(app.ownLog()));

        // The checklist lives on the popover's second tab, "Activity" (the right half of the tab
        // row, about 50 px below the popover's top); shown there, the screenshot tells the story.
        const QRect popover = windowGeometry(windowShown(u"ZaPum guidance"_s));
        clickAt(QPoint(popover.left() + popover.width() * 3 / 4, popover.top() + 50));

        const QJsonObject step{{u"id"_s, u"one"_s}, {u"title"_s, u"Read this step"_s}, {u"isDone"_s, false}};
        const QJsonObject pushed{{u"title"_s, u"Pushed from the admin page"_s},
                                 {u"subtitle"_s, u"Delivered by the command poll"_s},
                                 {u"steps"_s, QJsonArray{step}}};
        QCOMPARE(sendJson("POST", m_server.web(u"admin/api/push-guidance"_s),
                          {{u"user"_s, u"dev@zapum.local"_s}, {u"document"_s, pushed}})
                     .status,
                 202);
        // One poll period, plus a little for the poll's own round trip.
        QVERIFY2(app.waitForLogLine(u"guidance popover shows: Pushed from the admin page"_s, pollInterval + 1500ms),
                 qPrintable(app.ownLog()));
        screenshot(u"app-shell-pushed-guidance"_s);
        QVERIFY2(app.terminate(5s) == 0, qPrintable(app.ownLog()));
    }
};

QTEST_GUILESS_MAIN(TestAppShellE2e)
#include "tst_app_shell_e2e.moc"
