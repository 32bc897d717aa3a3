// The desktop on the test session's X server: windows, apps, activation, clicks and capture as the
// window server reports them, and the click confirmation toast. The toast's rules that need no
// display also run outside the session, on an offscreen one.
#include "desktop/action_mode_store.h"
#include "desktop/click_confirm_toast.h"
#include "desktop/running_apps_snapshot.h"
#include "desktop/window_snapshot_reader.h"
#include "foundation/settings_storage.h"
#include "platform/desktop_backends.h"
#include "platform/escape_key_watcher.h"
#include "platform/linux/desktop_entries.h"
#include "platform/linux/x11/x11_display.h"
#include "platform/linux/x11/x11_window_server.h"
#include "platform/linux/x11/x11_workspace.h"
#include "support/desktop_driver.h"
#include "support/x11_test_windows.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using namespace zapum;
using namespace std::chrono_literals;
using test::TestWindows;
using test::xdotool;

namespace {

std::optional<DesktopWindowInfo> findWindow(const QList<DesktopWindowInfo> &windows, quint32 id)
{
    const auto found =
        std::find_if(windows.begin(), windows.end(), [id](const auto &window) { return window.windowId == id; });
    return found == windows.end() ? std::nullopt : std::optional(*found);
}


const QString kAction = u"ZaPum will click at (100, 200)"_s;

QString activeWindow()
{
    return xdotool({u"getactivewindow"_s});
}

// Toast windows of ours that the X server shows right now.
int visibleToasts()
{
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString found = xdotool({u"search"_s, u"--onlyvisible"_s, u"--pid"_s, pid, u"--name"_s, u"^ZaPum$"_s});
    return found.isEmpty() ? 0 : int(found.split(u'\n').size());
}

QQuickItem *toastItem(const ClickConfirmToast &toast, const char *objectName)
{
    auto *view = qobject_cast<QQuickView *>(toast.panel());
    return view ? test::findItem(view->rootObject(), QLatin1String(objectName)) : nullptr;
}

// One confirm() running on the event loop: its answer and when it came.
struct Pending {
    qint64 askedAtMs = -1;
    std::optional<bool> answer;
    qint64 answeredAtMs = -1;
};

// A toast, a clock started with it, and the questions put to it.
struct Rig {
    QElapsedTimer clock;
    std::deque<Pending> asked;  // a deque keeps each answer where its callback writes it
    // Last, so it goes first: a toast destroyed mid-question answers into the list above.
    std::unique_ptr<ClickConfirmToast> toast = std::make_unique<ClickConfirmToast>(createEscapeKeyWatcher());

    Rig() { clock.start(); }

    Pending &ask(int seconds = 2)
    {
        Pending &pending = asked.emplace_back();
        pending.askedAtMs = clock.elapsed();
        // Not the toast as context: the answer must arrive even when the toast is destroyed.
        QCoro::connect(toast->confirm(kAction, seconds), QCoreApplication::instance(), [this, &pending](bool answer) {
            pending.answer = answer;
            pending.answeredAtMs = clock.elapsed();
        });
        return pending;
    }
};

bool waitUntilShown(const ClickConfirmToast &toast)
{
    return QTest::qWaitFor([&] { return toast.panel() && toast.panel()->isExposed(); }, 3000);
}

}  // namespace

