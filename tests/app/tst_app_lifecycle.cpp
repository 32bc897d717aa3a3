#include "support/app_process.h"

#include <QProcess>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum::test;

namespace {

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
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
        app.environment().remove(QStringLiteral("DISPLAY"));
        app.environment().remove(QStringLiteral("QT_QPA_PLATFORM"));
        app.start();
        QCOMPARE(app.waitForExit(5s), 1);
        const QStringList lines = app.log().trimmed().split(u'\n');
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QStringLiteral("DISPLAY")), qPrintable(app.log()));
    }

    void quitsCleanlyOnSigterm()
    {
        AppProcess app;
        app.start();
        QVERIFY2(app.waitForLogLine(QStringLiteral("status item shown"), 10s), qPrintable(app.log()));
        QVERIFY2(!app.log().contains(QStringLiteral("keeping secrets in")), qPrintable(app.log()));
        QCOMPARE(app.terminate(5s), 0);
    }

    void withoutSecretServiceKeepsSecretsInAPrivateFile()
    {
        AppProcess app;
        app.environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                                 QStringLiteral("unix:path=") + app.home() + QStringLiteral("/no-bus"));
        app.start();
        QVERIFY2(app.waitForLogLine(QStringLiteral("keeping secrets in"), 10s), qPrintable(app.log()));
        QCOMPARE(app.terminate(5s), 0);
    }

    void quitsFromTheTrayMenu()
    {
        AppProcess app;
        app.start();
        QVERIFY2(app.waitForLogLine(QStringLiteral("status item shown"), 10s), qPrintable(app.log()));
        QVERIFY2(!app.log().contains(QStringLiteral("no system tray")), qPrintable(app.log()));
        // trayer sits at the top right of the screen; ours is its only icon.
        const int screenWidth = qEnvironmentVariableIntValue("ZAPUM_TEST_SCREEN_WIDTH");
        QTest::qWait(500);
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number((screenWidth > 0 ? screenWidth : 1280) - 11),
                         QStringLiteral("11"), QStringLiteral("click"), QStringLiteral("3")}));
        QTest::qWait(500);
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")}));
        QCOMPARE(app.waitForExit(5s), 0);
    }
};

QTEST_GUILESS_MAIN(TestAppLifecycle)
#include "tst_app_lifecycle.moc"
