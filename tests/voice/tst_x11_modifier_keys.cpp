#include "platform/linux/x11/x11_modifier_key_source.h"
#include "voice/global_hotkey_service.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using namespace zapum::modifier_keys;

namespace {

// One xdotool command line, such as "keydown Alt_R".
void xdotool(const QString &command)
{
    QProcess process;
    process.start(u"xdotool"_s, command.split(u' '));
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
}

using Changes = QList<QPair<int, quint64>>;  // (key code, flags)

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
            QProcess::execute(u"xdotool"_s, u"keyup Alt_L Alt_R ISO_Level3_Shift Control_L Super_L Super_R 105 108"_s.split(u' '));
    }

    // X keycodes of the test session's keymap (evdev): 64 Left Alt, 92 AltGr, 105 Right Ctrl, 108
    // Right Alt. Sent by keycode, xdotool adds no twin: every change is the key's own.
    void translatesModifierKeys_data()
    {
        using namespace modifier_flags;
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<Changes>("expected");
        const auto tap = [](const QString &key) { return QStringList{u"keydown "_s + key, u"keyup "_s + key}; };
        QTest::newRow("AltGr") << tap(u"92"_s) << Changes{{kRightOption, kOption}, {kRightOption, 0}};
        QTest::newRow("Right Ctrl") << tap(u"105"_s) << Changes{{kRightControl, kControl}, {kRightControl, 0}};
        QTest::newRow("either Alt keeps the option flag")
            << QStringList{u"keydown 64"_s, u"keydown 108"_s, u"keyup 108"_s, u"keyup 64"_s}
            << Changes{{kLeftOption, kOption}, {kRightOption, kOption}, {kRightOption, kOption}, {kLeftOption, 0}};
    }
    void translatesModifierKeys()
    {
        QFETCH(QStringList, steps);
        QFETCH(Changes, expected);
        X11ModifierKeySource source;
        QSignalSpy spy(&source, &ModifierKeySource::modifierChanged);
        QVERIFY(source.start().ok());
        for (const QString &step : std::as_const(steps))
            xdotool(step);
        QTRY_COMPARE(spy.size(), expected.size());
        Changes seen;
        for (const QList<QVariant> &arguments : std::as_const(spy))
            seen.append({arguments.at(0).toInt(), arguments.at(1).toULongLong()});
        QCOMPARE(seen, expected);
    }

    // A release must end the hold even while another client grabs the keyboard (as its open menu
    // would): the source watches over an X connection of its own. By keycode (108 Right Alt), so
    // that xdotool adds no twin whose flag would outlive the release.
    void releaseDuringAGrabEndsTheHold()
    {
        GlobalHotkeyService hotkey(std::make_unique<X11ModifierKeySource>());  // the real 0.4 s threshold
        int starts = 0, ends = 0;
        hotkey.setOnStart([&] { ++starts; });
        hotkey.setOnEnd([&] { ++ends; });
        hotkey.registerHotkey();
        xdotool(u"keydown 108"_s);
        QTRY_COMPARE(starts, 1);
        QWindow grabber;
        grabber.setGeometry(0, 0, 10, 10);
        grabber.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grabber) && grabber.setKeyboardGrabEnabled(true));
        xdotool(u"keyup 108"_s);
        QTRY_COMPARE(ends, 1);
        grabber.setKeyboardGrabEnabled(false);
    }

    // With AltGr on the right Alt key (most non-US layouts) holding it also types, and the Voice
    // tab says so; US layouts keep a plain Right Alt.
    void altGrIsNoticed()
    {
        QProcess query;
        query.start(u"setxkbmap"_s, {u"-query"_s});
        QVERIFY(query.waitForFinished(5000));
        const QString layout = QString::fromUtf8(query.readAll()).section(u"layout:"_s, 1).section(u'\n', 0, 0).trimmed();
        QCOMPARE(layout, u"us"_s);
        QVERIFY(!modifierKeyTypesCharacters(kRightOption));
        QCOMPARE(QProcess::execute(u"setxkbmap"_s, {u"de"_s}), 0);
        const bool german = modifierKeyTypesCharacters(kRightOption);
        QCOMPARE(QProcess::execute(u"setxkbmap"_s, {layout}), 0);
        QVERIFY(german);
    }
};

QTEST_MAIN(TestX11ModifierKeys)
#include "tst_x11_modifier_keys.moc"
