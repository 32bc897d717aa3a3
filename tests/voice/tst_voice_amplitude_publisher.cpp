#include "voice/voice_amplitude_publisher.h"

#include <QSignalSpy>
#include <QTest>

using namespace zapum;

class TestVoiceAmplitudePublisher : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void submissions_data()
    {
        QTest::addColumn<QList<float>>("first");
        QTest::addColumn<double>("gapSeconds");
        QTest::addColumn<QList<float>>("second");
        QTest::addColumn<QList<float>>("expected");
        const QList<float> half(7, 0.5f);
        const QList<float> quarter(7, 0.25f);
        QTest::newRow("wrong band count ignored") << QList<float>(6, 0.5f) << 1.0 << QList<float>(8, 0.5f)
                                                  << QList<float>(7, 0.0f);
        QTest::newRow("10 ms apart keeps the first") << half << 0.010 << quarter << half;
        QTest::newRow("40 ms apart takes the second") << half << 0.040 << quarter << quarter;
        QTest::newRow("clamped") << QList<float>{1.4f, -0.2f, 0.3f, 1.0f, 0.0f, 2.0f, -1.0f} << 0.0 << QList<float>()
                                 << QList<float>{1.0f, 0.0f, 0.3f, 1.0f, 0.0f, 1.0f, 0.0f};
    }
    void submissions()
    {
        QFETCH(QList<float>, first);
        QFETCH(double, gapSeconds);
        QFETCH(QList<float>, second);
        QFETCH(QList<float>, expected);
        double now = 1000.0;
        VoiceAmplitudePublisher publisher(nullptr, [&now] { return now; });
        publisher.submit(first);
        now += gapSeconds;
        if (!second.isEmpty())
            publisher.submit(second);
        QCOMPARE(publisher.levels(), expected);
    }

    // A reset always gets through, however soon after the last change.
    void resetBypassesTheThrottle()
    {
        VoiceAmplitudePublisher publisher(nullptr, [] { return 1000.0; });
        QSignalSpy spy(&publisher, &VoiceAmplitudePublisher::levelsChanged);
        publisher.submit(QList<float>(7, 0.8f));
        publisher.reset();
        QCOMPARE(publisher.levels(), QList<float>(7, 0.0f));
        QCOMPARE(spy.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestVoiceAmplitudePublisher)
#include "tst_voice_amplitude_publisher.moc"
