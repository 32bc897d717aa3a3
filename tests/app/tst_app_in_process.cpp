#include "app/start_at_login_store.h"
#include "app/zapum_app.h"
#include "backend/environment_store.h"
#include "backend/guidance_service.h"
#include "backend/session_controller.h"
#include "support/await_task.h"
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
    return findItem(window.view()->rootObject(), name);
}

// A real click through Qt's event path, at the item's centre once it is laid out.
void click(QmlWindow &window, QQuickItem *target)
{
    QTRY_VERIFY(target->isVisible() && target->width() > 0);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window.view(), Qt::LeftButton, {}, centre.toPoint());
}

void click(QmlWindow &window, const QString &name)
{
    click(window, item(window, name));
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
    OwnWarnings m_warnings;

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test session (scripts/test-session.sh)");
    }

    // The app's warnings about the missing keyring are expected here; the windows' QML is clean.
    void cleanup()
    {
        const QStringList qml = m_warnings.take().filter(u".qml:"_s);
        QVERIFY2(qml.isEmpty(), qPrintable(qml.join(u'\n')));
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
        QFile file(entry);  // its Exec line's quoting has a test of its own
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(
            file.readAll().contains(QByteArray(QCoreApplication::applicationFilePath().toUtf8() + "\" --autostart\n")));
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

        // A refresh from the tray that fetched nothing claims no sync.
        awaitTask(app.refreshGuidanceFromMenu());
        QCOMPARE(app.environment().lastSyncLabel(), u"Never synced"_s);
    }

    // The picker is an exclusive group that always shows the current environment, whoever changed
    // it. Last, as the environment it leaves behind stays in the settings.
    void theEnvironmentPickerShowsTheCurrentOne()
    {
        ZaPumApp app;
        app.openSettings();
        QmlWindow &settings = app.settingsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(settings.view()));
        item(settings, u"tabs"_s)->setProperty("currentIndex", 1);
        QList<QQuickItem *> segments;
        for (QQuickItem *child : item(settings, u"environmentPicker"_s)->childItems())
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
        QCOMPARE(item(settings, u"apiBaseUrlField"_s)->property("text").toString(), u"http://localhost:4001"_s);
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
