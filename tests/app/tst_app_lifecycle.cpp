#include "support/app_process.h"

#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace zapum::test;

namespace {

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(u"xdotool"_s, arguments) == 0;
}

}  // namespace

class TestAppLifecycle : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test session (scripts/test-session.sh)");
    }

    void withoutDisplaySaysWhyInOneSentence()
    {
        AppProcess app;
        app.environment().remove(u"DISPLAY"_s);
        app.environment().remove(u"QT_QPA_PLATFORM"_s);
        app.start();
        QCOMPARE(app.waitForExit(5s), 1);
        const QStringList lines = app.log().trimmed().split(u'\n');
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(u"DISPLAY"_s), qPrintable(app.log()));
    }

    void withoutSecretServiceKeepsSecretsInAPrivateFileAndQuitsOnSigterm()
    {
        AppProcess app;
        app.environment().insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + app.home() + u"/no-bus"_s);
        app.start();
        QVERIFY2(app.waitForLogLine(u"keeping secrets in"_s, 10s), qPrintable(app.log()));
        QCOMPARE(app.terminate(5s), 0);
    }

    void quitsFromTheTrayMenu()
    {
        AppProcess app;
        app.start();
        QVERIFY2(app.waitForLogLine(u"status item shown"_s, 10s), qPrintable(app.log()));
        QVERIFY2(!app.log().contains(u"no system tray"_s) && !app.log().contains(u"keeping secrets in"_s), qPrintable(app.log()));
        // trayer sits at the top right of the screen; ours is its only icon.
        const int screenWidth = qEnvironmentVariableIntValue("ZAPUM_TEST_SCREEN_WIDTH");
        QTest::qWait(500);
        QVERIFY(xdotool({u"mousemove"_s, QString::number((screenWidth > 0 ? screenWidth : 1280) - 11), u"11"_s, u"click"_s, u"3"_s}));
        QTest::qWait(500);
        QVERIFY(xdotool({u"key"_s, u"Up"_s, u"Return"_s}));
        QCOMPARE(app.waitForExit(5s), 0);
    }
};

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_app_lifecycle.moc"
