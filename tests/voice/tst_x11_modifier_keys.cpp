#include "platform/linux/x11/x11_modifier_key_source.h"
#include "voice/global_hotkey_service.h"

#include <QKeyEvent>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

using namespace zapum;
using namespace zapum::modifier_keys;

namespace {

void xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
}

// The changes seen so far, as (key code, flags) pairs.
QList<QPair<int, quint64>> changes(const QSignalSpy &spy)
{
    QList<QPair<int, quint64>> seen;
    for (const QList<QVariant> &arguments : spy)
        seen.append({arguments.at(0).toInt(), arguments.at(1).toULongLong()});
    return seen;
}

class KeyRecorder : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent *event) override { keys.append(event->key()); }
};

}  // namespace

class TestX11ModifierKeys : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        if (!qEnvironmentVariableIsSet("ZAPUM_TEST_SESSION"))
            QSKIP("needs the X11 test session (scripts/test-session.sh)");
    }

    void cleanup()
    {
        // Never leave a modifier down for the next test.
        if (qEnvironmentVariableIsSet("ZAPUM_TEST_SESSION"))
            QProcess::execute(QStringLiteral("xdotool"),
                              QStringLiteral("keyup Alt_L Alt_R ISO_Level3_Shift Shift_L Shift_R Control_L "
                                             "Control_R Super_L Super_R")
                                  .split(QLatin1Char(' ')));
    }

    void translatesModifierKeys_data()
    {
        using namespace modifier_flags;
        QTest::addColumn<QString>("keysym");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<quint64>("flag");
        QTest::newRow("Right Alt") << "Alt_R" << int(kRightOption) << kOption;
        QTest::newRow("AltGr") << "ISO_Level3_Shift" << int(kRightOption) << kOption;
        QTest::newRow("Left Alt") << "Alt_L" << int(kLeftOption) << kOption;
        QTest::newRow("Left Shift") << "Shift_L" << int(kLeftShift) << kShift;
        QTest::newRow("Right Shift") << "Shift_R" << int(kRightShift) << kShift;
        QTest::newRow("Left Control") << "Control_L" << int(kLeftControl) << kControl;
        QTest::newRow("Right Control") << "Control_R" << int(kRightControl) << kControl;
        QTest::newRow("Left Super") << "Super_L" << int(kLeftCommand) << kCommand;
        QTest::newRow("Right Super") << "Super_R" << int(kRightCommand) << kCommand;
    }

    // xdotool also presses and releases the left twin of a right-hand modifier around it, so only
    // the key's own changes are checked.
    void translatesModifierKeys()
    {
        QFETCH(QString, keysym);
        QFETCH(int, keyCode);
        QFETCH(quint64, flag);

        X11ModifierKeySource source;
        QSignalSpy spy(&source, &ModifierKeySource::modifierChanged);
        QVERIFY(source.start().ok());
        xdotool({QStringLiteral("keydown"), keysym});
        QTRY_VERIFY(changes(spy).contains(qMakePair(keyCode, flag)));
        xdotool({QStringLiteral("keyup"), keysym});
        QTRY_COMPARE(changes(spy).last(), qMakePair(keyCode, quint64(0)));
    }

    // X keycodes of the test session's keymap (evdev): 64 is Left Alt, 108 Right Alt. Sent by
    // keycode, xdotool adds no twin.
    void eitherAltKeepsTheOptionFlag()
    {
        X11ModifierKeySource source;
        QSignalSpy spy(&source, &ModifierKeySource::modifierChanged);
        QVERIFY(source.start().ok());
        for (const char *step : {"keydown 64", "keydown 108", "keyup 108", "keyup 64"})
            xdotool(QString::fromLatin1(step).split(QLatin1Char(' ')));
        QTRY_COMPARE(spy.size(), 4);
        const quint64 option = modifier_flags::kOption;
        QCOMPARE(changes(spy), (QList<QPair<int, quint64>>{
                                   {kLeftOption, option}, {kRightOption, option}, {kRightOption, option}, {kLeftOption, 0}}));
    }

    // The raw events cover keys typed into this app's own focused window too.
    void seesKeysTypedIntoThisApp()
    {
        KeyRecorder window;
        window.resize(200, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        QTRY_VERIFY(window.isActiveWindow());

        X11ModifierKeySource source;
        QSignalSpy spy(&source, &ModifierKeySource::modifierChanged);
        QVERIFY(source.start().ok());
        xdotool({QStringLiteral("key"), QStringLiteral("Shift_L")});
        QTRY_COMPARE(spy.size(), 2);
        QTRY_VERIFY(window.keys.contains(Qt::Key_Shift));
    }

    void hotkey_data()
    {
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<QString>("keysym");
        QTest::addColumn<int>("expectedCalls");
        QTest::newRow("Right Alt held 0.6 s") << 600 << "Alt_R" << 1;
        QTest::newRow("Right Alt by keycode held 0.6 s") << 600 << "108" << 1;
        QTest::newRow("AltGr held 0.6 s") << 600 << "ISO_Level3_Shift" << 1;
        QTest::newRow("Right Alt tapped") << 100 << "Alt_R" << 0;
        QTest::newRow("Left Alt held 0.6 s") << 600 << "Alt_L" << 0;
    }

    void hotkey()
    {
        QFETCH(int, holdMs);
        QFETCH(QString, keysym);
        QFETCH(int, expectedCalls);

        GlobalHotkeyService service(createModifierKeySource());
        QStringList calls;
        service.setOnStart([&] { calls.append(QStringLiteral("start")); });
        service.setOnEnd([&] { calls.append(QStringLiteral("end")); });
        service.registerHotkey();

        xdotool({QStringLiteral("keydown"), keysym});
        QTest::qWait(holdMs);
        xdotool({QStringLiteral("keyup"), keysym});
        QTest::qWait(700);
        const QStringList expected =
            expectedCalls ? QStringList{QStringLiteral("start"), QStringLiteral("end")} : QStringList{};
        QCOMPARE(calls, expected);
        QVERIFY(!service.isDown());
    }
};

QTEST_MAIN(TestX11ModifierKeys)
#include "tst_x11_modifier_keys.moc"
