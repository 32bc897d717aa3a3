// The companion's rules as plain functions: the panel's geometry and the patrol, and what the bee
// view shows and how often it draws.
#include "companion/bee_view_logic.h"
#include "companion/companion_geometry.h"
#include "companion/voice_bars_item.h"
#include "platform/linux/x11/xsettings.h"
#include "support/companion_graph.h"

#include <QColor>
#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <optional>

using namespace zapum;
using Kind = VoiceBeeState::Kind;

Q_DECLARE_METATYPE(std::optional<QVariant>)

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

const QString kHeard = QStringLiteral("what time is it in Lisbon");
const QString kSaid = QStringLiteral("It is a quarter past four.");

// An XSETTINGS property: byte order, serial and record count, then one record per setting (an
// int, a QByteArray string or a QColor).
QByteArray xsettingsProperty(bool bigEndian, const QList<std::pair<QByteArray, QVariant>> &records)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(bigEndian ? QDataStream::BigEndian : QDataStream::LittleEndian);
    const auto padded = [&out](const QByteArray &bytes) {
        out.writeRawData(bytes.constData(), int(bytes.size()));
        for (qsizetype i = bytes.size(); i % 4; ++i)
            out << quint8(0);
    };
    out << quint8(bigEndian) << quint8(0) << quint16(0) << quint32(7) << quint32(records.size());
    for (const auto &[name, value] : records) {
        const int type = value.typeId() == QMetaType::Int ? 0 : value.typeId() == QMetaType::QByteArray ? 1 : 2;
        out << quint8(type) << quint8(0) << quint16(name.size());
        padded(name);
        out << quint32(1);  // last-change serial
        if (type == 0) {
            out << value.toInt();
        } else if (type == 1) {
            out << quint32(value.toByteArray().size());
            padded(value.toByteArray());
        } else {
            out << quint64(0x7f7f7f7f7f7f7f7f);  // four 16-bit channels
        }
    }
    return data;
}

QList<double> barHeights(Kind kind, double seconds, const QList<float> &levels, bool reduceMotion = false)
{
    QList<double> heights;
    for (int i = 0; i < kVoiceBarCount; ++i)
        heights << voiceBarHeight(kind, i, seconds, levels, reduceMotion);
    return heights;
}

}  // namespace

