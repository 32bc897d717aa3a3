#include "app/start_at_login_store.h"
#include "app/zapum_app.h"
#include "backend/session_controller.h"
#include "support/desktop_driver.h"
#include "ui/qml_window.h"
#include "voice/voice_settings_store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QQuickView>
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

// A real click through Qt's event path, at the item's centre.
void click(QmlWindow &window, const QString &name)
{
    QQuickItem *target = item(window, name);
    QVERIFY(target && target->isVisible());
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window.view(), Qt::LeftButton, {}, centre.toPoint());
    QTest::qWait(50);
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

    void aBlankKeyCannotBeSaved()
    {
        ZaPumApp app;
        app.openSettings();
        QmlWindow &settings = app.settingsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(settings.view()));
        click(settings, u"tabVoice"_s);
        QVERIFY2(item(settings, u"fallbackWarning"_s)->isVisible(), "with no keyring the Voice tab says where the keys are");
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

    void theStartAtLoginSwitchWritesAndRemovesTheAutostartEntry()
    {
        const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + u"/autostart"_s;
        const QString entry = folder + u"/zapum.desktop"_s;
        ZaPumApp app;
        app.openSettings();
        QmlWindow &settings = app.settingsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(settings.view()));
        click(settings, u"tabCompanion"_s);
        QVERIFY2(!item(settings, u"startAtLoginSwitch"_s)->property("checked").toBool(), "off by default");

        // A file where the folder should be: the switch springs back and says why.
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        click(settings, u"startAtLoginSwitch"_s);
        QVERIFY(!item(settings, u"startAtLoginSwitch"_s)->property("checked").toBool());
        QVERIFY(item(settings, u"startAtLoginError"_s)->isVisible());
        QVERIFY(blocker.remove());

        click(settings, u"startAtLoginSwitch"_s);
        QVERIFY(app.startAtLogin().isEnabled());
        QVERIFY(!item(settings, u"startAtLoginError"_s)->isVisible());
        settings.view()->grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/settings-start-at-login.png"));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains(u"\nExec=\""_s + QCoreApplication::applicationFilePath() + u"\" --autostart\n"_s),
                 qPrintable(text));
        click(settings, u"startAtLoginSwitch"_s);
        QVERIFY(!QFile::exists(entry));
        QVERIFY(!item(settings, u"startAtLoginSwitch"_s)->property("checked").toBool());
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
