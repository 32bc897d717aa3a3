#include "app/app_delegate.h"
#include "app/instance_channel.h"
#include "app/status_menu.h"
#include "desktop/action_mode_store.h"
#include "support/backend_graph.h"
#include "support/fake_desktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

using namespace zapum;
using namespace zapum::test;

namespace {

// The delegate's collaborators, recorded as one line of calls.
struct DelegateRig {
    bool signedIn = false;
    bool onboardingSeen = false;
    QStringList calls;
    AppDelegate delegate{{[this] { calls << QStringLiteral("restore"); },
                          [this] { calls << QStringLiteral("permissions"); }, [this] { return signedIn; },
                          [this] { calls << QStringLiteral("panel"); }, [this] { calls << QStringLiteral("setup"); },
                          [this] { calls << QStringLiteral("show"); }, [this] { calls << QStringLiteral("hide"); },
                          [this] { return onboardingSeen; }, [this] { calls << QStringLiteral("onboarding"); },
                          [this] { calls << QStringLiteral("hotkey"); }, [this] { calls << QStringLiteral("cancel"); }}};
};

// The stores the status menu shows, over private settings and a desktop that is never touched.
struct MenuRig {
    BackendGraph backend;
    FakeWindowServer windows;
    FakeWorkspace workspace;
    FakeScreenCapture capture;
    FakeInputSynthesizer input;
    ActionModeStore actionMode{backend.settings, windows, workspace, capture, input};
    QStringList triggered;
    StatusMenu menu{backend.environment, backend.sessions, actionMode,
                    {[this] { triggered << QStringLiteral("show"); }, [this] { triggered << QStringLiteral("toggle"); },
                     [this] { triggered << QStringLiteral("center"); }, [this] { triggered << QStringLiteral("refresh"); },
                     [this] { triggered << QStringLiteral("talk"); }, [this] { triggered << QStringLiteral("settings"); },
                     [this] { triggered << QStringLiteral("onboarding"); }, [this] { triggered << QStringLiteral("quit"); }}};

    QAction *item(const QString &text, QMenu *in = nullptr) const
    {
        for (QAction *action : (in ? in : menu.menu())->actions()) {
            if (action->text() == text)
                return action;
            if (action->menu())
                if (QAction *found = item(text, action->menu()))
                    return found;
        }
        return nullptr;
    }
    QStringList texts() const
    {
        QStringList list;
        for (QAction *action : menu.menu()->actions())
            list << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return list;
    }
};

}  // namespace

