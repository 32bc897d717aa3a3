#include "companion/companion_geometry.h"

#include <QTest>

#include <deque>
#include <optional>

using namespace zapum;

Q_DECLARE_METATYPE(std::optional<double>)
Q_DECLARE_METATYPE(std::optional<QRectF>)

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
    void side_data()
    {
        QTest::addColumn<std::optional<double>>("stored");
        QTest::addColumn<QSizeF>("panel");
        QTest::newRow("absent") << std::optional<double>() << QSizeF(90, 90);
        QTest::newRow("zero") << std::optional<double>(0.0) << QSizeF(90, 90);
        QTest::newRow("negative") << std::optional<double>(-5.0) << QSizeF(90, 90);
        QTest::newRow("not a number") << std::optional<double>(qQNaN()) << QSizeF(90, 90);
        QTest::newRow("infinite") << std::optional<double>(qInf()) << QSizeF(90, 90);
        QTest::newRow("30 is raised to 48") << std::optional<double>(30.0) << QSizeF(66, 66);
        QTest::newRow("60 kept") << std::optional<double>(60.0) << QSizeF(78, 78);
        QTest::newRow("200 is lowered to 96") << std::optional<double>(200.0) << QSizeF(114, 114);
    }
    void side()
    {
        QFETCH(std::optional<double>, stored);
        QFETCH(QSizeF, panel);
        QCOMPARE(companionPanelSize(companionSide(stored), false), panel);
    }

    void voiceExpanded_data()
    {
        QTest::addColumn<double>("side");
        QTest::addColumn<QRectF>("current");
        QTest::addColumn<std::optional<QRectF>>("frame");
        QTest::addColumn<QRectF>("expected");
        // 90 x 90 at (600, 692): centre x 645, bottom 782 (18 above the bottom of 800).
        QTest::newRow("centred, bottom kept") << 72.0 << QRectF(600, 692, 90, 90) << std::optional<QRectF>(kScreen)
                                              << QRectF(525, 583, 240, 199);
        QTest::newRow("no screen: no clamping") << 72.0 << QRectF(-50, 692, 90, 90) << std::optional<QRectF>()
                                                << QRectF(-125, 583, 240, 199);
        QTest::newRow("left edge: 4 inside") << 72.0 << QRectF(0, 692, 90, 90) << std::optional<QRectF>(kScreen)
                                             << QRectF(4, 583, 240, 199);
        QTest::newRow("right edge: 4 inside") << 72.0 << QRectF(1190, 692, 90, 90) << std::optional<QRectF>(kScreen)
                                              << QRectF(1036, 583, 240, 199);
        QTest::newRow("at the top: 4 below the bar") << 72.0 << QRectF(600, 22, 90, 90)
                                                     << std::optional<QRectF>(kBelowPanel) << QRectF(525, 26, 240, 199);
        QTest::newRow("at the very bottom: 4 above it") << 72.0 << QRectF(600, 710, 90, 90)
                                                        << std::optional<QRectF>(kScreen) << QRectF(525, 597, 240, 199);
        QTest::newRow("collapse keeps the bottom") << 72.0 << QRectF(525, 583, 240, 199)
                                                   << std::optional<QRectF>(kScreen) << QRectF(600, 692, 90, 90);
        QTest::newRow("big bee is wider than the card") << 96.0 << QRectF(600, 668, 114, 114)
                                                        << std::optional<QRectF>(kScreen) << QRectF(537, 559, 240, 223);
    }
    void voiceExpanded()
    {
        QFETCH(double, side);
        QFETCH(QRectF, current);
        QFETCH(std::optional<QRectF>, frame);
        QFETCH(QRectF, expected);
        const bool expanding = current.width() < 200;
        QCOMPARE(voiceExpansionFrame(current, companionPanelSize(side, expanding), frame), expected);
    }

    void resizeAroundCentre_data()
    {
        QTest::addColumn<QRectF>("current");
        QTest::addColumn<QSizeF>("size");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("grows around its centre") << QRectF(600, 600, 90, 90) << QSizeF(114, 114)
                                                 << QRectF(588, 588, 114, 114);
        QTest::newRow("shrinks around its centre") << QRectF(600, 600, 90, 90) << QSizeF(66, 66)
                                                   << QRectF(612, 612, 66, 66);
        QTest::newRow("held inside at the bottom right") << QRectF(1190, 710, 90, 90) << QSizeF(114, 114)
                                                         << QRectF(1166, 686, 114, 114);
        QTest::newRow("held inside at the top left") << QRectF(0, 0, 90, 90) << QSizeF(114, 114)
                                                     << QRectF(0, 0, 114, 114);
    }
    void resizeAroundCentre()
    {
        QFETCH(QRectF, current);
        QFETCH(QSizeF, size);
        QFETCH(QRectF, expected);
        QCOMPARE(resizedAroundCentre(current, size, kScreen), expected);
    }

    void dropClamp_data()
    {
        QTest::addColumn<QRectF>("dropped");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("inside stays") << QRectF(300, 300, 90, 90) << QRectF(300, 300, 90, 90);
        QTest::newRow("past the left") << QRectF(-40, 300, 90, 90) << QRectF(0, 300, 90, 90);
        QTest::newRow("past the right and bottom") << QRectF(1250, 790, 90, 90) << QRectF(1190, 710, 90, 90);
        QTest::newRow("under the top bar") << QRectF(300, 5, 90, 90) << QRectF(300, 22, 90, 90);
    }
    void dropClamp()
    {
        QFETCH(QRectF, dropped);
        QFETCH(QRectF, expected);
        QCOMPARE(clampedIntoFrame(dropped, kBelowPanel), expected);
    }

    void rail_data()
    {
        QTest::addColumn<QRectF>("frame");
        QTest::addColumn<double>("t");
        QTest::addColumn<QRectF>("expected");
        // span = (1280 - 72 - 48) - 48 = 1112; the rail is 422.56 wide from 48 + 344.72, and the
        // 90-point panel sits 9 points left of the bee's rail position.
        QTest::newRow("rail start") << kScreen << 0.0 << QRectF(383.72, 692, 90, 90);
        QTest::newRow("rail middle") << kScreen << 0.5 << QRectF(595.0, 692, 90, 90);
        QTest::newRow("rail end") << kScreen << 1.0 << QRectF(806.28, 692, 90, 90);
        QTest::newRow("offset screen") << QRectF(1280, 100, 1280, 700) << 0.5 << QRectF(1875.0, 692, 90, 90);
    }
    void rail()
    {
        QFETCH(QRectF, frame);
        QFETCH(double, t);
        QFETCH(QRectF, expected);
        const PatrolRail r = patrolRail(frame, 72.0);
        QVERIFY(r.usable());
        const QRectF got = railFrame(r, t, frame, 72.0, companionPanelSize(72.0, false));
        QVERIFY2(qAbs(got.x() - expected.x()) < 1e-9, qPrintable(QString::number(got.x(), 'f', 6)));
        QCOMPARE(got.y(), expected.y());
        QCOMPARE(got.size(), expected.size());
    }

    void railTooNarrow_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<bool>("usable");
        QTest::newRow("side + 96 wide: no rail") << 168.0 << false;
        QTest::newRow("narrower") << 100.0 << false;
        QTest::newRow("one point more") << 169.0 << true;
    }
    void railTooNarrow()
    {
        QFETCH(double, width);
        QFETCH(bool, usable);
        QCOMPARE(patrolRail(QRectF(0, 0, width, 800), 72.0).usable(), usable);
    }

    void ease_data()
    {
        QTest::addColumn<double>("p");
        QTest::addColumn<double>("e");
        QTest::newRow("before") << -0.5 << 0.0;
        QTest::newRow("start") << 0.0 << 0.0;
        QTest::newRow("quarter") << 0.25 << 0.0625;
        QTest::newRow("half, both sides agree") << 0.5 << 0.5;
        QTest::newRow("three quarters") << 0.75 << 0.9375;
        QTest::newRow("end") << 1.0 << 1.0;
        QTest::newRow("after") << 3.0 << 1.0;
    }
    void ease()
    {
        QFETCH(double, p);
        QFETCH(double, e);
        QCOMPARE(easeInOutCubic(p), e);
    }

    void reroll_data()
    {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("drawn");
        QTest::addColumn<double>("firstCycle");
        QTest::addColumn<double>("laterCycle");
        QTest::newRow("0.6 and a close draw") << 0.6 << 0.65 << 0.4 << 0.35;
        QTest::newRow("0.2 and a close draw") << 0.2 << 0.25 << 0.4 << 0.45;
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
        QCOMPARE(state.strollFrom, from);
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
        QCOMPARE(state.pauseSeconds, 15.0);

        // Paused: held at the start, whatever the time, until the pause is over.
        QCOMPARE(advancePatrol(state, 1000.0, random.source(), timings), 0.2);
        QCOMPARE(advancePatrol(state, 1014.9, random.source(), timings), 0.2);
        QCOMPARE(state.phase, PatrolPhase::Pausing);
        // The tick that ends the pause still shows the start; the walk's clock starts there.
        QCOMPARE(advancePatrol(state, 1015.0, random.source(), timings), 0.2);
        QCOMPARE(state.phase, PatrolPhase::Walking);
        QCOMPARE(state.phaseStart, 1015.0);

        // Walking 0.2 -> 0.8 along the eased path.
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 5.5, random.source(), timings), 0.2 + 0.6 * 0.0625));
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 11.0, random.source(), timings), 0.5));
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 16.5, random.source(), timings), 0.2 + 0.6 * 0.9375));
        QCOMPARE(state.phase, PatrolPhase::Walking);

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
