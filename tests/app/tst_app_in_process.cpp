#include "app/zapum_app.h"
#include "backend/session_controller.h"
#include "companion/companion_manager.h"
#include "desktop/action_mode_store.h"
#include "foundation/settings_storage.h"
#include "support/await_task.h"
#include "support/desktop_driver.h"
#include "ui/qml_window.h"
#include "voice/voice_settings_store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QQuickView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace zapum;
using namespace zapum::test;

namespace {

QQuickItem *item(QmlWindow &window, const QString &name)
{
    QQuickItem *found = findItem(window.view()->rootObject(), name);
    if (!found)
        qWarning("no item %s", qPrintable(name));
    return found;
}

// A real click through Qt's event path, at a point of the item (fractions of its size).
void click(QmlWindow &window, const QString &name, double fx = 0.5, double fy = 0.5)
{
    QQuickItem *target = item(window, name);
    QVERIFY(target && target->isVisible());
    const QPointF point = target->mapToScene(QPointF(target->width() * fx, target->height() * fy));
    QTest::mouseClick(window.view(), Qt::LeftButton, {}, point.toPoint());
    QTest::qWait(50);
}

// Opens the settings window on one of its tabs.
QmlWindow &settingsAt(ZaPumApp &app, const QString &tab)
{
    app.openSettings();
    QmlWindow &settings = app.settingsWindow();
    if (!QTest::qWaitForWindowExposed(settings.view()))
        qWarning("the settings window did not appear");
    click(settings, QStringLiteral("tab") + tab);
    return settings;
}

void typeText(QWindow &window, const char *text)
{
    for (const char *c = text; *c; ++c)
        QTest::keyClick(&window, *c);
}

}  // namespace

// The real composition root in this process, over a private home, driven with Qt's test tools.
class TestAppInProcess : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test session (scripts/test-session.sh)");
    }

    void actionAndVoiceModeSurviveARestart()
    {
        bool voiceNow = false;
        {
            ZaPumApp app;
            QmlWindow &settings = settingsAt(app, QStringLiteral("Action"));
            click(settings, QStringLiteral("actionModeSwitch"));
            QTRY_VERIFY(app.actionMode().isEnabled());
            click(settings, QStringLiteral("tabVoice"));
            const bool voiceWas = app.voiceSettings().isEnabled();
            click(settings, QStringLiteral("voiceModeSwitch"));
            QTRY_COMPARE(app.voiceSettings().isEnabled(), !voiceWas);
            voiceNow = !voiceWas;
            QTest::qWait(300);
            settings.view()->grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/app-shell-settings-voice.png"));
        }
        ZaPumApp again;
        QVERIFY(again.actionMode().isEnabled());
        settingsAt(again, QStringLiteral("Action"));
        QVERIFY(item(again.settingsWindow(), QStringLiteral("actionModeSwitch"))->property("checked").toBool());
        click(again.settingsWindow(), QStringLiteral("tabVoice"));
        QCOMPARE(again.voiceSettings().isEnabled(), voiceNow);
        QCOMPARE(item(again.settingsWindow(), QStringLiteral("voiceModeSwitch"))->property("checked").toBool(), voiceNow);
        QVERIFY2(item(again.settingsWindow(), QStringLiteral("fallbackWarning"))->isVisible(),
                 "with no keyring the Voice tab says where the keys are");
    }

    void aBlankKeyCannotBeSaved()
    {
        ZaPumApp app;
        QmlWindow &settings = settingsAt(app, QStringLiteral("Voice"));
        click(settings, QStringLiteral("anthropicKeyField"));
        typeText(*settings.view(), "   ");
        QCOMPARE(item(settings, QStringLiteral("anthropicKeyField"))->property("text").toString(), QStringLiteral("   "));
        QVERIFY(!item(settings, QStringLiteral("anthropicSaveButton"))->isEnabled());
        click(settings, QStringLiteral("anthropicSaveButton"));
        QVERIFY(!app.voiceSettings().anthropicKeyPresent());

        click(settings, QStringLiteral("anthropicKeyField"));
        typeText(*settings.view(), "sk-test");
        QVERIFY(item(settings, QStringLiteral("anthropicSaveButton"))->isEnabled());
        click(settings, QStringLiteral("anthropicSaveButton"));
        QVERIFY(app.voiceSettings().anthropicKeyPresent());
        QCOMPARE(item(settings, QStringLiteral("anthropicKeyField"))->property("text").toString(), QString());
        click(settings, QStringLiteral("anthropicClearButton"));
        QVERIFY(!app.voiceSettings().anthropicKeyPresent());
        QVERIFY(!item(settings, QStringLiteral("anthropicClearButton"))->isEnabled());
    }

    void theSizeSliderResizesThePanelAroundItsCentre()
    {
        ZaPumApp app;
        app.start(nullptr);
        QTRY_VERIFY(app.accountPanel().isOpen());
        awaitTask(app.sessions().signIn(QStringLiteral("ada@example.com"), QStringLiteral("t"), QString()));
        QTRY_VERIFY(app.companion().panel() && app.companion().isVisible());
        QVERIFY(!app.accountPanel().isOpen());
        QTest::qWait(300);
        // Hold the bee still, so only the resize moves it.
        app.settings().setValue(QStringLiteral("ZaPumPatrolNearDockEnabled"), false);
        const QRectF before = app.companion().panelFrame();

        QmlWindow &settings = settingsAt(app, QStringLiteral("Companion"));
        click(settings, QStringLiteral("sizeSlider"), 0.98);
        QTRY_VERIFY(app.companion().panelFrame().width() > before.width());
        const QRectF after = app.companion().panelFrame();
        QVERIFY2(qAbs(after.center().x() - before.center().x()) <= 1.0 && qAbs(after.center().y() - before.center().y()) <= 1.0,
                 qPrintable(QStringLiteral("centre moved from %1,%2 to %3,%4")
                                .arg(before.center().x()).arg(before.center().y()).arg(after.center().x()).arg(after.center().y())));
        app.sessions().signOut();
    }

    void closingTheAccountPanelCancelsABrowserSignIn()
    {
        ZaPumApp app;
        app.start(nullptr);
        QTRY_VERIFY(app.accountPanel().isOpen());
        QVERIFY(QTest::qWaitForWindowExposed(app.accountPanel().view()));
        click(app.accountPanel(), QStringLiteral("browserButton"));
        QTRY_VERIFY(app.sessions().isBrowserSignInPending());
        QVERIFY(!item(app.accountPanel(), QStringLiteral("browserButton"))->isEnabled());
        app.accountPanel().view()->grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/app-shell-account-waiting.png"));
        app.accountPanel().view()->close();
        QTRY_VERIFY(!app.sessions().isBrowserSignInPending());
        QCOMPARE(app.sessions().signInErrorText(), QStringLiteral("Browser sign-in was cancelled."));
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
    QDir().mkpath(home.path() + QStringLiteral("/bin"));
    QFile opener(home.path() + QStringLiteral("/bin/xdg-open"));
    if (opener.open(QIODevice::WriteOnly)) {
        opener.write("#!/bin/sh\nexit 0\n");
        opener.close();
        opener.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    qputenv("PATH", home.path().toUtf8() + "/bin:" + qgetenv("PATH"));
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestAppInProcess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app_in_process.moc"
