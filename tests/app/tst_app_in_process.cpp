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

using namespace Qt::StringLiterals;
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
    click(settings, u"tab"_s + tab);
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
            QmlWindow &settings = settingsAt(app, u"Action"_s);
            click(settings, u"actionModeSwitch"_s);
            QTRY_VERIFY(app.actionMode().isEnabled());
            click(settings, u"tabVoice"_s);
            voiceNow = !app.voiceSettings().isEnabled();
            click(settings, u"voiceModeSwitch"_s);
            QTRY_COMPARE(app.voiceSettings().isEnabled(), voiceNow);
        }
        ZaPumApp again;
        QmlWindow &settings = settingsAt(again, u"Action"_s);
        QVERIFY(again.actionMode().isEnabled());
        QVERIFY(item(settings, u"actionModeSwitch"_s)->property("checked").toBool());
        click(settings, u"tabVoice"_s);
        QCOMPARE(again.voiceSettings().isEnabled(), voiceNow);
        QCOMPARE(item(settings, u"voiceModeSwitch"_s)->property("checked").toBool(), voiceNow);
        QVERIFY2(item(settings, u"fallbackWarning"_s)->isVisible(), "with no keyring the Voice tab says where the keys are");
        settings.view()->grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/app-shell-settings-voice.png"));
    }

    void aBlankKeyCannotBeSaved()
    {
        ZaPumApp app;
        QmlWindow &settings = settingsAt(app, u"Voice"_s);
        click(settings, u"anthropicKeyField"_s);
        typeText(*settings.view(), "   ");
        QCOMPARE(item(settings, u"anthropicKeyField"_s)->property("text").toString(), u"   "_s);
        QVERIFY(!item(settings, u"anthropicSaveButton"_s)->isEnabled());
        click(settings, u"anthropicSaveButton"_s);
        QVERIFY(!app.voiceSettings().anthropicKeyPresent());
        click(settings, u"anthropicKeyField"_s);
        typeText(*settings.view(), "sk-test");
        click(settings, u"anthropicSaveButton"_s);
        QVERIFY(app.voiceSettings().anthropicKeyPresent());
    }

    void theSizeSliderResizesThePanelAroundItsCentre()
    {
        ZaPumApp app;
        app.start(nullptr);
        QTRY_VERIFY(app.accountPanel().isOpen());
        awaitTask(app.sessions().signIn(u"ada@example.com"_s, u"t"_s, QString()));
        QTRY_VERIFY(app.companion().panel() && app.companion().isVisible());
        QVERIFY(!app.accountPanel().isOpen());
        QTest::qWait(300);
        // Hold the bee still, so only the resize moves it.
        app.settings().setValue(u"ZaPumPatrolNearDockEnabled"_s, false);
        const QRectF before = app.companion().panelFrame();

        QmlWindow &settings = settingsAt(app, u"Companion"_s);
        click(settings, u"sizeSlider"_s, 0.98);
        QTRY_VERIFY(app.companion().panelFrame().width() > before.width());
        const QRectF after = app.companion().panelFrame();
        const QPointF moved = after.center() - before.center();
        QVERIFY2(qAbs(moved.x()) <= 1.0 && qAbs(moved.y()) <= 1.0, qPrintable(u"moved by %1,%2"_s.arg(moved.x()).arg(moved.y())));
        app.sessions().signOut();
    }

    void closingTheAccountPanelCancelsABrowserSignIn()
    {
        ZaPumApp app;
        app.start(nullptr);
        QTRY_VERIFY(app.accountPanel().isOpen());
        QVERIFY(QTest::qWaitForWindowExposed(app.accountPanel().view()));
        click(app.accountPanel(), u"browserButton"_s);
        QTRY_VERIFY(app.sessions().isBrowserSignInPending());
        QVERIFY(!item(app.accountPanel(), u"browserButton"_s)->isEnabled());
        app.accountPanel().view()->grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/app-shell-account-waiting.png"));
        app.accountPanel().view()->close();
        QTRY_VERIFY(!app.sessions().isBrowserSignInPending());
        QCOMPARE(app.sessions().signInErrorText(), u"Browser sign-in was cancelled."_s);
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
    QFile opener(home.path() + u"/bin/xdg-open"_s);
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
