#include "app/app_notifications.h"
#include "companion/onboarding_manager.h"
#include "desktop/action_mode_store.h"
#include "platform/modifier_key_source.h"
#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/desktop_driver.h"
#include "support/fake_desktop.h"
#include "ui/account_view_model.h"
#include "ui/qml_window.h"
#include "ui/settings_view_model.h"
#include "voice/talk_key.h"
#include "voice/voice_settings_store.h"

#include <QApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>

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

}  // namespace

class TestAppWindows : public QObject {
    Q_OBJECT
    OwnWarnings m_warnings;

private Q_SLOTS:
    void init() { m_warnings.take(); }
    void cleanup()
    {
        const QStringList warnings = m_warnings.take();
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
        QCOMPARE(rig.settings.askModelIndex(), 0);
        rig.backend.settings.setValue(QStringLiteral("ZaPumAskModel"), QStringLiteral("gpt-5-ultra"));
        QCOMPARE(rig.settings.askModelIndex(), 0);
        rig.backend.settings.setValue(QStringLiteral("ZaPumAskModel"), QStringLiteral("gpt-4.1-mini"));
        QCOMPARE(rig.settings.askModelIndex(), 2);
        rig.settings.setAskModelIndex(3);
        QCOMPARE(rig.backend.settings.storedText(QStringLiteral("ZaPumAskModel")), std::optional<QString>(u"gpt-4.1-nano"_qs));
    }

    void keysAreSavedUnderTheirAccountsAndClearedAlone()
    {
        WindowsRig rig;
        QVERIFY(!rig.settings.saveKey(u"elevenlabs"_qs, QStringLiteral(" \t\n")));
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
        QCOMPARE(rig.backend.settings.storedBool(QStringLiteral("ZaPumPatrolNearDockEnabled")), std::optional<bool>(true));
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
        QCOMPARE(rig.voice.talkKey(), modifier_keys::kRightControl);
        QCOMPARE(rig.settings.holdToTalkText(), u"Hold Right Ctrl for 0.4 s"_qs);
        QVERIFY(rig.settings.talkHelpText().startsWith(u"Hold Right Ctrl to start listening"_qs));
        QCOMPARE(talkKeyNote(modifier_keys::kRightOption, false), QString());
        QVERIFY(talkKeyNote(modifier_keys::kRightOption, true).startsWith(u"With this keyboard layout Right Alt is AltGr"_qs));
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
        environment.setCurrent(ZaPumEnvironment::Local);
        QCOMPARE(environment.apiBaseUrl(), u"http://localhost:4001"_qs);
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
        QmlWindow window(rig.engine, {QUrl(QStringLiteral("qrc:/zapum/ui/AccountPanel.qml")), QStringLiteral("ZaPum account"),
                                      QSize(440, 400), QSize(), true,
                                      {{QStringLiteral("account"), QVariant::fromValue<QObject *>(&rig.account)}}},
                         true);
        window.present();
        QQuickView &view = *window.view();
        const auto text = [&view](const char *name) { return findItem(view, name)->property("text").toString(); };
        QVERIFY(findItem(view, "browserButton")->isVisible());
        QVERIFY(!findItem(view, "signOutButton")->isVisible());
        QVERIFY(!findItem(view, "tokenButton")->isVisible());
        findItem(view, "emailField")->setProperty("text", QStringLiteral("   "));
        findItem(view, "tokenField")->setProperty("text", QStringLiteral("tok"));
        QVERIFY2(!findItem(view, "tokenButton")->property("enabled").toBool(), "blank e-mail");

        rig.backend.signIn(BackendGraph::userSession(std::nullopt));
        QVERIFY(findItem(view, "signOutButton")->isVisible());
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
        QCOMPARE(forward->property("text").toString(), QStringLiteral("Continue"));
        QVERIFY(!findItem(*window->view(), "backButton")->isVisible());
        QMetaObject::invokeMethod(forward, "clicked");
        QMetaObject::invokeMethod(forward, "clicked");
        QCOMPARE(root->property("page").toInt(), 2);
        QCOMPARE(forward->property("text").toString(), QStringLiteral("Get started"));

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
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // QTest's mouse helpers reach the application through qApp, which names QApplication here.
    QApplication app(argc, argv);
    TestAppWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app_windows.moc"
