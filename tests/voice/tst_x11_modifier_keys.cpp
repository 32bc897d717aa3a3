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

// The changes seen so far, as (key code, flags) pairs.
QList<QPair<int, quint64>> changes(const QSignalSpy &spy)
{
    QList<QPair<int, quint64>> seen;
    for (const QList<QVariant> &arguments : spy)
        seen.append({arguments.at(0).toInt(), arguments.at(1).toULongLong()});
    return seen;
}

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

    void translatesModifierKeys_data()
    {
        using namespace modifier_flags;
        QTest::addColumn<QString>("keysym");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<quint64>("flag");
        QTest::newRow("AltGr") << "ISO_Level3_Shift" << int(kRightOption) << kOption;
        QTest::newRow("Right Super") << "Super_R" << int(kRightCommand) << kCommand;
        QTest::newRow("Right Ctrl") << "Control_R" << int(kRightControl) << kControl;
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
        xdotool(u"keydown "_s + keysym);
        QTRY_VERIFY(changes(spy).contains(qMakePair(keyCode, flag)));
        xdotool(u"keyup "_s + keysym);
        QTRY_COMPARE(changes(spy).last(), qMakePair(keyCode, quint64(0)));
    }

    // X keycodes of the test session's keymap (evdev): 64 is Left Alt, 108 Right Alt. Sent by
    // keycode, xdotool adds no twin.
    void eitherAltKeepsTheOptionFlag()
    {
        X11ModifierKeySource source;
        QSignalSpy spy(&source, &ModifierKeySource::modifierChanged);
        QVERIFY(source.start().ok());
        for (const QString &step : {u"keydown 64"_s, u"keydown 108"_s, u"keyup 108"_s, u"keyup 64"_s})
            xdotool(step);
        QTRY_COMPARE(spy.size(), 4);
        const quint64 option = modifier_flags::kOption;
        QCOMPARE(changes(spy), (QList<QPair<int, quint64>>{
                                   {kLeftOption, option}, {kRightOption, option}, {kRightOption, option}, {kLeftOption, 0}}));
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
        const bool control = modifierKeyTypesCharacters(kRightControl);
        QCOMPARE(QProcess::execute(u"setxkbmap"_s, {layout}), 0);
        QVERIFY(german);
        QVERIFY(!control);
    }
};

QTEST_MAIN(TestX11ModifierKeys)
#include "tst_x11_modifier_keys.moc"
