#include "app/app_delegate.h"
#include "app/command_line.h"
#include "app/instance_channel.h"
#include "app/status_menu.h"
#include "platform/modifier_key_source.h"
#include "desktop/action_mode_store.h"
#include "support/backend_graph.h"
#include "support/fake_desktop.h"
#include "voice/voice_settings_store.h"
#include "platform/linux/xdg_autostart.h"

#include <QApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace zapum;

namespace {

// Collaborators that only write down what was asked of them, as one line of calls.
struct DelegateRig {
    QStringList calls;
    std::function<void()> note(const char *call)
    {
        return [this, call] { calls << QString::fromLatin1(call); };
    }
    bool signedIn = false;
    bool onboardingSeen = false;
    AppDelegate delegate{{note("restore"), note("permissions"), [this] { return signedIn; }, note("panel"),
                          note("setup"), note("show"), note("hide"), [this] { return onboardingSeen; },
                          note("onboarding"), note("hotkey"), note("cancel")}};
};

// The menu as lines: "-" a separator, "[x]"/"[ ]" a toggle, "(off)" a disabled item, "Name >"
// a submenu followed by its items indented.
QStringList outline(const QMenu &menu, const QString &indent = QString())
{
    QStringList lines;
    for (const QAction *action : menu.actions()) {
        if (action->isSeparator()) {
            lines << indent + u"-"_s;
        } else if (action->menu()) {
            lines << indent + action->text() + u" >"_s << outline(*action->menu(), indent + u"  "_s);
        } else {
            const QString toggle = action->isCheckable() ? (action->isChecked() ? u"[x] "_s : u"[ ] "_s) : QString();
            lines << indent + toggle + action->text() + (action->isEnabled() ? QString() : u" (off)"_s);
        }
    }
    return lines;
}

}  // namespace

