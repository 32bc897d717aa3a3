// The companion panel and its guidance popover as real windows under Xvfb + openbox: placement,
// strolling, dragging, focus, what the bee looks like, and the popover driven like a person would.
#include "companion/companion_manager.h"
#include "support/companion_graph.h"
#include "support/desktop_driver.h"
#include "ui/guidance_popover_host.h"
#include "ui/guidance_popover_model.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QImage>
#include <QMouseEvent>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QRasterWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>

#include <memory>

using namespace zapum;
using test::xdotool;
using namespace std::chrono_literals;

namespace {

// Quick strolls so a test sees several walks in a few seconds.
const CompanionTimings kQuickTimings{
    .patrol = {
        .walkSeconds = 1.0, .firstPauseMin = 0.2, .firstPauseMax = 0.3, .laterPauseMin = 0.2, .laterPauseMax = 0.3}};

QString arg(double v)
{
    return QString::number(qRound(v));
}

// The share of the pixels in `area` that are clearly amber or yellow: the bee's stripes, the bars.
double yellowShare(const QImage &image, const QRect &area)
{
    int yellow = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            yellow += c.red() > 180 && c.green() > 110 && c.blue() < 110;
        }
    }
    return double(yellow) / std::max(1, area.width() * area.height());
}

struct PressRecorder : QRasterWindow {
    QList<QPoint> presses;
    void mousePressEvent(QMouseEvent *event) override { presses << event->globalPosition().toPoint(); }
};

}  // namespace

class TestCompanionPanel : public QObject {
    Q_OBJECT

    test::OwnWarnings m_warnings;
    std::unique_ptr<test::CompanionGraph> m_graph;
    double m_now = 0.0;  // the patrol's clock for a bee that stands still until a test moves time

    QRect availableArea() const { return QGuiApplication::primaryScreen()->availableGeometry(); }
    QQuickView *panel() const { return m_graph->manager.panel(); }