class TestX11Desktop : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    DesktopBackends m_backends;
    std::unique_ptr<SettingsStorage> m_settings;

    QList<DesktopWindowInfo> windowsNow() { return WindowSnapshotReader::onScreenWindows(*m_backends.windowServer, true); }
    std::unique_ptr<ActionModeStore> makeStore()
    {
        return std::make_unique<ActionModeStore>(*m_settings, *m_backends.windowServer, *m_backends.workspace,
                                                 *m_backends.screenCapture, *m_backends.inputSynthesizer);
    }

    // The front-to-back order of these windows as the window server reports it.
    QList<quint32> stackingOf(const QList<quint32> &ids)
    {
        QList<quint32> order;
        for (const WindowServerEntry &entry : m_backends.windowServer->onScreenWindows()) {
            if (ids.contains(quint32(*entry.number)))
                order.append(quint32(*entry.number));
        }
        return order;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            return;
        // Our own application folders, so one desktop entry names a test app.
        const QString applications = m_dir.filePath(QStringLiteral("data/applications"));
        QDir().mkpath(applications);
        QFile entry(applications + QStringLiteral("/zapum-test-viewer.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Test Viewer\nStartupWMClass=ZapumTestViewer\n");
        entry.close();
        qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toLocal8Bit());
        qputenv("XDG_DATA_DIRS", m_dir.filePath(QStringLiteral("none")).toLocal8Bit());
        m_backends = openDesktopBackends();
        m_settings = std::make_unique<SettingsStorage>(m_dir.filePath(QStringLiteral("settings.json")));
    }

    void init()
    {
        static const QSet<QByteArray> withoutDisplay{"placement", "countdownEndsOnItsLastTick",
                                                      "nonPositiveSecondsAnswersYesAtOnce"};
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION") && !withoutDisplay.contains(QTest::currentTestFunction()))
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
    }

    void windowFacts_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("title");  // null: not listed at all
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QRect>("bounds");  // exact, or only the top-left corner for a decorated frame
        QTest::addColumn<qint64>("layer");

        const QString client = QFileInfo(QStringLiteral(X11_TEST_CLIENT)).fileName();
        const QString a = QStringLiteral("ZapumTestA");
        QTest::newRow("decorated, UTF-8 title") << u"title=Café ☕ Über;x=100;y=120;w=300;h=200;class=ZapumTestA"_qs
                                                << u"Café ☕ Über"_qs << a << QRect(100, 120, 300, 200) << qint64(0);
        QTest::newRow("named by its desktop entry")
            << u"title=V;x=40;y=40;w=120;h=80;decorated=0;class=ZapumTestViewer"_qs << u"V"_qs << u"Test Viewer"_qs
            << QRect(40, 40, 120, 80) << qint64(0);
        QTest::newRow("no pid, class or name: found through the server")
            << u"title=Legacy;x=70;y=70;w=100;h=50;decorated=0;netname=0;pid=0"_qs << u"Legacy"_qs << client
            << QRect(70, 70, 100, 50) << qint64(0);
        QTest::newRow("keep above") << u"title=Pin;x=10;y=10;w=50;h=50;decorated=0;above=1;class=ZapumTestA"_qs
                                    << u"Pin"_qs << a << QRect(10, 10, 50, 50) << x11::kKeepAboveLayer;
        QTest::newRow("desktop windows drop out") << u"title=Wallpaper;type=desktop;class=ZapumTestA"_qs << QString()
                                                  << QString() << QRect() << qint64(0);
    }

    void windowFacts()
    {
        QFETCH(QString, spec);
        QFETCH(QString, title);
        QFETCH(QRect, bounds);

        TestWindows client({spec});
        QCOMPARE(client.windows.size(), 1);
        const quint32 id = client.windows.first();
        if (title.isNull()) {
            // The window server has it, and the snapshot leaves it out.
            QTRY_COMPARE_WITH_TIMEOUT(stackingOf({id}).size(), 1, 3000);
            QCOMPARE(findWindow(windowsNow(), id), std::nullopt);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(findWindow(windowsNow(), id).has_value(), 3000);
        const DesktopWindowInfo window = *findWindow(windowsNow(), id);
        QCOMPARE(window.title, title);
        QTEST(window.ownerName, "owner");
        QCOMPARE(window.ownerPID, client.pid());
        QTEST(window.layer, "layer");
        if (spec.contains(u"decorated=0")) {
            QCOMPARE(window.bounds, QRectF(bounds));
        } else {
            // The frame starts where the client asked to be put and wraps the client area.
            QCOMPARE(window.bounds.topLeft(), QPointF(bounds.topLeft()));
            QVERIFY2(window.bounds.width() >= bounds.width() && window.bounds.height() > bounds.height(),
                     qPrintable(QDebug::toString(window.bounds)));
        }
    }

    void activationRaisesEveryWindowOfTheApp()
    {
        TestWindows first({u"title=A1;x=50;y=50;w=200;h=100;class=ZapumTestViewer"_qs,
                          u"title=A2;x=400;y=50;w=200;h=100;class=ZapumTestViewer"_qs});
        TestWindows second({u"title=B;x=0;y=0;w=900;h=500;class=ZapumTestB"_qs});
        TestWindows dockOnly({u"title=Panel;x=0;y=760;w=300;h=30;type=dock;class=ZapumTestPanel"_qs});
        const quint32 a1 = first.windows.value(0), a2 = first.windows.value(1), b = second.windows.value(0);
        QTRY_COMPARE_WITH_TIMEOUT(stackingOf({a1, a2, b}).value(0), b, 3000);

        QVERIFY(m_backends.workspace->activateApp(first.pid()));
        // A2 was the front-most of the app's windows, so it ends in front and focused.
        QTRY_COMPARE_WITH_TIMEOUT(stackingOf({a1, a2, b}), (QList<quint32>{a2, a1, b}), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(activeWindow(), QString::number(a2), 3000);

        // The app list names the app from its desktop entry and knows it is active now; a process
        // with only a dock window is no regular app.
        const auto apps = RunningAppsSnapshot::regularApps(*m_backends.workspace);
        QVERIFY(std::none_of(apps.begin(), apps.end(),
                             [&](const RunningAppSummary &app) { return app.pid == dockOnly.pid(); }));
        QVERIFY(apps.contains(RunningAppSummary{first.pid(), u"Test Viewer"_qs, u"zapum-test-viewer.desktop"_qs, true}));

        QVERIFY(!m_backends.workspace->activateApp(std::numeric_limits<qint32>::max()));
    }

    void clickLandsExactlyAtThePoint()
    {
        m_settings->setValue(settings_keys::kActionModeEnabled, true);
        auto store = makeStore();

        TestWindows client({u"title=Target;x=300;y=200;w=200;h=150;decorated=0;class=ZapumTestA"_qs});
        const quint32 target = client.windows.value(0);
        QTRY_COMPARE_WITH_TIMEOUT(stackingOf({target}).size(), 1, 3000);
        // Fractions round to the nearest pixel: "window button x y rootX rootY".
        QVERIFY(store->performLeftClick(QPointF(310.4, 220.6)));
        const QString where = QString::number(target) + QStringLiteral(" 1 10 21 310 221");
        QTRY_COMPARE_WITH_TIMEOUT(client.events(), (QStringList{u"press "_qs + where, u"release "_qs + where}), 3000);
        // Beyond the X coordinate range nothing is posted: the next click's events come right after.
        QVERIFY(!store->performLeftClick(QPointF(70000, 250)));
        QVERIFY(store->performLeftClick(QPointF(311, 221)));
        QTRY_COMPARE_WITH_TIMEOUT(client.events().size(), 4, 3000);
        QCOMPARE(client.events().at(2), u"press "_qs + QString::number(target) + QStringLiteral(" 1 11 21 311 221"));
    }

    void captureHasTheScreensPixelSize()
    {
        m_settings->setValue(settings_keys::kActionModeEnabled, true);
        auto store = makeStore();
        store->captureMainDisplay();
        QCOMPARE(store->lastSnapshot()->size(), QGuiApplication::primaryScreen()->geometry().size());  // one Xvfb screen
    }

    void waylandGrantsNeither()
    {
        qputenv("WAYLAND_DISPLAY", "wayland-0");
        auto store = makeStore();
        qunsetenv("WAYLAND_DISPLAY");
        QVERIFY(!store->screenCaptureGranted());
        QVERIFY(!store->accessibilityGranted());
        QVERIFY2(store->screenCaptureNote().contains(QStringLiteral("Wayland")), qPrintable(store->screenCaptureNote()));
        QVERIFY2(store->accessibilityNote().contains(QStringLiteral("Wayland")), qPrintable(store->accessibilityNote()));
        store->refreshPermissionState();
        QVERIFY(store->accessibilityGranted());
    }

    void withoutWindowManagerTheRootsWindowsCount()
    {
        QProcess server;
        server.start(u"Xvfb"_qs,
                     {u"-displayfd"_qs, u"1"_qs, u"-screen"_qs, u"0"_qs, u"640x480x24"_qs, u"-nolisten"_qs, u"tcp"_qs});
        QVERIFY(server.waitForReadyRead(10000));
        const QString display = u':' + QString::fromLatin1(server.readLine().trimmed());
        auto connection = std::make_shared<x11::X11Display>(display.toLocal8Bit());
        QVERIFY(connection->isUsable());
        auto entries = std::make_shared<DesktopEntryIndex>();
        x11::X11WindowServer windowServer(connection, entries);
        x11::X11Workspace workspace(connection, entries);
        {
            TestWindows client({u"title=Plain;x=30;y=40;w=100;h=60;class=ZapumTestA"_qs,
                               u"title=Bar;x=0;y=400;w=640;h=30;type=dock;class=ZapumTestA"_qs},
                              display);
            const auto windows = WindowSnapshotReader::fromEntries(windowServer.onScreenWindows(), std::nullopt);
            QCOMPARE(windows.size(), 2);
            QCOMPARE(findWindow(windows, client.windows.value(0))->bounds, QRectF(30, 40, 100, 60));
            QCOMPARE(findWindow(windows, client.windows.value(1))->layer, x11::kDockLayer);

            QVERIFY(workspace.activateApp(client.pid()));
            const auto apps = RunningAppsSnapshot::fromApplications(workspace.runningApplications());
            QVERIFY(std::any_of(apps.begin(), apps.end(), [&](const RunningAppSummary &app) {
                return app.pid == client.pid() && app.isActive;
            }));
        }
        server.terminate();
        server.waitForFinished(5000);
    }

    void placement()
    {
        QCOMPARE(toastGeometry(QRect(0, 28, 1920, 1052)), QRect(800, 72, 320, 96));    // under a top panel
        QCOMPARE(toastGeometry(QRect(1280, 0, 1024, 768)), QRect(1632, 44, 320, 96));  // a second screen
    }

    void countdownEndsOnItsLastTick()
    {
        // 30 ms ticks do not divide a second: the 34th tick ends it, and none follow.
        ToastCountdown countdown(kAction, 1, 30ms);
        QSignalSpy ticks(&countdown, &ToastCountdown::remainingChanged);
        QSignalSpy finished(&countdown, &ToastCountdown::finished);
        countdown.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 3000);
        QCOMPARE(ticks.count(), 34);
        QVERIFY(!countdown.isRunning());
    }

    void nonPositiveSecondsAnswersYesAtOnce()
    {
        Rig rig;
        for (int seconds : {0, -3}) {
            const Pending &pending = rig.ask(seconds);
            QCOMPARE(rig.toast->panel(), nullptr);
            QTRY_COMPARE_WITH_TIMEOUT(pending.answer, std::optional(true), 1000);
        }
    }

    void noInputConfirmsWhenTheCountdownEnds()
    {
        Rig rig;
        // The countdown starts once the toast is on screen, somewhere between the question and the
        // test seeing it there: lower bounds count from the one, upper bounds from the other.
        const Pending &pending = rig.ask();
        ClickConfirmToast &toast = *rig.toast;
        QVERIFY(waitUntilShown(toast));
        const qint64 shownAt = rig.clock.elapsed();
        QCOMPARE(toast.panel()->geometry(), toastGeometry(QGuiApplication::primaryScreen()->availableGeometry()));
        QCOMPARE(visibleToasts(), 1);
        QProcess xprop;
        xprop.start(u"xprop"_s,
                    {u"-id"_s, QString::number(toast.panel()->winId()), u"_NET_WM_STATE"_s, u"_NET_WM_DESKTOP"_s});
        xprop.waitForFinished(5000);
        const QString windowManagerState = QString::fromUtf8(xprop.readAllStandardOutput());
        // Above other windows, out of the task list, on every desktop (openbox has no sticky state
        // and answers with the all-desktops number instead).
        for (const char *expected :
             {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_DESKTOP(CARDINAL) = 4294967295"})
            QVERIFY2(windowManagerState.contains(QLatin1String(expected)), qPrintable(windowManagerState));

        QTRY_COMPARE_WITH_TIMEOUT(pending.answer, std::optional(true), 5000);
        QVERIFY2(pending.answeredAtMs - pending.askedAtMs >= 1900 && pending.answeredAtMs - shownAt < 2500,
                 qPrintable(QString::number(pending.answeredAtMs - shownAt)));
        QCOMPARE(toast.panel(), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(visibleToasts(), 0, 2000);
    }

    void cancelANewRequestOrTheOwnerGoingAnswersNoAndLeavesNoCountdown()
    {
        Rig rig;
        const Pending &cancelled = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        QQuickItem *cancel = toastItem(*rig.toast, "cancelButton");
        QVERIFY(cancel);
        QTRY_VERIFY(cancel->isVisible() && cancel->width() > 0);
        const qint64 clickedAt = rig.clock.elapsed();
        test::clickAt(cancel->mapToGlobal(QPointF(cancel->width() / 2, cancel->height() / 2)).toPoint());
        QTRY_COMPARE_WITH_TIMEOUT(cancelled.answer, std::optional(false), 2000);
        QVERIFY2(cancelled.answeredAtMs - clickedAt < 400, qPrintable(QString::number(cancelled.answeredAtMs - clickedAt)));
        QCOMPARE(rig.toast->panel(), nullptr);

        // A request while one is shown answers the shown one no and starts over in the same toast.
        const Pending &superseded = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        QQuickItem *progress = toastItem(*rig.toast, "progressBar");
        QVERIFY(progress);
        QTRY_VERIFY(progress->property("value").toDouble() >= 0.25);  // half a second run
        const Pending &last = rig.ask();
        QTRY_COMPARE_WITH_TIMEOUT(superseded.answer, std::optional(false), 1000);
        QVERIFY2(superseded.answeredAtMs - last.askedAtMs < 200,
                 qPrintable(QString::number(superseded.answeredAtMs - last.askedAtMs)));
        QVERIFY(waitUntilShown(*rig.toast));
        const qint64 shownAgainAt = rig.clock.elapsed();
        QTRY_COMPARE(visibleToasts(), 1);  // the superseded one is gone

        // The superseded countdown had 1.5 s left; had it kept running it would end this one early.
        QTRY_COMPARE_WITH_TIMEOUT(last.answer, std::optional(true), 5000);
        // Counted from the request (no early end) and from the new toast on screen (no late end).
        QVERIFY2(last.answeredAtMs - last.askedAtMs >= 1950, qPrintable(QString::number(last.answeredAtMs - last.askedAtMs)));
        QVERIFY2(last.answeredAtMs - shownAgainAt < 2600, qPrintable(QString::number(last.answeredAtMs - shownAgainAt)));

        // The toast's owner going answers no as well, and takes the toast off the screen.
        const Pending &orphaned = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        rig.toast.reset();
        QTRY_COMPARE_WITH_TIMEOUT(orphaned.answer, std::optional(false), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(visibleToasts(), 0, 2000);
    }

    void theActiveAppKeepsTheFocusAndEscapeCancels()
    {
        // A plain X client under the window manager that holds the keyboard focus.
        QProcess holder;
        holder.start(u"xmessage"_s, {u"-name"_s, u"zapumfocusholder"_s, u"I have the focus"_s});
        const QString focused =
            xdotool({u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--classname"_s, u"zapumfocusholder"_s})
                .section(u'\n', 0, 0);
        QVERIFY(!focused.isEmpty());
        xdotool({u"windowactivate"_s, u"--sync"_s, focused});
        QCOMPARE(activeWindow(), focused);

        Rig rig;
        const Pending &pending = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        QStringList activeWhileShown;
        for (int at : {100, 500, 900})
            QTimer::singleShot(at, rig.toast.get(), [&] { activeWhileShown.append(activeWindow()); });
        // Escape with a modifier is some other shortcut, not a cancel.
        xdotool({u"key"_s, u"shift+Escape"_s, u"ctrl+Escape"_s});
        QTRY_COMPARE_WITH_TIMEOUT(activeWhileShown.size(), 3, 3000);
        QVERIFY(!pending.answer.has_value());
        QCOMPARE(activeWhileShown, QStringList(3, focused));

        xdotool({u"key"_s, u"Escape"_s});
        QTRY_COMPARE_WITH_TIMEOUT(pending.answer, std::optional(false), 1000);
        QVERIFY(!rig.toast->watchesEscape());
        QCOMPARE(activeWindow(), focused);
        QVERIFY(!QGuiApplication::focusWindow());
        holder.kill();
        holder.waitForFinished(5000);
    }
};

int main(int argc, char *argv[])
{
    // Outside the test session there is no display to open; the cases that need one skip themselves.
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    TestX11Desktop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11_desktop.moc"