class TestAppShell : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void launchAndSessionChanges_data()
    {
        QTest::addColumn<bool>("atLogin");
        QTest::addColumn<bool>("signedInAtLaunch");
        QTest::addColumn<bool>("onboardingSeen");
        QTest::addColumn<QList<bool>>("changes");
        QTest::addColumn<QString>("calls");
        QTest::newRow("sign-out after being online: cancel, hide, panel; walkthrough seen, sign-in again only shows")
            << false << true << true << QList<bool>{false, true}
            << "restore permissions setup hotkey show cancel hide panel show";
        QTest::newRow("signed out at launch, then a first sign-in brings the companion online once")
            << false << false << false << QList<bool>{true, false, true}
            << "restore permissions panel panel panel setup onboarding hotkey cancel hide panel show";
        QTest::newRow("started at log-in, signed out: the panel opens; a first sign-in later brings the walkthrough")
            << true << false << false << QList<bool>{true}
            << "restore permissions panel panel panel setup onboarding hotkey";
    }
    void launchAndSessionChanges()
    {
        QFETCH(bool, atLogin);
        QFETCH(bool, signedInAtLaunch);
        QFETCH(bool, onboardingSeen);
        QFETCH(QList<bool>, changes);
        QFETCH(QString, calls);
        DelegateRig rig;
        rig.signedIn = signedInAtLaunch;
        rig.onboardingSeen = onboardingSeen;
        rig.delegate.sessionChanged();
        QVERIFY2(rig.calls.isEmpty(), "a session change before the launch pass is left to it");
        QSignalSpy finished(&rig.delegate, &AppDelegate::launchPassFinished);
        rig.delegate.applicationDidFinishLaunching(atLogin ? LaunchKind::AtLogin : LaunchKind::Interactive);
        QVERIFY2(rig.calls.isEmpty(), "the launch pass waits for the event loop");
        QVERIFY(finished.wait(2000));
        for (bool signedIn : changes) {
            rig.signedIn = signedIn;
            rig.delegate.sessionChanged();
        }
        QCOMPARE(rig.calls.join(u' '), calls);
    }

    void statusMenu_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("dot");
        QTest::addColumn<QString>("lines");
        const QString tail = u"Settings…|What's ZaPum?|Quit ZaPum"_s;
        const auto signedIn = [&tail](const char *pause) -> QString {
            return u"Show companion|Toggle companion|Companion >|  ZaPum settings…|"
                   "  Center above the taskbar (resume patrol)|-|ada@example.com (off)|Sign out|-|"
                   "Environment: Production >|  [x] Production|  [ ] Staging|  [ ] Local (dev)|%1|Never synced (off)|-|"
                   "Refresh guidance|-|[ ] Action mode|Refresh desktop context (off)|"
                   "Capture screen (Action mode) (off)|Talk to ZaPum|-|"_s.arg(QLatin1String(pause))
                   + tail;
        };
        QTest::newRow("signed out") << false << false << int(StatusDot::None)
                                    << u"Signed out (off)|Sign in to ZaPum…|-|"_s + tail;
        QTest::newRow("signed in") << true << false << int(StatusDot::SignedIn) << signedIn("[ ] Pause remote help");
        QTest::newRow("paused") << true << true << int(StatusDot::Paused) << signedIn("[x] Resume remote help");
    }
    // The tray's menu in its three shapes; the primary click on the icon opens it too, and the
    // Talk item's hint names the chosen talk key.
    void statusMenu()
    {
        QFETCH(bool, signedIn);
        QFETCH(bool, paused);
        QFETCH(int, dot);
        QFETCH(QString, lines);
        test::BackendGraph backend;
        test::FakeWindowServer windows;
        test::FakeWorkspace workspace;
        test::FakeScreenCapture capture;
        test::FakeInputSynthesizer input;
        ActionModeStore actionMode(backend.settings, windows, workspace, capture, input);
        VoiceSettingsStore voice(backend.settings, backend.voiceKeychain);
        if (signedIn)
            backend.signIn(test::BackendGraph::userSession(std::nullopt));
        backend.environment.setIsPaused(paused);
        StatusMenu menu(backend.environment, backend.sessions, actionMode, voice, {});
        QTRY_COMPARE(outline(*menu.menu()).join(u'|'), lines);
        QCOMPARE(int(menu.dot()), dot);

        QSystemTrayIcon tray;
        menu.attachTo(tray);
        Q_EMIT tray.activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(menu.menu()->isVisible());
        menu.menu()->hide();

        if (!signedIn)
            return;
        const auto talkHint = [&menu] { return menu.menu()->actions().value(16)->toolTip(); };  // "Talk to ZaPum"
        QCOMPARE(talkHint(),
                 u"Hold Right Alt for 0.4 s to start listening, release to send. Or click here to toggle."_s);
        voice.setTalkKey(modifier_keys::kRightControl);
        QTRY_VERIFY(talkHint().startsWith(u"Hold Right Ctrl for 0.4 s"_s));
    }

    // What the program does with its arguments, and which of them is a sign-in callback to hand on.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("atLogin");
        QTest::addColumn<QString>("url");
        const int run = int(CommandLine::Action::Run);
        QTest::newRow("a callback") << QStringList{u"zapum"_s, u"zapum://auth/callback?code=1&state=2"_s} << run
                                    << false << u"zapum://auth/callback?code=1&state=2"_s;
        QTest::newRow("another scheme") << QStringList{u"zapum"_s, u"https://example.com/"_s} << run << false
                                        << QString();
        QTest::newRow("not a URL") << QStringList{u"zapum"_s, u"zapum://a b%zz"_s} << run << false << QString();
        QTest::newRow("the program name is no argument")
            << QStringList{u"zapum://auth/callback"_s} << run << false << QString();
        QTest::newRow("the toolkit's own options pass")
            << QStringList{u"zapum"_s, u"-platform"_s, u"xcb"_s} << run << false << QString();
        QTest::newRow("at log-in") << QStringList{u"zapum"_s, u"--autostart"_s} << run << true << QString();
        QTest::newRow("help wins over the rest") << QStringList{u"zapum"_s, u"--autostart"_s, u"-h"_s}
                                                 << int(CommandLine::Action::PrintHelp) << false << QString();
        QTest::newRow("version") << QStringList{u"zapum"_s, u"--version"_s} << int(CommandLine::Action::PrintVersion)
                                 << false << QString();
        QTest::newRow("a misspelt option is refused, not ignored")
            << QStringList{u"zapum"_s, u"--autostrat"_s} << int(CommandLine::Action::Refuse) << false << QString();
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, url);
        const CommandLine line = parseCommandLine(arguments);
        QTEST(int(line.action), "action");
        QTEST(line.atLogin, "atLogin");
        QCOMPARE(line.error.contains(u"--autostrat"_s), line.action == CommandLine::Action::Refuse);
        const std::optional<QUrl> found = callbackUrlArgument(arguments);
        QCOMPARE(found ? found->toString() : QString(), url);
    }

    // What a desktop's launcher reads back from the Exec line, after un-escaping the value and then
    // the quoted argument, must be the program path exactly.
    void autostartExecLine_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("space") << u"/home/a b/zapum"_s << u"\"/home/a b/zapum\""_s;
        QTest::newRow("quote, backquote, dollar") << u"/x/\"`$/zapum"_s << u"\"/x/\\\\\"\\\\`\\\\$/zapum\""_s;
        QTest::newRow("backslash") << u"/x\\y/zapum"_s << u"\"/x\\\\\\\\y/zapum\""_s;
        QTest::newRow("percent is no field code") << u"/x/100%/zapum"_s << u"\"/x/100%%/zapum\""_s;
    }
    void autostartExecLine()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        QCOMPARE(linux_platform::desktopExecArgument(program), exec);
        const QString entry = QString::fromUtf8(linux_platform::autostartEntry(program));
        QVERIFY2(entry.contains(u"\nExec="_s + exec + u" --autostart\n"_s), qPrintable(entry));
    }

    // A socket file nobody answers on, as a killed instance leaves it, is taken over; text on the
    // channel that is no URL is dropped.
    void theChannelTakesOverACrashedSocketAndDropsStrayText()
    {
        const QString name = instanceChannelName(u"/crashed-"_s + QString::number(QCoreApplication::applicationPid()));
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
        QSignalSpy received(&channel, &InstanceChannel::urlReceived);
        for (const QByteArray &line : {QByteArray("not a url\n"), QByteArray("\n"), QByteArray(10000, 'x')}) {
            QLocalSocket socket;
            socket.connectToServer(name);
            QVERIFY(socket.waitForConnected(1000));
            socket.write(line);
            QTRY_VERIFY(socket.state() == QLocalSocket::UnconnectedState || received.size() > 0);
        }
        QCOMPARE(received.size(), 0);
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