    // Shows the companion and waits until the window system has the panel where the manager put it.
    // A bee that does not stroll has its patrol clock stopped, so it holds still under any load.
    void startCompanion(bool strolling = false, const QString &beeModelPath = test::builtBeeModelPath())
    {
        m_graph = std::make_unique<test::CompanionGraph>(
            kQuickTimings, beeModelPath,
            strolling ? CompanionManager::Clock(&monotonicSeconds) : [this] { return m_now; });
        m_graph->manager.setup();
        // The first patrol step takes the bee from where it was placed to where its walk starts;
        // taken at once, so no move of ours is still on its way when a test begins.
        if (!strolling)
            m_graph->manager.tickPatrol();
        QVERIFY(QTest::qWaitForWindowExposed(panel()));
        QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry(), m_graph->manager.panelFrame().toRect(), 5000);
    }

    // Whether the window manager has taken the panel on: it has then also handled the "above" state
    // the panel asks for right after it is mapped (and anything it does on mapping, such as focus).
    bool managedAbove() const
    {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"),
                    {QStringLiteral("-id"), QString::number(panel()->winId()), QStringLiteral("_NET_WM_STATE")});
        return xprop.waitForFinished(10000) && xprop.readAllStandardOutput().contains("_NET_WM_STATE_ABOVE");
    }

    static QString windowAt(QPoint p)
    {
        const QString shell = xdotool({QStringLiteral("mousemove"), arg(p.x()), arg(p.y()),
                                       QStringLiteral("getmouselocation"), QStringLiteral("--shell")});
        return shell.section(QLatin1String("WINDOW="), 1).section(QLatin1Char('\n'), 0, 0).trimmed();
    }

    // Where the panel is, the manager's idea of it and whether the user placed it, for a failure.
    QString where() const
    {
        QString text;
        QDebug(&text) << panel()->geometry() << m_graph->manager.panelFrame()
                      << "placed by the user:" << m_graph->manager.userChoseFreePosition();
        return text;
    }

    QQuickView *popoverWindow() const { return m_graph->popoverHost.window(); }
    QQuickItem *item(const char *name) const
    {
        return test::findItem(popoverWindow()->rootObject(), QLatin1String(name));
    }
    // Closed down to the X server: a window shown again before its unmapping has come back would
    // count as exposed and active at once, and a click meant for it would land below.
    bool closed() const
    {
        return !m_graph->bee.popoverOpen() && !popoverWindow()->isVisible() && !popoverWindow()->isExposed()
               && !popoverWindow()->isActive();
    }

    void clickItem(const char *name)
    {
        QQuickItem *target = item(name);
        test::clickAt(target->mapToGlobal(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    }

    void openByClickingTheBee()
    {
        test::clickAt(m_graph->manager.beeFrame().center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(m_graph->bee.popoverOpen(), 3000);
        QVERIFY(QTest::qWaitForWindowActive(popoverWindow()));
    }

    // A long time later, a patrol step: a bee still strolling would be put back onto its rail.
    void letThePatrolRun()
    {
        m_now += 1000.0;
        m_graph->manager.tickPatrol();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
            QSKIP("needs the test desktop (scripts/test-session.sh)");
    }

    void init() { m_warnings.take(); }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});  // never leave the button down
        m_graph.reset();
        const QStringList warnings = m_warnings.take();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void sitsAboveTheBottomAndStrolls()
    {
        startCompanion(true);
        const QRect area = availableArea();
        // A couple of walks: the panel moves along the rail and stays on its line; the patrol's own
        // moves, however late the window system reports them, never count as somebody else's.
        QSet<int> xs;
        QList<QRect> offLine;
        QVERIFY2(QTest::qWaitFor([&] {
                     const QRect g = panel()->geometry();
                     if (g.bottom() != area.bottom() - 18)
                         offLine << g;
                     xs.insert(g.x());
                     return xs.size() > 40;
                 }, 30000),
                 "the bee strolls");
        QCOMPARE(offLine, QList<QRect>());
        QVERIFY(!m_graph->manager.userChoseFreePosition());
    }

    // A drop ends the patrol for good; a new size from the settings keeps the bee where it was put.
    void dragStopsThePatrol()
    {
        startCompanion();
        // Pressed on the (still) bee and pulled up first, so that the drag has begun before the move.
        const QRect before = panel()->geometry();
        const QPoint pulled = before.center() - QPoint(0, 40);
        xdotool({QStringLiteral("mousemove"), arg(before.center().x()), arg(before.center().y()),
                 QStringLiteral("mousedown"), QStringLiteral("1"), QStringLiteral("mousemove"), arg(pulled.x()),
                 arg(pulled.y())});
        QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry().top(), before.top() - 40, 5000);
        // Let go only once the panel got there: a release sent before the motion landed would drop
        // the bee short of it.
        const QPoint drop(300, 200);
        xdotool({QStringLiteral("mousemove"), arg(drop.x()), arg(drop.y())});
        QTRY_VERIFY2_WITH_TIMEOUT(QRect(panel()->geometry()).contains(drop), qPrintable(where()), 5000);
        xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry(), m_graph->manager.panelFrame().toRect(), 5000);
        const QRect dropped = panel()->geometry();
        QVERIFY(dropped.contains(drop));
        letThePatrolRun();
        QCOMPARE(m_graph->manager.panelFrame().toRect(), dropped);

        m_graph->settings.setValue(QStringLiteral("ZaPumCompanionSide"), 96.0);
        Q_EMIT m_graph->notifications.companionLayoutChanged();
        const QRect resized(dropped.topLeft() - QPoint(12, 12), QSize(114, 114));  // around the same centre
        QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry(), resized, 5000);
        QCOMPARE(m_graph->bee.side(), 96.0);
        QVERIFY(!m_graph->bee.popoverOpen());  // a drag is not a click
    }

    // Alt+drag, a keyboard move or another program: the window manager moves the panel, and the
    // place it settles at is remembered like a drop of the bee.
    void aMoveByTheWindowManagerIsLearnt()
    {
        startCompanion();
        const QString id = QString::number(panel()->winId());
        xdotool({QStringLiteral("windowmove"), id, QStringLiteral("300"), QStringLiteral("200")});
        QTRY_VERIFY2_WITH_TIMEOUT(m_graph->manager.userChoseFreePosition(), qPrintable(where()), 5000);
        letThePatrolRun();
        QCOMPARE(m_graph->manager.panelFrame(), QRectF(300, 200, 90, 90));

        // Moved half off the screen: pulled back on, as a drop is (the same rule as after a drag).
        const QRect area = availableArea();
        xdotool({QStringLiteral("windowmove"), id, arg(area.right() - 40), QStringLiteral("200")});
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->manager.panelFrame(), QRectF(area.right() + 1 - 90, 200, 90, 90), 5000);
    }

    // Only the bee (and the voice card during a turn) takes clicks; elsewhere the panel is glass.
    void clicksOnEmptyPartsReachTheWindowBelow_data()
    {
        QTest::addColumn<bool>("voiceTurn");
        QTest::newRow("resting") << false;
        QTest::newRow("voice turn") << true;
    }
    void clicksOnEmptyPartsReachTheWindowBelow()
    {
        QFETCH(bool, voiceTurn);
        startCompanion();
        if (voiceTurn) {
            m_graph->voice.setBeeState(VoiceBeeState::listening());
            QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry().size(), QSize(240, 199), 5000);
        }
        const QRect g = panel()->geometry();
        PressRecorder below;
        below.setGeometry(g.adjusted(-20, -20, 20, 20));
        below.show();
        QVERIFY(QTest::qWaitForWindowExposed(&below));

        // The window manager's frame around the panel has taken on the panel's shape by then.
        const QPoint corner = g.topLeft() + QPoint(3, 3);
        const QString belowId = windowAt(g.topLeft() - QPoint(10, 10));
        QTRY_COMPARE_WITH_TIMEOUT(windowAt(corner), belowId, 5000);
        test::clickAt(corner);
        QTRY_COMPARE_WITH_TIMEOUT(below.presses, QList<QPoint>{corner}, 5000);
        test::clickAt(m_graph->manager.beeFrame().center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(m_graph->bee.popoverOpen(), 5000);
        QCOMPARE(below.presses.size(), 1);
    }

    void voiceTurnGrowsTheCardAndTappingItTogglesPushToTalk()
    {
        startCompanion();
        m_graph->voice.setLastTranscript(QStringLiteral("What is on my calendar today?"));
        m_graph->voice.setBeeState(VoiceBeeState::listening());
        m_graph->amplitude.setLevels({0.3f, 0.5f, 0.8f, 1.0f, 0.8f, 0.5f, 0.3f});
        QVERIFY(m_graph->manager.isPatrolSuspended());
        QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry().size(), QSize(240, 199), 3000);
        auto *card = test::findItem(panel()->rootObject(), QStringLiteral("voiceCard"));

        // The bee and the voice bars are drawn (Xvfb draws at one device pixel per point).
        const QString path = QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/companion-listening.png");
        double bee = 0.0, bars = 0.0;
        const auto drawn = [&] {
            const QImage shot = panel()->grabWindow();
            shot.save(path);
            bee = yellowShare(shot, QRect(84, 118, 72, 72));
            bars = yellowShare(shot, QRect(0, 9, 240, 60));
            return bee > 0.03 && bars > 0.03;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(
            drawn(), qPrintable(QStringLiteral("yellow: bee %1, bars %2 in %3").arg(bee).arg(bars).arg(path)), 15000);

        const QRect g = panel()->geometry();
        test::clickAt(QPoint(g.center().x(), g.top() + 40));
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->pushToTalkToggles, 1, 3000);
        QVERIFY(!m_graph->bee.popoverOpen());

        m_graph->voice.setBeeState(VoiceBeeState::idle());
        QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry().size(), QSize(90, 90), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(!card->isVisible(), 3000);
        QVERIFY(!m_graph->manager.isPatrolSuspended());
    }

    void neverTakesFocus()
    {
        QRasterWindow work;
        work.setGeometry(100, 100, 400, 300);
        work.show();
        QVERIFY(QTest::qWaitForWindowExposed(&work));
        work.requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&work));
        const QString workId = QString::number(work.winId());
        QTRY_COMPARE_WITH_TIMEOUT(xdotool({QStringLiteral("getactivewindow")}), workId, 3000);

        startCompanion();
        QTRY_VERIFY_WITH_TIMEOUT(managedAbove(), 5000);
        m_graph->voice.setBeeState(VoiceBeeState::thinking());
        QTRY_COMPARE_WITH_TIMEOUT(panel()->geometry().size(), QSize(240, 199), 3000);
        m_graph->manager.hide();
        QTRY_VERIFY_WITH_TIMEOUT(!managedAbove(), 5000);  // let go of: the state goes with it
        m_graph->manager.show();
        QTRY_VERIFY_WITH_TIMEOUT(managedAbove(), 5000);
        QCOMPARE(xdotool({QStringLiteral("getactivewindow")}), workId);
    }

    // A model that passes the file checks but fails to load: the emoji bee, bobbing. (A missing
    // model never reaches the 3D view, and the model itself is drawn in the other tests.)
    void withoutAUsableModelTheEmojiBeeBobs()
    {
        QFile shipped(test::builtBeeModelPath());
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QByteArray corrupt = shipped.readAll();
        corrupt.replace(QByteArrayLiteral("\"nodes\""), QByteArrayLiteral("\"n#d@s\""));  // same length, not glTF
        corrupt.replace(QByteArrayLiteral("{\"asset\""), QByteArrayLiteral("[\"asset\""));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bee-runtime.glb"));
        QFile model(path);
        QVERIFY(model.open(QIODevice::WriteOnly) && model.write(corrupt) == corrupt.size());
        model.close();
        startCompanion(false, path);
        QQuickItem *bee = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((bee = test::findItem(panel()->rootObject(), QStringLiteral("emojiBee"))), 5000);
        const double bob = bee->property("bob").toDouble();
        QTRY_VERIFY_WITH_TIMEOUT(bee->property("bob").toDouble() != bob, 5000);
        // Drawn in colour: a font without the colour emoji would draw a black outline.
        const QString file = QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/companion-emoji.png");
        double yellow = 0.0;
        const auto drawn = [&] {
            const QImage shot = panel()->grabWindow();
            shot.save(file);
            return (yellow = yellowShare(shot, shot.rect())) > 0.03;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(drawn(), qPrintable(QStringLiteral("yellow %1 in %2").arg(yellow).arg(file)), 5000);
        m_warnings.take();  // a broken model is reported, as it should be
    }

    void aHiddenPanelDrawsNoFrames_data()
    {
        QTest::addColumn<bool>("blankScreen");
        QTest::newRow("hidden panel") << false;
        QTest::newRow("blanked screen") << true;
    }
    // Nothing is drawn while no one can see the bee: the panel hidden, or the screen blanked by the
    // X server's screen saver (as a locker would have it).
    void aHiddenPanelDrawsNoFrames()
    {
        QFETCH(bool, blankScreen);
        startCompanion();
        auto *model = test::findItem(panel()->rootObject(), QStringLiteral("beeModelView"));
        QTRY_VERIFY_WITH_TIMEOUT(model->property("loaded").toBool(), 5000);
        QObject *motion = model->property("motion").value<QObject *>();
        int swapped = 0;
        QElapsedTimer sinceSwap;
        sinceSwap.start();
        // The render thread reports swaps through queued calls; with this test's own receiver they
        // end with the test, instead of landing on its finished stack frame during the next one.
        QObject counter;
        connect(panel(), &QQuickWindow::frameSwapped, &counter, [&] {
            ++swapped;
            sinceSwap.restart();
        });
        // Listening beats the wings without pause, 20 frames a second.
        m_graph->voice.setBeeState(VoiceBeeState::listening());
        int frames = motion->property("frames").toInt();
        QTRY_VERIFY_WITH_TIMEOUT(motion->property("frames").toInt() > frames + 3 && swapped > 3, 3000);

        const auto unblank = qScopeGuard([blankScreen] {
            if (blankScreen)
                QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")});
        });
        if (blankScreen) {
            QCOMPARE(QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("activate")}), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!motion->property("running").toBool(), 3000);
            // The panel stays exposed: the frame that takes the voice bars away still comes.
            QTRY_VERIFY_WITH_TIMEOUT(sinceSwap.elapsed() > 200, 3000);
        } else {
            m_graph->manager.hide();
            QTRY_VERIFY_WITH_TIMEOUT(!motion->property("running").toBool() && !panel()->isExposed(), 3000);
        }
        frames = motion->property("frames").toInt();
        swapped = 0;
        QTest::qWait(600);  // a dozen frames' worth
        QCOMPARE(motion->property("frames").toInt(), frames);
        QCOMPARE(swapped, 0);

        if (blankScreen)
            QCOMPARE(QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")}), 0);
        else
            m_graph->manager.show();
        QTRY_VERIFY_WITH_TIMEOUT(motion->property("frames").toInt() > frames + 3, 3000);
    }

    void popoverOpensNextToTheBeeAndClosesFourWays()
    {
        startCompanion();
        m_graph->popover.setGuidance({QStringLiteral("Get set up"),
                                      QStringLiteral("Three steps to a linked workspace"),
                                      {{QStringLiteral("1"), QStringLiteral("Install the app"), {}, true}},
                                      QStringLiteral("Open setup"),
                                      QStringLiteral("https://example.com/setup")});
        openByClickingTheBee();
        QVERIFY2(m_graph->manager.isPatrolSuspended(), "the bee holds still under its popover");
        const QRect popover = popoverWindow()->geometry();
        const QRectF bee = m_graph->manager.beeFrame();
        QVERIFY(popover.bottom() < bee.top());
        QVERIFY(qAbs(popover.center().x() - bee.center().x()) <= 2);

        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(closed(), 3000);
        QVERIFY(!m_graph->manager.isPatrolSuspended());

        // So does a second click on the bee, and it stays closed: the next click opens it again.
        openByClickingTheBee();
        test::clickAt(m_graph->manager.beeFrame().center().toPoint());
        QTRY_VERIFY_WITH_TIMEOUT(closed(), 3000);

        // So does its checklist's action, which opens its page.
        openByClickingTheBee();
        clickItem("tabActivity");
        // Shown once the Ask tab has faded out.
        QTRY_VERIFY_WITH_TIMEOUT(item("guidanceList")->isVisible() && item("primaryAction")->isVisible()
                                     && !item("questionField")->isVisible(),
                                 3000);
        QVERIFY(popoverWindow()->grabWindow().save(QStringLiteral(ZAPUM_TEST_OUTPUT_DIR "/guidance-popover.png")));

        clickItem("primaryAction");
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->openedUrls, QList{QUrl(QStringLiteral("https://example.com/setup"))}, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(closed(), 3000);

        openByClickingTheBee();
        QWindow other;
        other.setGeometry(50, 50, 200, 150);
        other.show();
        other.requestActivate();
        QTRY_VERIFY_WITH_TIMEOUT(!m_graph->bee.popoverOpen(), 3000);
    }

    void popoverSendsTypedQuestions()
    {
        startCompanion();
        openByClickingTheBee();
        QQuickItem *field = item("questionField");
        QTRY_VERIFY_WITH_TIMEOUT(field->hasActiveFocus(), 3000);
        xdotool({QStringLiteral("type"), QStringLiteral("which tickets are open")});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QTRY_COMPARE_WITH_TIMEOUT(m_graph->questions, QStringList{QStringLiteral("which tickets are open")}, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(field->property("text").toString(), QString(), 3000);

        m_graph->popover.setAskState(true, std::nullopt);
        QVERIFY(item("thinking")->isVisible());
        field->setProperty("text", QStringLiteral("and closed ones"));
        QCOMPARE(item("sendButton")->isEnabled(), false);

        m_graph->popover.setAskState(false, PopoverAnswer{false, QStringLiteral("Three tickets are open.")});
        QVERIFY(item("answer")->isVisible());
        QVERIFY(item("copyButton")->isVisible());
        QMetaObject::invokeMethod(item("copyButton"), "clicked");
        QCOMPARE(m_graph->copied, QStringList{QStringLiteral("Three tickets are open.")});

        m_graph->popover.setAskState(false, PopoverAnswer{true, QStringLiteral("The backend could not be reached.")});
        QVERIFY(item("error")->isVisible());
        QVERIFY(!item("copyButton")->isVisible());
        QVERIFY(item("askAgainButton")->isVisible());
        QMetaObject::invokeMethod(item("askAgainButton"), "clicked");
        QCOMPARE(m_graph->responseClears, 1);
        QTRY_VERIFY_WITH_TIMEOUT(field->hasActiveFocus(), 3000);

        // Past four lines the field stops growing and scrolls with the cursor.
        field->setProperty("text", QStringList(8, QStringLiteral("line")).join(u'\n'));
        field->setProperty("cursorPosition", field->property("length"));
        QQuickItem *row = item("questionRow");
        const auto caret = [&] { return field->mapRectToItem(row, field->property("cursorRectangle").toRectF()); };
        QTRY_VERIFY2(caret().bottom() <= row->height() && caret().top() >= 0,
                     qPrintable(QStringLiteral("%1 in %2").arg(caret().bottom()).arg(row->height())));
        QVERIFY(row->height() < 6 * caret().height());
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestCompanionPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_companion_panel.moc"