class TestAppShell : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void launchAndSessionChanges_data()
    {
        QTest::addColumn<bool>("signedInAtLaunch");
        QTest::addColumn<bool>("onboardingSeen");
        QTest::addColumn<QList<bool>>("changes");
        QTest::addColumn<QStringList>("calls");

        const auto calls = [](const char *text) { return QString::fromLatin1(text).split(u' '); };
        QTest::newRow("signed out at launch: panel, and again on the subscription's first value")
            << false << false << QList<bool>{} << calls("restore permissions panel panel panel");
        QTest::newRow("signed in at launch: set up once, onboarding, hotkey; the second delivery only shows")
            << true << false << QList<bool>{} << calls("restore permissions setup onboarding hotkey show");
        QTest::newRow("walkthrough already seen") << true << true << QList<bool>{}
                                                  << calls("restore permissions setup hotkey show");
        QTest::newRow("sign-out after being online: cancel, hide, panel; sign-in again only shows")
            << true << true << QList<bool>{false, true}
            << calls("restore permissions setup hotkey show cancel hide panel show");
        QTest::newRow("first sign-in while running brings the companion online once")
            << false << false << QList<bool>{true, false, true}
            << calls("restore permissions panel panel panel setup onboarding hotkey cancel hide panel show");
    }
    void launchAndSessionChanges()
    {
        QFETCH(bool, signedInAtLaunch);
        QFETCH(bool, onboardingSeen);
        QFETCH(QList<bool>, changes);
        QFETCH(QStringList, calls);

        DelegateRig rig;
        rig.signedIn = signedInAtLaunch;
        rig.onboardingSeen = onboardingSeen;
        QSignalSpy finished(&rig.delegate, &AppDelegate::launchPassFinished);
        rig.delegate.applicationDidFinishLaunching();
        QVERIFY2(rig.calls.isEmpty(), "the launch pass waits for the event loop");
        QVERIFY(finished.wait(2000));
        for (bool signedIn : changes) {
            rig.signedIn = signedIn;
            rig.delegate.sessionChanged();
        }
        QCOMPARE(rig.calls, calls);
    }

    void sessionChangesBeforeTheLaunchPassAreLeftToIt()
    {
        DelegateRig rig;
        rig.signedIn = true;
        rig.delegate.sessionChanged();
        QVERIFY(rig.calls.isEmpty());
    }

    void statusDot_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<StatusDot>("dot");
        QTest::addColumn<QString>("label");
        QTest::newRow("signed out") << false << false << StatusDot::None << QString();
        QTest::newRow("signed in") << false << true << StatusDot::SignedIn << QStringLiteral("Signed in");
        QTest::newRow("paused wins over signed in") << true << true << StatusDot::Paused << QStringLiteral("Remote help paused");
        QTest::newRow("paused while signed out") << true << false << StatusDot::Paused << QStringLiteral("Remote help paused");
    }
    void statusDot()
    {
        QFETCH(bool, paused);
        QFETCH(bool, signedIn);
        QFETCH(StatusDot, dot);
        QFETCH(QString, label);
        QCOMPARE(statusDotFor(paused, signedIn), dot);
        QCOMPARE(statusDotLabel(dot), label);
    }

    void signedOutMenu()
    {
        MenuRig rig;
        QCOMPARE(rig.texts(), QStringList({QStringLiteral("Signed out"), QStringLiteral("Sign in to ZaPum…"),
                                           QStringLiteral("-"), QStringLiteral("Settings…"),
                                           QStringLiteral("What's ZaPum?"), QStringLiteral("Quit ZaPum")}));
        QVERIFY(!rig.item(QStringLiteral("Signed out"))->isEnabled());
        QCOMPARE(rig.item(QStringLiteral("Sign in to ZaPum…"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
        rig.item(QStringLiteral("Sign in to ZaPum…"))->trigger();
        QCOMPARE(rig.backend.panelPresented, 1);
        QCOMPARE(rig.menu.dot(), StatusDot::None);
    }

    void signedInMenuFollowsTheStores()
    {
        MenuRig rig;
        QSignalSpy changed(&rig.menu, &StatusMenu::changed);
        rig.backend.signIn(BackendGraph::userSession(std::nullopt));
        QVERIFY(changed.wait(2000));
        QCOMPARE(rig.menu.dot(), StatusDot::SignedIn);
        QVERIFY(rig.item(QStringLiteral("ada@example.com")));
        QVERIFY(!rig.item(QStringLiteral("ada@example.com"))->isEnabled());
        QVERIFY(rig.item(QStringLiteral("Never synced")));
        QVERIFY(rig.item(QStringLiteral("Environment: Production")));
        QVERIFY(rig.item(QStringLiteral("Production"))->isChecked());
        QVERIFY(!rig.item(QStringLiteral("Staging"))->isChecked());
        QVERIFY(!rig.item(QStringLiteral("Refresh desktop context"))->isEnabled());
        QVERIFY(!rig.item(QStringLiteral("Capture screen (Action mode)"))->isEnabled());
        QVERIFY(rig.item(QStringLiteral("ZaPum settings…")));

        rig.item(QStringLiteral("Staging"))->trigger();
        rig.item(QStringLiteral("Action mode"))->trigger();
        rig.item(QStringLiteral("Pause remote help"))->trigger();
        QVERIFY(changed.wait(2000));
        QCOMPARE(rig.backend.environment.current(), ZaPumEnvironment::Staging);
        QVERIFY(rig.actionMode.isEnabled());
        QVERIFY(rig.backend.environment.isPaused());
        QCOMPARE(rig.menu.dot(), StatusDot::Paused);
        QVERIFY(rig.item(QStringLiteral("Environment: Staging")));
        QVERIFY(rig.item(QStringLiteral("Resume remote help"))->isChecked());
        QVERIFY(rig.item(QStringLiteral("Refresh desktop context"))->isEnabled());
        QVERIFY(rig.item(QStringLiteral("Capture screen (Action mode)"))->isEnabled());

        for (const char *text : {"Show companion", "Toggle companion", "Center above Dock (resume patrol)",
                                 "Refresh guidance", "Talk to ZaPum", "ZaPum settings…", "Settings…",
                                 "What's ZaPum?", "Quit ZaPum"})
            rig.item(QString::fromUtf8(text))->trigger();
        QCOMPARE(rig.triggered, QStringList({QStringLiteral("show"), QStringLiteral("toggle"), QStringLiteral("center"),
                                             QStringLiteral("refresh"), QStringLiteral("talk"), QStringLiteral("settings"),
                                             QStringLiteral("settings"), QStringLiteral("onboarding"),
                                             QStringLiteral("quit")}));

        rig.item(QStringLiteral("Sign out"))->trigger();
        QVERIFY(changed.wait(2000));
        QCOMPARE(rig.texts().first(), QStringLiteral("Signed out"));
    }

    void callbackArgument_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("url");
        QTest::newRow("none") << QStringList{QStringLiteral("zapum")} << QString();
        QTest::newRow("callback") << QStringList{QStringLiteral("zapum"), QStringLiteral("zapum://auth/callback?code=1&state=2")}
                                  << QStringLiteral("zapum://auth/callback?code=1&state=2");
        QTest::newRow("scheme in capitals") << QStringList{QStringLiteral("zapum"), QStringLiteral("ZAPUM://auth/callback")}
                                            << QStringLiteral("zapum://auth/callback");
        QTest::newRow("another scheme") << QStringList{QStringLiteral("zapum"), QStringLiteral("https://example.com/")}
                                        << QString();
        QTest::newRow("an option") << QStringList{QStringLiteral("zapum"), QStringLiteral("--help")} << QString();
        QTest::newRow("not a URL") << QStringList{QStringLiteral("zapum"), QStringLiteral("zapum://a b%zz")} << QString();
        QTest::newRow("the program name itself is no argument")
            << QStringList{QStringLiteral("zapum://auth/callback")} << QString();
    }
    void callbackArgument()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, url);
        const std::optional<QUrl> found = callbackUrlArgument(arguments);
        QCOMPARE(found ? found->toString() : QString(), url);
    }

    void secondProcessHandsItsUrlToTheFirst()
    {
        const QString name = instanceChannelName(QDir::tempPath() + QStringLiteral("/tst_app_shell-") +
                                                 QString::number(QCoreApplication::applicationPid()));
        QVERIFY2(!handOffToRunningInstance(name, QUrl(QStringLiteral("zapum://x")), 200), "nobody listens yet");
        InstanceChannel first(name);
        QVERIFY(first.listen());
        InstanceChannel second(name);
        QVERIFY2(!second.listen(), "one instance per settings folder");

        QSignalSpy received(&first, &InstanceChannel::urlReceived);
        const QUrl callback(QStringLiteral("zapum://auth/callback?code=abc&state=0123"));
        // The sender blocks until the receiver has read the line, as the second process does.
        std::atomic<bool> handed = false;
        {
            std::jthread sender([&] { handed = handOffToRunningInstance(name, callback); });
            QTRY_COMPARE(received.size(), 1);
        }
        QCOMPARE(received.first().first().toUrl(), callback);
        QVERIFY(handed);
    }

    void strayTextOnTheChannelIsDropped()
    {
        const QString name = instanceChannelName(QStringLiteral("/stray-") + QString::number(QCoreApplication::applicationPid()));
        InstanceChannel channel(name);
        QVERIFY(channel.listen());
        QSignalSpy received(&channel, &InstanceChannel::urlReceived);
        for (const QByteArray &line : {QByteArray("not a url\n"), QByteArray("\n"), QByteArray(10000, 'x')}) {
            QLocalSocket socket;
            socket.connectToServer(name);
            QVERIFY(socket.waitForConnected(1000));
            socket.write(line);
            socket.flush();
            QTRY_VERIFY(socket.state() == QLocalSocket::UnconnectedState || received.size() > 0);
        }
        QCOMPARE(received.size(), 0);
    }

    void aCrashedInstancesSocketIsTakenOver()
    {
        const QString name = instanceChannelName(QStringLiteral("/crashed-") + QString::number(QCoreApplication::applicationPid()));
        // A socket file nobody answers on, as a killed instance leaves it.
        {
            QLocalServer stale;
            QVERIFY(stale.listen(name));
            const QString path = stale.fullServerName();
            stale.close();
            QFile placeholder(path);
            QVERIFY(placeholder.open(QIODevice::WriteOnly));
        }
        InstanceChannel channel(name);
        QVERIFY(channel.listen());
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestAppShell test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app_shell.moc"
