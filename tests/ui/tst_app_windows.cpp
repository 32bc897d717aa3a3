// The app's windows: the settings window's stores and the account, walkthrough and popover rules
// over a rig of fakes, then the real composition root in this process over a private home, driven
// with Qt's test tools.
#include "app/app_notifications.h"
#include "app/start_at_login_store.h"
#include "app/zapum_app.h"
#include "backend/environment_store.h"
#include "backend/guidance_service.h"
#include "backend/session_controller.h"
#include "companion/onboarding_manager.h"
#include "desktop/action_mode_store.h"
#include "platform/modifier_key_source.h"
#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/desktop_driver.h"
#include "support/fake_desktop.h"
#include "ui/account_view_model.h"
#include "ui/guidance_popover_host.h"
#include "ui/guidance_popover_model.h"
#include "ui/qml_window.h"
#include "ui/settings_view_model.h"
#include "voice/talk_key.h"
#include "voice/voice_settings_store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

namespace {

// The settings window's stores over private settings, an in-memory keychain and a fake desktop.
struct WindowsRig {
    BackendGraph backend;
    FakeWindowServer windowServer;
    FakeWorkspace workspace;
    FakeScreenCapture capture;
    FakeInputSynthesizer input;
    ActionModeStore actionMode{backend.settings, windowServer, workspace, capture, input};
    VoiceSettingsStore voice{backend.settings, backend.voiceKeychain};
    AppNotifications notifications;
    QQmlEngine engine;
    QList<qint32> activated;
    int patrolTurnedOn = 0;
    SettingsViewModel settings{backend.settings, backend.environment, backend.guidance, actionMode, voice,
                               backend.voiceKeychain, notifications, QString(),
                               {{}, [this] { ++patrolTurnedOn; }, {}, {}, [this](qint32 pid) { activated << pid; }}};
    AccountViewModel account{backend.sessions, backend.environment};
    OnboardingManager onboarding{backend.settings, engine};
};

QQuickItem *findItem(QQuickView &view, const char *name)
{
    return zapum::test::findItem(view.rootObject(), QLatin1String(name));
}

// A real click through Qt's event path, at the item's centre once it is laid out.
void click(QQuickView &view, QQuickItem *target)
{
    QTRY_VERIFY(target->isVisible() && target->width() > 0);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(&view, Qt::LeftButton, {}, centre.toPoint());
}

void click(QQuickView &view, const char *name)
{
    click(view, findItem(view, name));
}

void typeText(QWindow &window, const char *text)
{
    for (const char *c = text; *c; ++c)
        QTest::keyClick(&window, *c);
}

}  // namespace

class TestAppWindows : public QObject {
    Q_OBJECT
    OwnWarnings m_warnings;

