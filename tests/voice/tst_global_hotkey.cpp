#include "voice/global_hotkey_service.h"

#include "support/fake_modifier_key_source.h"

#include <QTest>

using namespace zapum;
using namespace zapum::modifier_keys;

namespace {

// Short enough for a quick test, long enough that a loaded machine does not turn a tap into a hold.
constexpr int kThresholdMs = 200;

quint16 keyNamed(const QString &name)
{
    static const QHash<QString, quint16> keys{
        {QStringLiteral("ralt"), kRightOption}, {QStringLiteral("lalt"), kLeftOption}, {QStringLiteral("shift"), kLeftShift},
        {QStringLiteral("rctl"), kRightControl}};
    return keys.value(name);
}

}  // namespace

class TestGlobalHotkey : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each row is a script: "+key" presses, "-key" releases, "again" repeats the last change,
    // a number waits that many milliseconds, "unregister" calls the service, "talk=key" chooses
    // another talk key.
    void holds_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("starts");
        QTest::addColumn<int>("ends");
        QTest::addColumn<int>("presses");  // of the talk key, announced before the threshold
        QTest::addColumn<bool>("down");

        QTest::newRow("tap, and the other Alt held alone") << "+lalt 300 -lalt +ralt 30 -ralt 300" << 0 << 0 << 1 << false;
        QTest::newRow("hold through repeats and other modifiers")
            << "+ralt again 50 +shift -shift +lalt -lalt 300 -ralt again" << 1 << 1 << 1 << false;
        // The release of Right Alt still carries the option flag of the Left Alt held meanwhile.
        QTest::newRow("left option held through the release") << "+lalt +ralt 300 -ralt 50 -lalt 50" << 1 << 0 << 1
                                                               << true;
        QTest::newRow("left option case ends at the next trigger change")
            << "+lalt +ralt 300 -ralt -lalt 50 +ralt -ralt" << 1 << 1 << 1 << false;
        // The first wait would have reached the threshold 80 ms into the second one.
        QTest::newRow("re-press within the threshold restarts") << "+ralt 120 -ralt +ralt 120" << 0 << 0 << 2 << true;
        QTest::newRow("unregister while waiting") << "+ralt 50 unregister 300" << 0 << 0 << 1 << false;
        QTest::newRow("unregister during a started hold") << "+ralt 300 unregister -ralt 50" << 1 << 0 << 1 << false;
        QTest::newRow("another talk key: Right Alt does nothing") << "talk=rctl +ralt 300 -ralt +rctl 300 -rctl" << 1 << 1 << 1
                                                                  << false;
        QTest::newRow("talk key changed during a started hold ends it") << "+ralt 300 talk=rctl -ralt 50" << 1 << 1 << 1
                                                                       << false;
    }

    void holds()
    {
        QFETCH(QString, script);
        QFETCH(int, starts);
        QFETCH(int, ends);
        QFETCH(int, presses);
        QFETCH(bool, down);

        auto owned = std::make_unique<test::FakeModifierKeySource>();
        test::FakeModifierKeySource &keyboard = *owned;
        GlobalHotkeyService service(std::move(owned), HotkeyTiming{std::chrono::milliseconds(kThresholdMs)});
        int startCount = 0, endCount = 0, pressCount = 0;
        service.setOnPress([&] { ++pressCount; });
        service.setOnStart([&] { ++startCount; });
        service.setOnEnd([&] { ++endCount; });
        service.registerHotkey();

        for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            bool isNumber = false;
            const int wait = step.toInt(&isNumber);
            if (isNumber)
                QTest::qWait(wait);
            else if (step.startsWith(QLatin1Char('+')))
                keyboard.press(keyNamed(step.mid(1)));
            else if (step.startsWith(QLatin1Char('-')))
                keyboard.release(keyNamed(step.mid(1)));
            else if (step == QLatin1String("again"))
                keyboard.repeatLast();
            else if (step == QLatin1String("unregister"))
                service.unregisterHotkey();
            else if (step.startsWith(QLatin1String("talk=")))
                service.setTriggerKeyCode(keyNamed(step.mid(5)));
            else
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
        QCoreApplication::processEvents();  // the changes are handled from the event loop

        QCOMPARE(startCount, starts);
        QCOMPARE(endCount, ends);
        QCOMPARE(pressCount, presses);
        QCOMPARE(service.isDown(), down);
    }
};

QTEST_GUILESS_MAIN(TestGlobalHotkey)
#include "tst_global_hotkey.moc"
