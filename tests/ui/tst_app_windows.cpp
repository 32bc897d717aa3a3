#include "app/app_notifications.h"
#include "companion/onboarding_manager.h"
#include "desktop/action_mode_store.h"
#include "support/backend_graph.h"
#include "support/desktop_driver.h"
#include "support/fake_desktop.h"
#include "ui/account_view_model.h"
#include "ui/qml_window.h"
#include "ui/settings_view_model.h"
#include "voice/voice_settings_store.h"

#include <QGuiApplication>
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

QQuickItem *findItem(QQuickView &view, const QString &name)
{
    return zapum::test::findItem(view.rootObject(), name);
}

}  // namespace

class TestAppWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tokenSignInOffered_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("signingIn");
        QTest::addColumn<bool>("offered");
        QTest::newRow("both given") << "ada@example.com" << "t" << false << true;
        QTest::newRow("e-mail of spaces and line breaks") << " \n " << "t" << false << false;
        QTest::newRow("no token") << "ada@example.com" << "" << false << false;
        QTest::newRow("a token of spaces is typed as meant") << "ada@example.com" << "  " << false << true;
        QTest::newRow("already signing in") << "ada@example.com" << "t" << true << false;
    }
    void tokenSignInOffered()
    {
        QFETCH(QString, email);
        QFETCH(QString, token);
        QFETCH(bool, signingIn);
        QFETCH(bool, offered);
        QCOMPARE(canSignInWithToken(email, token, signingIn), offered);
    }

    void labels_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("idle") << voiceStateLabel(VoiceBeeState::idle()) << "Idle";
        QTest::newRow("listening") << voiceStateLabel(VoiceBeeState::listening()) << "Listening…";
        QTest::newRow("error") << voiceStateLabel(VoiceBeeState::error(QStringLiteral("No mic"))) << "Error: No mic";
        DesktopWindowInfo window;
        window.ownerPID = 42;
        window.layer = 3;
        window.bounds = QRectF(10.4, -20.6, 800.5, 599.5);
        QTest::newRow("window line, whole numbers") << windowDetailLine(window) << "PID 42 · layer 3 · 801×600 @ (10, -21)";
        QTest::newRow("never refreshed") << windowsRefreshLine(std::nullopt) << "";
        QTest::newRow("side") << companionSideLine(71.6) << "Current: 72 pt";
    }
    void labels()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void onboardingPages_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("showsBack");
        QTest::addColumn<bool>("isLast");
        QTest::addColumn<int>("afterEscape");
        QTest::addColumn<int>("afterReturn");
        QTest::newRow("first: Escape does nothing") << 0 << false << false << 0 << 1;
        QTest::newRow("middle") << 1 << true << false << 0 << 2;
        QTest::newRow("last: Return finishes in place") << 2 << true << true << 1 << 2;
    }
    void onboardingPages()
    {
        QFETCH(int, page);
        const int count = int(onboardingSteps().size());
        QCOMPARE(count, 3);
        QTEST(onboardingShowsBack(page), "showsBack");
        QTEST(onboardingIsLastPage(page, count), "isLast");
        QTEST(onboardingPageAfterKey(page, count, true), "afterEscape");
        QTEST(onboardingPageAfterKey(page, count, false), "afterReturn");
    }

    void sizeSnapsToItsStepsAndAnnouncesTheChange_data()
    {
        QTest::addColumn<double>("moved");
        QTest::addColumn<double>("stored");
        QTest::newRow("a step") << 80.0 << 80.0;
        QTest::newRow("between steps") << 81.9 << 80.0;
        QTest::newRow("below the range") << 10.0 << 48.0;
        QTest::newRow("above the range") << 500.0 << 96.0;
    }
    void sizeSnapsToItsStepsAndAnnouncesTheChange()
    {
        QFETCH(double, moved);
        QFETCH(double, stored);
        WindowsRig rig;
        QSignalSpy layout(&rig.notifications, &AppNotifications::companionLayoutChanged);
        rig.settings.setCompanionSide(moved);
        QCOMPARE(rig.backend.settings.storedNumber(QStringLiteral("ZaPumCompanionSide")), std::optional<double>(stored));
        QCOMPARE(layout.size(), 1);
        rig.settings.setCompanionSide(moved);
        QCOMPARE(layout.size(), 1);
    }

    void askModelPicker_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("index");
        QTest::newRow("absent") << QString() << 0;
        QTest::newRow("unknown") << "gpt-5-ultra" << 0;
        QTest::newRow("known") << "gpt-4.1-mini" << 2;
    }
    void askModelPicker()
    {
        QFETCH(QString, stored);
        QFETCH(int, index);
        WindowsRig rig;
        if (!stored.isNull())
            rig.backend.settings.setValue(QStringLiteral("ZaPumAskModel"), stored);
        QCOMPARE(rig.settings.askModelIndex(), index);
        QCOMPARE(rig.settings.askModelTitles().first(), QStringLiteral("GPT-4o mini — fast, economical"));
        rig.settings.setAskModelIndex(3);
        QCOMPARE(rig.backend.settings.storedText(QStringLiteral("ZaPumAskModel")), std::optional<QString>(QStringLiteral("gpt-4.1-nano")));
    }

    void keysAreSavedOnlyWithContentAndCleared_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("storeAccount");
        QTest::newRow("anthropic") << "anthropic" << "voice.anthropic";
        QTest::newRow("elevenlabs") << "elevenlabs" << "voice.elevenlabs";
    }
    void keysAreSavedOnlyWithContentAndCleared()
    {
        QFETCH(QString, account);
        QFETCH(QString, storeAccount);
        WindowsRig rig;
        QVERIFY(!rig.settings.canSaveKey(QStringLiteral(" \t\n")));
        QVERIFY(!rig.settings.saveKey(account, QStringLiteral("   ")));
        QVERIFY(!rig.backend.secrets.items.contains(storeAccount));
        QVERIFY(rig.settings.saveKey(account, QStringLiteral("  key-1 ")));
        QVERIFY(rig.backend.secrets.items.contains(storeAccount));
        const bool present = account == QLatin1String("anthropic") ? rig.voice.anthropicKeyPresent() : rig.voice.elevenLabsKeyPresent();
        QVERIFY(present);
        rig.settings.clearKey(account);
        QVERIFY(!rig.voice.anthropicKeyPresent() && !rig.voice.elevenLabsKeyPresent());
    }

    void strollTurnedOnAsksForThePatrol()
    {
        WindowsRig rig;
        rig.settings.setPatrolNearDock(false);
        QCOMPARE(rig.patrolTurnedOn, 0);
        rig.settings.setPatrolNearDock(true);
        QCOMPARE(rig.patrolTurnedOn, 1);
        QCOMPARE(rig.backend.settings.storedBool(QStringLiteral("ZaPumPatrolNearDockEnabled")), std::optional<bool>(true));
    }

    void activateOnlyWhileActionModeIsOn()
    {
        WindowsRig rig;
        rig.settings.activateApp(7);
        QVERIFY(rig.activated.isEmpty());
        rig.actionMode.setEnabled(true);
        rig.settings.activateApp(7);
        QCOMPARE(rig.activated, QList<qint32>{7});
    }

    void windowsLoadWithoutErrors_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("properties");
        QTest::newRow("account panel") << "qrc:/zapum/ui/AccountPanel.qml" << QStringList{QStringLiteral("account")};
        QTest::newRow("settings") << "qrc:/zapum/ui/SettingsWindow.qml"
                                  << QStringList{QStringLiteral("account"), QStringLiteral("settings"), QStringLiteral("environment"),
                                                 QStringLiteral("guidance"), QStringLiteral("actionMode"), QStringLiteral("voice")};
        QTest::newRow("onboarding") << "qrc:/zapum/companion/OnboardingView.qml" << QStringList{QStringLiteral("manager")};
    }
    void windowsLoadWithoutErrors()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, properties);
        WindowsRig rig;
        QList<QQmlError> warnings;
        connect(&rig.engine, &QQmlEngine::warnings, this, [&](const QList<QQmlError> &list) { warnings << list; });
        const QHash<QString, QObject *> objects{{QStringLiteral("account"), &rig.account},
                                                {QStringLiteral("settings"), &rig.settings},
                                                {QStringLiteral("environment"), &rig.backend.environment},
                                                {QStringLiteral("guidance"), &rig.backend.guidance},
                                                {QStringLiteral("actionMode"), &rig.actionMode},
                                                {QStringLiteral("voice"), &rig.voice},
                                                {QStringLiteral("manager"), &rig.onboarding}};
        QVariantMap initial;
        for (const QString &name : properties)
            initial.insert(name, QVariant::fromValue(objects.value(name)));
        QmlWindow window(rig.engine, {QUrl(source), QStringLiteral("t"), QSize(600, 500), QSize(), false, initial});
        window.present();
        QVERIFY(window.view()->rootObject());
        QVERIFY(window.view()->errors().isEmpty());
        QTest::qWait(50);
        QStringList messages;
        for (const QQmlError &warning : warnings)
            messages << warning.toString();
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
    }

    void accountViewFollowsTheSession()
    {
        WindowsRig rig;
        QmlWindow window(rig.engine, {QUrl(QStringLiteral("qrc:/zapum/ui/AccountPanel.qml")), QStringLiteral("ZaPum account"),
                                      QSize(440, 400), QSize(), true,
                                      {{QStringLiteral("account"), QVariant::fromValue<QObject *>(&rig.account)}}},
                         true);
        QSignalSpy closed(&window, &QmlWindow::closed);
        window.present();
        QQuickView &view = *window.view();
        QVERIFY(findItem(view, QStringLiteral("browserButton"))->isVisible());
        QVERIFY(!findItem(view, QStringLiteral("signOutButton"))->isVisible());
        QVERIFY(!findItem(view, QStringLiteral("tokenButton"))->isVisible());
        QVERIFY(!findItem(view, QStringLiteral("tokenButton"))->property("enabled").toBool());
        findItem(view, QStringLiteral("emailField"))->setProperty("text", QStringLiteral("   "));
        findItem(view, QStringLiteral("tokenField"))->setProperty("text", QStringLiteral("tok"));
        QVERIFY2(!findItem(view, QStringLiteral("tokenButton"))->property("enabled").toBool(), "blank e-mail");

        rig.backend.signIn(BackendGraph::userSession(std::nullopt));
        QVERIFY(findItem(view, QStringLiteral("signOutButton"))->isVisible());
        QCOMPARE(findItem(view, QStringLiteral("signedInEmail"))->property("text").toString(), QStringLiteral("ada@example.com"));
        QMetaObject::invokeMethod(findItem(view, QStringLiteral("signOutButton")), "clicked");
        QVERIFY(!rig.account.isSignedIn());
        QCOMPARE(findItem(view, QStringLiteral("tokenField"))->property("text").toString(), QString());
        QCOMPARE(findItem(view, QStringLiteral("emailField"))->property("text").toString(), QStringLiteral("ada@example.com"));

        QMetaObject::invokeMethod(findItem(view, QStringLiteral("closeButton")), "clicked");
        QCOMPARE(closed.size(), 1);
        QVERIFY(!window.isOpen());
    }

    void onboardingFinishesOnlyFromTheLastPage()
    {
        WindowsRig rig;
        QVERIFY(!rig.onboarding.seen());
        rig.onboarding.show();
        QmlWindow *window = rig.onboarding.window();
        QVERIFY(window && window->isOpen());
        QQuickItem *root = window->view()->rootObject();
        QQuickItem *forward = findItem(*window->view(), QStringLiteral("forwardButton"));
        QCOMPARE(forward->property("text").toString(), QStringLiteral("Continue"));
        QVERIFY(!findItem(*window->view(), QStringLiteral("backButton"))->isVisible());
        QMetaObject::invokeMethod(forward, "clicked");
        QMetaObject::invokeMethod(forward, "clicked");
        QCOMPARE(root->property("page").toInt(), 2);
        QCOMPARE(forward->property("text").toString(), QStringLiteral("Get started"));
        QVERIFY(!rig.onboarding.seen());

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
    QGuiApplication app(argc, argv);
    TestAppWindows test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app_windows.moc"
