#include "voice/global_hotkey_service.h"

#include "support/fake_modifier_key_source.h"

#include <QTest>

using namespace zapum;
using namespace zapum::modifier_keys;

namespace {

quint16 keyNamed(const QString &name)
{
    static const QHash<QString, quint16> keys{
        {QStringLiteral("ralt"), kRightOption}, {QStringLiteral("lalt"), kLeftOption}, {QStringLiteral("shift"), kLeftShift},
        {QStringLiteral("rctl"), kRightControl}};
    return keys.value(name);
}

// The hold threshold passes now: the service's hold timer, if running, fires as the event loop
// would fire it. The threshold itself is an hour, so that time only passes here, however loaded
// the machine.
void thresholdPasses(GlobalHotkeyService &service)
{
    QTimer *timer = service.findChild<QTimer *>();
    if (timer->isActive()) {
        QTimerEvent due(timer->timerId());
        QCoreApplication::sendEvent(timer, &due);
    }
}

}  // namespace

class TestGlobalHotkey : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each row is a script: "+key" presses, "-key" releases, "again" repeats the last change,
    // "hold" lets the hold threshold pass, "unregister" calls the service, "talk=key" chooses
    // another talk key. Changes between two "hold"s come within the threshold.
    void holds_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("starts");
        QTest::addColumn<int>("ends");
        QTest::addColumn<int>("presses");  // of the talk key, announced before the threshold
        QTest::addColumn<bool>("down");

        QTest::newRow("tap, and the other Alt held alone") << "+lalt hold -lalt +ralt -ralt hold" << 0 << 0 << 1 << false;
        QTest::newRow("hold through repeats and other modifiers")
            << "+ralt again +shift -shift +lalt -lalt hold -ralt again" << 1 << 1 << 1 << false;
        // The release of Right Alt still carries the option flag of the Left Alt held meanwhile.
        QTest::newRow("left option held through the release") << "+lalt +ralt hold -ralt -lalt" << 1 << 0 << 1 << true;
        QTest::newRow("left option case ends at the next trigger change")
            << "+lalt +ralt hold -ralt -lalt +ralt -ralt" << 1 << 1 << 1 << false;
        QTest::newRow("a release cancels the wait, a re-press starts its own") << "+ralt -ralt hold +ralt hold" << 1 << 0
                                                                                << 2 << true;
        QTest::newRow("unregister while waiting") << "+ralt unregister hold" << 0 << 0 << 1 << false;
        QTest::newRow("unregister during a started hold") << "+ralt hold unregister -ralt" << 1 << 0 << 1 << false;
        QTest::newRow("another talk key: Right Alt does nothing") << "talk=rctl +ralt hold -ralt +rctl hold -rctl" << 1 << 1
                                                                  << 1 << false;
        QTest::newRow("talk key changed during a started hold ends it") << "+ralt hold talk=rctl -ralt" << 1 << 1 << 1
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
        GlobalHotkeyService service(std::move(owned), HotkeyTiming{std::chrono::hours(1)});
        int startCount = 0, endCount = 0, pressCount = 0;
        service.setOnPress([&] { ++pressCount; });
        service.setOnStart([&] { ++startCount; });
        service.setOnEnd([&] { ++endCount; });
        service.registerHotkey();

        for (const QString &step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (step == QLatin1String("hold"))
                thresholdPasses(service);
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
            QCoreApplication::processEvents();  // the service takes key changes from the event loop
        }

        QCOMPARE(startCount, starts);
        QCOMPARE(endCount, ends);
        QCOMPARE(pressCount, presses);
        QCOMPARE(service.isDown(), down);
    }
};

QTEST_GUILESS_MAIN(TestGlobalHotkey)
#include "tst_global_hotkey.moc"