class TestCompanionRules : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

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
        // A new size keeps the centre (as the real panel shows), but never pushes it off screen.
        QCOMPARE(resizedAroundCentre(QRectF(1190, 710, 90, 90), QSizeF(114, 114), kScreen),
                 QRectF(1166, 686, 114, 114));
        QCOMPARE(resizedAroundCentre(QRectF(0, 0, 90, 90), QSizeF(114, 114), kScreen), QRectF(0, 0, 114, 114));
        // A drop is pulled fully back inside, below a top bar too.
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
        QVERIFY(qFuzzyCompare(state.strollTo, laterCycle));
    }

    void phases()
    {
        const PatrolTimings timings;  // 22 s walks
        ScriptedRandom random{{15.0, 0.2, 0.8}};
        PatrolState state;
        beginPatrolCycle(state, 1000.0, random.source(), timings);
        QCOMPARE(advancePatrol(state, 1014.9, random.source(), timings), 0.2);
        QCOMPARE(state.phase, PatrolPhase::Pausing);
        // The tick that ends the pause still shows the start; the walk's clock starts there.
        QCOMPARE(advancePatrol(state, 1015.0, random.source(), timings), 0.2);

        // Walking 0.2 -> 0.8 along the eased path (cubic: 1/16 at a quarter, 15/16 at three quarters).
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 5.5, random.source(), timings), 0.2 + 0.6 * 0.0625));
        QVERIFY(qFuzzyCompare(advancePatrol(state, 1015.0 + 16.5, random.source(), timings), 0.2 + 0.6 * 0.9375));

        random.values = {8.0, 0.3};
        QCOMPARE(advancePatrol(state, 1015.0 + 22.0, random.source(), timings), 0.8);
        QCOMPARE(state.phase, PatrolPhase::Pausing);
        QCOMPARE(state.strollTo, 0.3);
        QCOMPARE(state.pauseSeconds, 8.0);
        QCOMPARE(state.restingPosition(), 0.55);
    }

    void chipShowsTheWordsThatFitTheState()
    {
        const auto chip = [](const VoiceBeeState &state, const QString &heard, const QString &said,
                             const std::optional<QString> &storedError = std::nullopt) {
            return chipText({state, heard, said, storedError});
        };
        QCOMPARE(chip(VoiceBeeState::thinking(), kHeard, QString()), kHeard);
        QCOMPARE(chip(VoiceBeeState::idle(), kHeard, kSaid), kSaid);
        QCOMPARE(chip(VoiceBeeState::idle(), kHeard, QString()), kHeard);
        const QString key = QStringLiteral("Add an Anthropic key in Settings \u2192 Voice.");
        QCOMPARE(chip(VoiceBeeState::error(key), kHeard, kSaid, u"older"_qs), key);
        QCOMPARE(chip(VoiceBeeState::error(QString()), kHeard, kSaid, u"Microphone unavailable"_qs),
                 u"Microphone unavailable"_qs);
        QCOMPARE(chip(VoiceBeeState::error(QString()), kHeard, kSaid), QString());
    }

    void barHeightsFollowStateAndLevels()
    {
        const QList<float> loud{0.2f, 0.4f, 0.6f, 1.0f, 0.6f, 0.4f, 0.2f}, silent(kVoiceBarCount, 0.0f);
        const QList<double> floor(kVoiceBarCount, 8.0);
        QCOMPARE(barHeights(Kind::Error, 4.2, loud), floor);
        QCOMPARE(barHeights(Kind::Speaking, 3.0, {}), floor);

        // Listening and speaking follow the levels, not the clock; louder is taller.
        const QList<double> listening = barHeights(Kind::Listening, 3.0, loud);
        QCOMPARE(barHeights(Kind::Speaking, 9.0, loud), listening);
        const QList<float> quieter{0.1f, 0.2f, 0.3f, 0.5f, 0.3f, 0.2f, 0.1f};
        const QList<double> lower = barHeights(Kind::Listening, 3.0, quieter);
        for (int i = 0; i < kVoiceBarCount; ++i)
            QVERIFY2(listening[i] > lower[i] && lower[i] > 8.0, qPrintable(QString::number(i)));

        // Reduced motion: one still bell, whatever the state, the time or the levels.
        const QList<double> bell = barHeights(Kind::Listening, 3.0, loud, true);
        QCOMPARE(barHeights(Kind::Thinking, 0.7, silent, true), bell);
        QVERIFY(bell[0] < bell[2] && bell[2] < bell[3] && bell[0] == bell[6]);

        // Without levels, idle ripples between 4 and 8 and thinking waves between 10 and 48.
        QVERIFY(barHeights(Kind::Idle, 0.0, silent) != barHeights(Kind::Idle, 0.25, silent));
        for (double t = 0.0; t < 3.0; t += 0.01) {
            for (int i = 0; i < kVoiceBarCount; ++i) {
                const double idle = voiceBarHeight(Kind::Idle, i, t, {}, false);
                const double thinking = voiceBarHeight(Kind::Thinking, i, t, {}, false);
                QVERIFY(idle >= 4.0 - 1e-9 && idle <= 8.0 + 1e-9);
                QVERIFY(thinking >= 10.0 - 1e-9 && thinking <= 48.0 + 1e-9);
            }
        }
    }

    void springSettlesOnTheLevel()
    {
        // A lively but short bounce: past the level once, and at rest on it within a second.
        BarSpring spring{8.0, 0.0};
        double peak = 0.0;
        for (int frame = 0; frame < 60; ++frame) {
            spring.step(40.0, 1.0 / 60.0);
            peak = std::max(peak, spring.position);
        }
        QVERIFY(qAbs(spring.position - 40.0) < 0.2);
        QVERIFY2(peak > 41.0 && peak < 44.0, qPrintable(QString::number(peak)));
    }

    void beeModelMustBeWhole_data()
    {
        QFile shipped(test::builtBeeModelPath());
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        const QByteArray whole = shipped.readAll();
        QByteArray overlong = whole;
        overlong[12] = char(0xff);  // the JSON chunk claims more bytes than the file holds
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("usable");
        QTest::newRow("the shipped model") << whole << true;
        QTest::newRow("cut short") << whole.left(whole.size() / 2) << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("chunk past the end") << overlong << false;
    }
    void beeModelMustBeWhole()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, usable);
        const QString path = m_dir.filePath(u"bee-%1.glb"_qs.arg(QLatin1String(QTest::currentDataTag())));
        QFile file(path);
        QVERIFY(bytes.isNull() || (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()));
        file.close();
        const BeeModelChoice choice = chooseBeeModel(path);
        QCOMPARE(choice.model, usable ? QUrl::fromLocalFile(path) : QUrl());
        QCOMPARE(choice.reason.isEmpty(), usable);
    }

    void beeRestsMostlyAndNeverRendersFasterThanThirtyFrames_data()
    {
        QTest::addColumn<int>("kindIndex");
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<int>("maxFramesPerMinute");
        QTest::newRow("idle") << int(Kind::Idle) << false << 250;
        QTest::newRow("listening") << int(Kind::Listening) << false << 1200;
        QTest::newRow("error: still") << int(Kind::Error) << false << 0;
        QTest::newRow("listening, reduce motion") << int(Kind::Listening) << true << 0;
    }
    void beeRestsMostlyAndNeverRendersFasterThanThirtyFrames()
    {
        QFETCH(int, kindIndex);
        const auto kind = Kind(kindIndex);
        QFETCH(bool, reduceMotion);
        QFETCH(int, maxFramesPerMinute);
        // Play a minute the way the view does: draw the pose when it changed, wait as told.
        BeePose drawn = beePose(kind, 0.0, reduceMotion);
        int frames = 0;
        double wingSwing = 0.0;
        double lastFrame = -1.0;
        for (double t = 0.0; t < 60.0;) {
            const BeePose pose = beePose(kind, t, reduceMotion);
            if (!(pose == drawn)) {
                ++frames;
                QVERIFY2(t - lastFrame > 0.0329, qPrintable(QStringLiteral("frames %1 s, %2 s").arg(lastFrame).arg(t)));
                lastFrame = t;
            }
            drawn = pose;
            wingSwing = std::max(wingSwing, std::abs(pose.wingRadians));
            const int wait = beeNextFrameMs(kind, t, reduceMotion);
            if (wait < 0)
                break;
            t += wait / 1000.0;
        }
        QVERIFY2(frames <= maxFramesPerMinute, qPrintable(QString::number(frames)));
        // Every state that may move does move its wings; the others never draw again.
        QCOMPARE(wingSwing > 0.2, maxFramesPerMinute > 0);
        QCOMPARE(frames > maxFramesPerMinute / 3, maxFramesPerMinute > 0);
    }

    void xsettings_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<std::optional<QVariant>>("value");
        const QByteArray name("Gtk/EnableAnimations");
        const std::pair<QByteArray, QVariant> theme{"Net/ThemeName", QByteArray("Adwaita")};
        const std::optional<QVariant> none;
        QTest::newRow("off, after text") << xsettingsProperty(false, {theme, {name, 0}}) << std::optional<QVariant>(0);
        QTest::newRow("on, big endian, after a colour")
            << xsettingsProperty(true, {{"Gtk/Colour", QColor(Qt::gray)}, {name, 1}}) << std::optional<QVariant>(1);
        QTest::newRow("not published") << xsettingsProperty(false, {{"Net/DoubleClickTime", 400}}) << none;
        QTest::newRow("truncated value") << xsettingsProperty(false, {{name, 0}}).chopped(2) << none;
    }
    void xsettings()
    {
        QFETCH(QByteArray, property);
        QTEST(readXSetting(property, "Gtk/EnableAnimations"), "value");
    }

    void gtkIni()
    {
        QCOMPARE(gtkIniEnablesAnimations(u"[Settings]\n  gtk-enable-animations = 0\n"_qs), std::optional<bool>(false));
        QCOMPARE(gtkIniEnablesAnimations(u"gtk-enable-animations=false\ngtk-enable-animations=true"_qs),
                 std::optional<bool>(true));  // the last one wins
        QCOMPARE(gtkIniEnablesAnimations(u"[Settings]\ngtk-theme-name=Adwaita\n"_qs), std::nullopt);
        QCOMPARE(gtkIniEnablesAnimations(u"gtk-enable-animations=maybe\n"_qs), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestCompanionRules)
#include "tst_companion_rules.moc"
