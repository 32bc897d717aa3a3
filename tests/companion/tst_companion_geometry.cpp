#include "companion/companion_geometry.h"

#include <QTest>

#include <deque>
#include <optional>

using namespace zapum;

namespace {

// Hands out the given values in order, checking each lies in the range asked for.
struct ScriptedRandom {
    std::deque<double> values;
    UniformRandom source()
    {
        return [this](double lo, double hi) {
            Q_ASSERT(!values.empty());
            const double v = values.front();
            values.pop_front();
            Q_ASSERT(v >= lo && v <= hi);
            return v;
        };
    }
};

const QRectF kScreen(0, 0, 1280, 800);       // visible frame of the test desktop
const QRectF kBelowPanel(0, 22, 1280, 778);  // with a 22-point bar at the top

}  // namespace

class TestCompanionGeometry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void side()
    {
        // Nothing usable stored gives the default 72 (a 90-point panel); else held to 48..96.
        const std::pair<std::optional<double>, double> rows[] = {
            {std::nullopt, 90.0}, {-5.0, 90.0}, {qQNaN(), 90.0}, {30.0, 66.0}, {200.0, 114.0}};
        for (const auto &[stored, panelSide] : rows)
            QCOMPARE(companionPanelSize(companionSide(stored), false), QSizeF(panelSide, panelSide));
    }

    void voiceExpanded_data()
    {
        QTest::addColumn<QRectF>("current");
        QTest::addColumn<QRectF>("frame");
        QTest::addColumn<QRectF>("expected");
        // A 90 x 90 panel grows into the 240 x 199 card around its centre line, keeping its bottom.
        QTest::newRow("left edge: 4 inside") << QRectF(0, 692, 90, 90) << kScreen << QRectF(4, 583, 240, 199);
        QTest::newRow("at the top: 4 below the bar") << QRectF(600, 22, 90, 90) << kBelowPanel
                                                     << QRectF(525, 26, 240, 199);
        QTest::newRow("at the very bottom: 4 above it") << QRectF(600, 710, 90, 90) << kScreen
                                                        << QRectF(525, 597, 240, 199);
        QTest::newRow("collapse keeps the bottom") << QRectF(525, 583, 240, 199) << kScreen << QRectF(600, 692, 90, 90);
    }
    void voiceExpanded()
    {
        QFETCH(QRectF, current);
        QFETCH(QRectF, frame);
        const bool expanding = current.width() < 200;
        QTEST(voiceExpansionFrame(current, companionPanelSize(72.0, expanding), frame), "expected");
    }

    void resizeAndDropStayOnScreen()
    {
        // A new size keeps the centre, but never pushes the panel off screen.
        QCOMPARE(resizedAroundCentre(QRectF(600, 600, 90, 90), QSizeF(114, 114), kScreen), QRectF(588, 588, 114, 114));
        QCOMPARE(resizedAroundCentre(QRectF(1190, 710, 90, 90), QSizeF(114, 114), kScreen),
                 QRectF(1166, 686, 114, 114));
        QCOMPARE(resizedAroundCentre(QRectF(0, 0, 90, 90), QSizeF(114, 114), kScreen), QRectF(0, 0, 114, 114));
        // A drop is pulled fully back inside, below a top bar too.
        QCOMPARE(clampedIntoFrame(QRectF(300, 300, 90, 90), kBelowPanel), QRectF(300, 300, 90, 90));
        QCOMPARE(clampedIntoFrame(QRectF(-40, 300, 90, 90), kBelowPanel), QRectF(0, 300, 90, 90));
        QCOMPARE(clampedIntoFrame(QRectF(1250, 790, 90, 90), kBelowPanel), QRectF(1190, 710, 90, 90));
        QCOMPARE(clampedIntoFrame(QRectF(300, 5, 90, 90), kBelowPanel), QRectF(300, 22, 90, 90));
    }

    void rail()
    {
        // span = (1280 - 72 - 48) - 48 = 1112; the rail is 422.56 wide from 48 + 344.72, and the
        // 90-point panel sits 9 points left of the bee's rail position, 18 above the bottom.
        const auto panelAt = [](const QRectF &frame, double t) {
            return railFrame(patrolRail(frame, 72.0), t, frame, 72.0, companionPanelSize(72.0, false));
        };
        QVERIFY(qAbs(panelAt(kScreen, 0.0).x() - 383.72) < 1e-9);
        QVERIFY(qAbs(panelAt(kScreen, 1.0).x() - 806.28) < 1e-9);
        QCOMPARE(panelAt(QRectF(1280, 100, 1280, 700), 0.5), QRectF(1875.0, 692, 90, 90));
        // side + 96 wide leaves no rail; one point more does.
        QVERIFY(!patrolRail(QRectF(0, 0, 168, 800), 72.0).usable());
        QVERIFY(patrolRail(QRectF(0, 0, 169, 800), 72.0).usable());
    }

    void reroll_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("drawn");
        QTest::addColumn<double>("firstCycle");
        QTest::addColumn<double>("laterCycle");
        QTest::newRow("0.6 and a close draw") << 0.6 << 0.65 << 0.4 << 0.35;
        QTest::newRow("exactly 0.5 goes up") << 0.5 << 0.5 << 0.7 << 0.75;
        QTest::newRow("far enough is kept") << 0.3 << 0.8 << 0.8 << 0.8;
    }
    void reroll()
    {
        QFETCH(double, from);
        QFETCH(double, drawn);
        QFETCH(double, firstCycle);
        QFETCH(double, laterCycle);
        const PatrolTimings timings;

        ScriptedRandom random{{12.0, from, drawn}};
        PatrolState state;
        beginPatrolCycle(state, 100.0, random.source(), timings);
        QCOMPARE(state.strollFrom, from);
        QVERIFY(qFuzzyCompare(state.strollTo, firstCycle));

        // A walk that ends at `from`, then the later cycle's re-roll.
        state = PatrolState{PatrolPhase::Walking, 0.0, 10.0, 0.9, from};
        random.values = {9.0, drawn};
        QCOMPARE(advancePatrol(state, timings.walkSeconds, random.source(), timings), from);
        QCOMPARE(state.phase, PatrolPhase::Pausing);
        QCOMPARE(state.pauseSeconds, 9.0);
        QVERIFY(qFuzzyCompare(state.strollTo, laterCycle));
    }

    void phases()
    {
        const PatrolTimings timings;  // 22 s walks
        ScriptedRandom random{{15.0, 0.2, 0.8}};
        PatrolState state;
        beginPatrolCycle(state, 1000.0, random.source(), timings);
        QCOMPARE(state.phase, PatrolPhase::Pausing);

        // Paused: held at the start, whatever the time, until the pause is over.
        QCOMPARE(advancePatrol(state, 1000.0, random.source(), timings), 0.2);
        QCOMPARE(advancePatrol(state, 1014.9, random.source(), timings), 0.2);
        QCOMPARE(state.phase, PatrolPhase::Pausing);
        // The tick that ends the pause still shows the start; the walk's clock starts there.
        QCOMPARE(advancePatrol(state, 1015.0, random.source(), timings), 0.2);
        QCOMPARE(state.phase, PatrolPhase::Walking);
        QCOMPARE(state.phaseStart, 1015.0);

        // Walking 0.2 -> 0.8 along the eased path (cubic: 1/16 at a quarter, 15/16 at three quarters).
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 5.5, random.source(), timings), 0.2 + 0.6 * 0.0625));
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 11.0, random.source(), timings), 0.5));
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 16.5, random.source(), timings), 0.2 + 0.6 * 0.9375));
        QCOMPARE(easeInOutCubic(-0.5), 0.0);
        QCOMPARE(easeInOutCubic(3.0), 1.0);

        // Arrival: a new pause of 8 to 18 s and a new target.
        random.values = {8.0, 0.3};
        QCOMPARE(advancePatrol(state, 1015.0 + 22.0, random.source(), timings), 0.8);
        QCOMPARE(state.phase, PatrolPhase::Pausing);
        QCOMPARE(state.strollFrom, 0.8);
        QCOMPARE(state.strollTo, 0.3);
        QCOMPARE(state.pauseSeconds, 8.0);
        QCOMPARE(state.restingPosition(), 0.55);
    }

    void systemRandomStaysInRange()
    {
        const UniformRandom random = systemUniformRandom();
        for (int i = 0; i < 2000; ++i) {
            const double v = random(0.15, 0.85);
            QVERIFY(v >= 0.15 && v <= 0.85);
        }
    }
};

QTEST_GUILESS_MAIN(TestCompanionGeometry)
#include "tst_companion_geometry.moc"