    static bool inTheApp() { return QByteArray(QTest::currentTestFunction()).startsWith("app"); }

private Q_SLOTS:
    void init()
    {
        // The app's own graph reaches for the X server; the rest runs anywhere.
        if (inTheApp() && qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test session (scripts/test-session.sh)");
        m_warnings.take();
    }

    // The app reports the missing keyring (and a refused autostart folder), as it should; its
    // windows' QML is clean all the same.
    void cleanup()
    {
        QStringList warnings = m_warnings.take();
        if (inTheApp())
            warnings = warnings.filter(u".qml:"_s);
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
    }

    void sizeSnapsToItsStepsAndAnnouncesOnlyAChange()
    {
        WindowsRig rig;
        QSignalSpy layout(&rig.notifications, &AppNotifications::companionLayoutChanged);
        const auto stored = [&rig] { return rig.backend.settings.storedNumber(QStringLiteral("ZaPumCompanionSide")); };
        rig.settings.setCompanionSide(81.9);
        QCOMPARE(stored(), std::optional<double>(80.0));
        QCOMPARE(layout.size(), 1);
        rig.settings.setCompanionSide(80.0);  // the same step
        QCOMPARE(layout.size(), 1);
        rig.settings.setCompanionSide(10.0);
        QCOMPARE(stored(), std::optional<double>(48.0));
        rig.settings.setCompanionSide(500.0);
        QCOMPARE(stored(), std::optional<double>(96.0));
        QCOMPARE(layout.size(), 3);
    }

    void askModelPickerFallsBackToTheFirst()
    {
        WindowsRig rig;
        rig.backend.settings.setValue(QStringLiteral("ZaPumAskModel"), QStringLiteral("gpt-5-ultra"));
        QCOMPARE(rig.settings.askModelIndex(), 0);
        rig.backend.settings.setValue(QStringLiteral("ZaPumAskModel"), QStringLiteral("gpt-4.1-mini"));
        QCOMPARE(rig.settings.askModelIndex(), 2);
        rig.settings.setAskModelIndex(3);
        QCOMPARE(rig.backend.settings.storedText(u"ZaPumAskModel"_qs), std::optional(u"gpt-4.1-nano"_qs));
    }

    void keysAreSavedUnderTheirAccountsAndClearedAlone()
    {
        WindowsRig rig;
        for (const QString &account : {u"anthropic"_qs, u"elevenlabs"_qs}) {
            QVERIFY(rig.settings.saveKey(account, QStringLiteral("  key-1 ")));
            QVERIFY(rig.backend.secrets.items.contains(u"voice."_qs + account));
        }
        rig.settings.clearKey(u"anthropic"_qs);
        QVERIFY(!rig.voice.anthropicKeyPresent() && rig.voice.elevenLabsKeyPresent());
    }

    void switchesReachTheirCallbacks()
    {
        WindowsRig rig;
        rig.settings.setPatrolNearDock(false);
        rig.settings.activateApp(7);  // action mode is off
        QCOMPARE(rig.patrolTurnedOn, 0);
        QVERIFY(rig.activated.isEmpty());
        rig.settings.setPatrolNearDock(true);
        rig.actionMode.setEnabled(true);
        rig.settings.activateApp(7);
        QCOMPARE(rig.patrolTurnedOn, 1);
        QCOMPARE(rig.backend.settings.storedBool(u"ZaPumPatrolNearDockEnabled"_qs), std::optional(true));
        QCOMPARE(rig.activated, QList<qint32>{7});
    }

    // The texts name this desktop's things, and every talk hint follows the chosen key.
    void wordsOfThisDesktop()
    {
        WindowsRig rig;
        QCOMPARE(onboardingSteps().first().title, u"Your guide lives above the taskbar"_qs);
        QCOMPARE(rig.settings.strollLabel(), u"Stroll near the bottom of the screen"_qs);
        QCOMPARE(rig.settings.centerLabel(), u"Center above the taskbar (resume patrol)"_qs);
        QCOMPARE(rig.settings.holdToTalkText(), u"Hold Right Alt for 0.4 s"_qs);
        rig.settings.setTalkKeyIndex(1);
        QCOMPARE(rig.backend.settings.storedText(u"ZaPumVoiceTalkKey"_qs), std::optional<QString>(u"RightControl"_qs));
        QCOMPARE(rig.settings.holdToTalkText(), u"Hold Right Ctrl for 0.4 s"_qs);
        QVERIFY(rig.settings.talkHelpText().startsWith(u"Hold Right Ctrl to start listening"_qs));
        QCOMPARE(talkKeyNote(modifier_keys::kRightOption, false), QString());
        QVERIFY(talkKeyNote(modifier_keys::kRightOption, true).contains(u"Right Alt is AltGr"_qs));
    }

    // Launch rules and the preset following a switch (the picker is checked in the app itself).
    void environmentSwitching()
    {
        QTemporaryDir dir;
        SettingsStorage stored(dir.filePath(u"settings.json"_qs));
        stored.setValue(u"ZaPumEnvironment"_qs, u"Moon"_qs);
        stored.setValue(u"ZaPumAPIBaseURL"_qs, u"  "_qs);
        EnvironmentStore environment(stored);
        QCOMPARE(environment.current(), ZaPumEnvironment::Production);
        QCOMPARE(environment.apiBaseUrl(), u"https://api.zapum.app"_qs);
        environment.setApiBaseUrl(u"http://10.0.0.5:4001"_qs);
        environment.setCurrent(ZaPumEnvironment::Staging);
        QCOMPARE(environment.apiBaseUrl(), u"http://10.0.0.5:4001"_qs);
    }

    // A failure about one server does not linger once the user points elsewhere.
    void signInErrorClearsWhenTheServerChanges()
    {
        WindowsRig rig;
        const std::function<void()> changes[] = {
            [&rig] { rig.backend.environment.setCurrent(ZaPumEnvironment::Staging); },
            [&rig] { rig.backend.environment.setApiBaseUrl(u"http://127.0.0.1:9"_qs); },
        };
        for (const auto &change : changes) {
            awaitTask(rig.backend.sessions.signIn(u" "_qs, u"t"_qs, QString()));
            QVERIFY(!rig.account.signInError().isEmpty());
            change();
            QCOMPARE(rig.account.signInError(), QString());
        }
    }

    void accountViewFollowsTheSession()
    {
        WindowsRig rig;
        QmlWindow window(rig.engine, {QUrl(u"qrc:/zapum/ui/AccountPanel.qml"_qs), u"ZaPum account"_qs,
                                      QSize(440, 400), QSize(), true,
                                      {{QStringLiteral("account"), QVariant::fromValue<QObject *>(&rig.account)}}},
                         true);
        window.present();
        QQuickView &view = *window.view();
        const auto text = [&view](const char *name) { return findItem(view, name)->property("text").toString(); };
        QVERIFY2(!findItem(view, "tokenButton")->isVisible(), "opens folded");
        findItem(view, "emailField")->setProperty("text", QStringLiteral("   "));
        findItem(view, "tokenField")->setProperty("text", QStringLiteral("tok"));
        QVERIFY2(!findItem(view, "tokenButton")->property("enabled").toBool(), "blank e-mail");

        rig.backend.signIn(BackendGraph::userSession(std::nullopt));
        QCOMPARE(text("signedInEmail"), QStringLiteral("ada@example.com"));
        QMetaObject::invokeMethod(findItem(view, "signOutButton"), "clicked");
        QVERIFY(!rig.account.isSignedIn());
        QCOMPARE(text("tokenField"), QString());
        QCOMPARE(text("emailField"), QStringLiteral("ada@example.com"));

        QMetaObject::invokeMethod(findItem(view, "closeButton"), "clicked");
        QVERIFY(!window.isOpen());
    }

    void onboardingFinishesOnlyFromTheLastPage()
    {
        WindowsRig rig;
        rig.onboarding.show();
        QmlWindow *window = rig.onboarding.window();
        QVERIFY(window && window->isOpen());
        QQuickItem *root = window->view()->rootObject();
        QQuickItem *forward = findItem(*window->view(), "forwardButton");
        QMetaObject::invokeMethod(forward, "clicked");
        QMetaObject::invokeMethod(forward, "clicked");
        QCOMPARE(root->property("page").toInt(), 2);

        // Closing the window is not finishing; showing it again keeps the page.
        window->close();
        QVERIFY(!rig.onboarding.seen());
        rig.onboarding.show();
        QCOMPARE(rig.onboarding.window(), window);
        QCOMPARE(root->property("page").toInt(), 2);
        QMetaObject::invokeMethod(forward, "clicked");
        QVERIFY(rig.onboarding.seen());
        QVERIFY(!window->isOpen());
    }

    // The guidance popover's rules (its window, above the bee and centred on it, is tested beside the bee).
    void popoverRules()
    {
        QCOMPARE(popoverHeader(true, u"ada@example.com"_qs).text, u"Signed in as ada@example.com"_qs);
        const PopoverHeader local = popoverHeader(true, QString());  // linked, but no e-mail to show
        QCOMPARE(local.text, u"Local assistant"_qs);
        QVERIFY(!local.showsLinkedIcon);

        QCOMPARE(questionToSend(u"  where is the invoice?\n"_qs, false), std::optional(u"where is the invoice?"_qs));
        QCOMPARE(questionToSend(u" \n\n "_qs, false), std::nullopt);

        const QSizeF size(360, 300);
        const QRectF screen(0, 22, 1280, 778);
        QCOMPARE(popoverFrame(size, QRectF(600, 40, 72, 72), screen), QRectF(456, 118, 360, 300));   // no room: below
        QCOMPARE(popoverFrame(size, QRectF(1250, 710, 72, 72), screen), QRectF(920, 404, 360, 300));  // held inside
    }

    void popoverPrimaryActionOnlyOpensWebPages_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QUrl>("target");
        const QString setup = QStringLiteral("https://example.com/setup?step=2");
        QTest::newRow("web page") << QStringLiteral("Open setup") << setup << QUrl(setup);
        QTest::newRow("no label") << QString() << setup << QUrl();
        QTest::newRow("a local file") << QStringLiteral("Open") << QStringLiteral("file:///etc/passwd") << QUrl();
        QTest::newRow("a made-up scheme") << QStringLiteral("Open") << QStringLiteral("zapum://auth/callback?code=1")
                                          << QUrl();
    }
    void popoverPrimaryActionOnlyOpensWebPages()
    {
        QFETCH(QString, label);
        QFETCH(QString, url);
        QTEST(primaryActionTarget(label, url), "target");
    }

    void appRefusesABlankKey()
    {
        ZaPumApp app;
        app.openSettings();
        QQuickView &settings = *app.settingsWindow().view();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        click(settings, "tabVoice");
        QVERIFY2(findItem(settings, "fallbackWarning")->isVisible(), "without a keyring the Voice tab says so");
        click(settings, "anthropicKeyField");
        typeText(settings, "   ");
        QCOMPARE(findItem(settings, "anthropicKeyField")->property("text").toString(), u"   "_s);
        click(settings, "anthropicSaveButton");
        QVERIFY(!app.voiceSettings().anthropicKeyPresent());
        click(settings, "anthropicKeyField");
        typeText(settings, "sk-test");
        click(settings, "anthropicSaveButton");
        QVERIFY(app.voiceSettings().anthropicKeyPresent());
    }

    void appStartAtLoginSwitchWritesAndRemovesTheAutostartEntry()
    {
        const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + u"/autostart"_s;
        const QString entry = folder + u"/zapum.desktop"_s;
        ZaPumApp app;
        app.openSettings();
        QQuickView &settings = *app.settingsWindow().view();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        click(settings, "tabCompanion");
        QVERIFY2(!findItem(settings, "startAtLoginSwitch")->property("checked").toBool(), "off by default");

        // A file where the folder should be: the switch springs back and says why.
        QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        click(settings, "startAtLoginSwitch");
        QVERIFY(!findItem(settings, "startAtLoginSwitch")->property("checked").toBool());
        QVERIFY(findItem(settings, "startAtLoginError")->isVisible());
        QVERIFY(QFile::remove(folder));

        click(settings, "startAtLoginSwitch");
        QVERIFY(app.startAtLogin().isEnabled());
        QVERIFY(!findItem(settings, "startAtLoginError")->isVisible());
        settings.grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/settings-start-at-login.png"));
        QVERIFY(QFile::exists(entry));  // what it says has a test of its own
        click(settings, "startAtLoginSwitch");
        QVERIFY(!QFile::exists(entry));
        QVERIFY(!findItem(settings, "startAtLoginSwitch")->property("checked").toBool());
    }

    void appClosingTheAccountPanelCancelsABrowserSignIn()
    {
        ZaPumApp app;
        app.start(nullptr);
        QTRY_VERIFY(app.accountPanel().isOpen());
        QQuickView &panel = *app.accountPanel().view();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        click(panel, "browserButton");
        QTRY_VERIFY(app.sessions().isBrowserSignInPending());
        panel.grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/app-shell-account-waiting.png"));
        panel.close();
        QTRY_VERIFY(!app.sessions().isBrowserSignInPending());
        QCOMPARE(app.sessions().signInErrorText(), u"Browser sign-in was cancelled."_s);

        // A refresh from the tray that fetched nothing claims no sync.
        awaitTask(app.refreshGuidanceFromMenu());
        QCOMPARE(app.environment().lastSyncLabel(), u"Never synced"_s);
    }

    // The picker is an exclusive group that always shows the current environment, whoever changed
    // it. Last, as the environment it leaves behind stays in the settings.
    void appEnvironmentPickerShowsTheCurrentOne()
    {
        ZaPumApp app;
        app.openSettings();
        QQuickView &settings = *app.settingsWindow().view();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        findItem(settings, "tabs")->setProperty("currentIndex", 1);
        QList<QQuickItem *> segments;
        for (QQuickItem *child : findItem(settings, "environmentPicker")->childItems())
            if (child->property("checkable").toBool())
                segments << child;
        QCOMPARE(segments.size(), 3);
        const auto checked = [&segments] {
            QStringList names;
            for (QQuickItem *segment : segments)
                if (segment->property("checked").toBool())
                    names << segment->property("text").toString();
            return names;
        };
        QCOMPARE(checked(), QStringList{u"Production"_s});
        click(settings, segments[0]);  // the chosen one stays chosen
        QCOMPARE(checked(), QStringList{u"Production"_s});
        click(settings, segments[2]);
        QCOMPARE(app.environment().current(), ZaPumEnvironment::Local);
        QCOMPARE(checked(), QStringList{u"Local (dev)"_s});
        QCOMPARE(findItem(settings, "apiBaseUrlField")->property("text").toString(), u"http://localhost:4001"_s);
        app.environment().setCurrent(ZaPumEnvironment::Staging);  // as the tray's menu does
        QCOMPARE(checked(), QStringList{u"Staging"_s});
    }
};

int main(int argc, char *argv[])
{
    // A private home: settings and (with no bus to reach a keyring) secrets in files of their own,
    // and a stand-in for xdg-open so no browser starts.
    QTemporaryDir home;
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toUtf8() + '/' + QByteArray(name).toLower());
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.path().toUtf8() + "/no-bus");
    QDir().mkpath(home.path() + u"/bin"_s);
    QFile::link(u"/bin/true"_s, home.path() + u"/bin/xdg-open"_s);
    qputenv("PATH", home.path().toUtf8() + "/bin:" + qgetenv("PATH"));
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestAppWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app_windows.moc"
