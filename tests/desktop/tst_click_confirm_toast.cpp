#include "desktop/click_confirm_toast.h"

#include "platform/escape_key_watcher.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <optional>

using namespace std::chrono_literals;
using namespace zapum;

namespace {

const QString kAction = QStringLiteral("ZaPum will click at (100, 200)");

QString xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString activeWindow()
{
    return xdotool({QStringLiteral("getactivewindow")});
}

// Toast windows of ours that the X server shows right now.
int visibleToasts()
{
    const QString found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                   QString::number(QCoreApplication::applicationPid()), QStringLiteral("--name"),
                                   QStringLiteral("^ZaPum$")});
    return found.isEmpty() ? 0 : int(found.split(u'\n').size());
}

QQuickItem *toastItem(const ClickConfirmToast &toast, const char *objectName)
{
    auto *view = qobject_cast<QQuickView *>(toast.panel());
    return view && view->rootObject() ? view->rootObject()->findChild<QQuickItem *>(QLatin1String(objectName)) : nullptr;
}

QString toastText(const ClickConfirmToast &toast, const char *objectName)
{
    QQuickItem *item = toastItem(toast, objectName);
    return item ? item->property("text").toString() : QString();
}

// One confirm() running on the event loop: its answer and when it came.
struct Pending {
    std::optional<bool> answer;
    qint64 answeredAtMs = -1;
};

void start(ClickConfirmToast &toast, Pending &pending, const QElapsedTimer &clock, int seconds = 2)
{
    // Not the toast as context: the answer must arrive even when the toast is destroyed.
    QCoro::connect(toast.confirm(kAction, seconds), QCoreApplication::instance(), [&pending, &clock](bool answer) {
        pending.answer = answer;
        pending.answeredAtMs = clock.elapsed();
    });
}

// A plain X client under the window manager that holds the keyboard focus.
class FocusHolder {
public:
    FocusHolder()
    {
        m_process.start(QStringLiteral("xmessage"), {QStringLiteral("-name"), QStringLiteral("zapumfocusholder"),
                                                     QStringLiteral("I have the focus")});
        m_window = xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                            QStringLiteral("--classname"), QStringLiteral("zapumfocusholder")})
                       .section(u'\n', 0, 0);
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_window});
    }
    ~FocusHolder()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString window() const { return m_window; }

private:
    QProcess m_process;
    QString m_window;
};

}  // namespace

class TestClickConfirmToast : public QObject {
    Q_OBJECT

    static std::unique_ptr<ClickConfirmToast> makeToast()
    {
        return std::make_unique<ClickConfirmToast>(createEscapeKeyWatcher());
    }

    static bool inSession() { return !qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION"); }

private Q_SLOTS:
    void secondsLabel_data()
    {
        QTest::addColumn<double>("remaining");
        QTest::addColumn<QString>("expected");
        QTest::newRow("start") << 2.0 << "2s";
        QTest::newRow("first tick") << 1.95 << "2s";
        QTest::newRow("just over a second") << 1.0000001 << "2s";
        QTest::newRow("one second") << 1.0 << "1s";
        QTest::newRow("last tick") << 0.05 << "1s";
        QTest::newRow("rounding just below zero") << -1e-12 << "0s";
    }

    void secondsLabel()
    {
        QFETCH(double, remaining);
        QFETCH(QString, expected);
        QCOMPARE(toastSecondsLabel(remaining), expected);
    }

    void progress_data()
    {
        QTest::addColumn<double>("remaining");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<double>("expected");
        QTest::newRow("empty at the start") << 2.0 << 2 << 0.0;
        QTest::newRow("half way") << 1.0 << 2 << 0.5;
        QTest::newRow("full at the end") << 0.0 << 2 << 1.0;
        QTest::newRow("never past full") << -0.05 << 2 << 1.0;
        QTest::newRow("never below empty") << 3.0 << 2 << 0.0;
    }

    void progress()
    {
        QFETCH(double, remaining);
        QFETCH(int, seconds);
        QFETCH(double, expected);
        QVERIFY(std::abs(toastProgress(remaining, seconds) - expected) < 1e-9);
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("whole screen") << QRect(0, 0, 1280, 800) << QRect(480, 44, 320, 96);
        QTest::newRow("under a top panel") << QRect(0, 28, 1920, 1052) << QRect(800, 72, 320, 96);
        QTest::newRow("second screen to the right") << QRect(1280, 0, 1024, 768) << QRect(1632, 44, 320, 96);
    }

    void placement()
    {
        QFETCH(QRect, available);
        QFETCH(QRect, expected);
        QCOMPARE(toastGeometry(available), expected);
    }

    void countdownEndsOnItsLastTick_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("tickMs");
        QTest::addColumn<int>("ticks");
        QTest::newRow("product timing") << 2 << 50 << 40;
        QTest::newRow("tick not dividing the length") << 1 << 30 << 34;
    }

    void countdownEndsOnItsLastTick()
    {
        QFETCH(int, seconds);
        QFETCH(int, tickMs);
        QFETCH(int, ticks);
        ToastCountdown countdown(kAction, seconds, std::chrono::milliseconds(tickMs));
        QSignalSpy tickSpy(&countdown, &ToastCountdown::remainingChanged);
        QSignalSpy finishedSpy(&countdown, &ToastCountdown::finished);
        countdown.start();
        QTRY_COMPARE_WITH_TIMEOUT(finishedSpy.count(), 1, seconds * 3000);
        QCOMPARE(tickSpy.count(), ticks);
        QVERIFY(!countdown.isRunning());
        QTest::qWait(3 * tickMs);
        QCOMPARE(tickSpy.count(), ticks);
    }

    void nonPositiveSecondsAnswersYesAtOnce_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -3;
    }

    void nonPositiveSecondsAnswersYesAtOnce()
    {
        QFETCH(int, seconds);
        auto toast = makeToast();
        QElapsedTimer clock;
        clock.start();
        Pending pending;
        start(*toast, pending, clock, seconds);
        QCOMPARE(toast->panel(), nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(pending.answer.has_value(), 1000);
        QCOMPARE(*pending.answer, true);
    }

    void noInputConfirmsWhenTheCountdownEnds()
    {
        if (!inSession())
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
        auto toast = makeToast();
        QElapsedTimer clock;
        clock.start();
        Pending pending;
        start(*toast, pending, clock);

        // The countdown starts once the toast is on screen; the first one takes a moment to build.
        QTRY_VERIFY_WITH_TIMEOUT(toast->panel() && toast->panel()->isExposed(), 3000);
        const qint64 shownAt = clock.elapsed();
        QTest::qWait(500);
        const QString actionText = toastText(*toast, "actionText");
        const QString labelEarly = toastText(*toast, "secondsLabel");
        const double progressEarly = toastItem(*toast, "progressBar")->property("value").toDouble();
        const QRect frame = toast->panel()->geometry();
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(toast->panel()->winId()),
                                              QStringLiteral("_NET_WM_STATE"), QStringLiteral("_NET_WM_DESKTOP")});
        xprop.waitForFinished(5000);
        const QString windowManagerState = QString::fromUtf8(xprop.readAllStandardOutput());
        const int toastsShown = visibleToasts();
        QTest::qWait(shownAt + 1500 - clock.elapsed());
        const QString labelLate = toastText(*toast, "secondsLabel");
        const double progressLate = toastItem(*toast, "progressBar")->property("value").toDouble();

        QTRY_VERIFY_WITH_TIMEOUT(pending.answer.has_value(), 5000);
        QCOMPARE(*pending.answer, true);
        QVERIFY2(pending.answeredAtMs - shownAt >= 1900 && pending.answeredAtMs - shownAt < 2500,
                 qPrintable(QString::number(pending.answeredAtMs - shownAt)));
        QCOMPARE(toast->panel(), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(visibleToasts(), 0, 2000);

        QCOMPARE(actionText, kAction);
        QCOMPARE(labelEarly, QStringLiteral("2s"));
        QCOMPARE(labelLate, QStringLiteral("1s"));
        QVERIFY2(progressEarly > 0.15 && progressEarly < 0.4, qPrintable(QString::number(progressEarly)));
        QVERIFY2(progressLate > 0.65 && progressLate < 0.9, qPrintable(QString::number(progressLate)));
        QCOMPARE(toastsShown, 1);
        QCOMPARE(frame, toastGeometry(QGuiApplication::primaryScreen()->availableGeometry()));
        // Above other windows, out of the task list, on every desktop (openbox has no sticky state
        // and answers with the all-desktops number instead).
        for (const char *expected : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_DESKTOP(CARDINAL) = 4294967295"})
            QVERIFY2(windowManagerState.contains(QLatin1String(expected)), qPrintable(windowManagerState));
    }

    void cancelAnswersNoAtOnceAndLeavesNoCountdownBehind()
    {
        if (!inSession())
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
        auto toast = makeToast();
        QElapsedTimer clock;
        clock.start();
        Pending first;
        start(*toast, first, clock);
        QTest::qWait(500);

        QQuickItem *cancel = toastItem(*toast, "cancelButton");
        QVERIFY(cancel);
        const QPointF centre = cancel->mapToGlobal(QPointF(cancel->width() / 2, cancel->height() / 2));
        const qint64 clickedAt = clock.elapsed();
        xdotool({QStringLiteral("mousemove"), QString::number(qRound(centre.x())), QString::number(qRound(centre.y())),
                 QStringLiteral("click"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(first.answer.has_value(), 2000);
        QCOMPARE(*first.answer, false);
        QVERIFY2(first.answeredAtMs - clickedAt < 400, qPrintable(QString::number(first.answeredAtMs - clickedAt)));
        QCOMPARE(toast->panel(), nullptr);

        // The cancelled countdown had 1.5 s left; had it kept running it would end this one early.
        Pending second;
        const qint64 secondAt = clock.elapsed();
        start(*toast, second, clock);
        QTRY_VERIFY_WITH_TIMEOUT(second.answer.has_value(), 5000);
        QCOMPARE(*second.answer, true);
        QVERIFY2(second.answeredAtMs - secondAt >= 1950, qPrintable(QString::number(second.answeredAtMs - secondAt)));
    }

    void aNewRequestSupersedesTheShownOne()
    {
        if (!inSession())
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
        auto toast = makeToast();
        QElapsedTimer clock;
        clock.start();
        Pending first, second;
        start(*toast, first, clock);
        QTest::qWait(500);
        const qint64 secondAt = clock.elapsed();
        start(*toast, second, clock);

        QTRY_VERIFY_WITH_TIMEOUT(first.answer.has_value(), 1000);
        QCOMPARE(*first.answer, false);
        QVERIFY2(first.answeredAtMs - secondAt < 200, qPrintable(QString::number(first.answeredAtMs - secondAt)));
        QTest::qWait(300);
        QCOMPARE(toastText(*toast, "secondsLabel"), QStringLiteral("2s"));
        QCOMPARE(visibleToasts(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(second.answer.has_value(), 5000);
        QCOMPARE(*second.answer, true);
        QVERIFY2(second.answeredAtMs - secondAt >= 1950 && second.answeredAtMs - secondAt < 2600,
                 qPrintable(QString::number(second.answeredAtMs - secondAt)));
    }

    void theActiveAppKeepsTheFocus()
    {
        if (!inSession())
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
        FocusHolder holder;
        QVERIFY(!holder.window().isEmpty());
        QCOMPARE(activeWindow(), holder.window());

        auto toast = makeToast();
        QElapsedTimer clock;
        clock.start();
        Pending pending;
        start(*toast, pending, clock);
        QStringList activeWhileShown;
        for (int at : {300, 1000, 1700})
            QTimer::singleShot(at, toast.get(), [&] { activeWhileShown.append(activeWindow()); });
        QTRY_VERIFY_WITH_TIMEOUT(pending.answer.has_value(), 5000);
        QCOMPARE(activeWhileShown, QStringList(3, holder.window()));
        QCOMPARE(activeWindow(), holder.window());
        QVERIFY(!QGuiApplication::focusWindow());
    }

    void escapeCancelsWhileAnotherAppHasTheFocus()
    {
        if (!inSession())
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
        FocusHolder holder;
        auto toast = makeToast();
        QElapsedTimer clock;
        clock.start();
        Pending pending;
        start(*toast, pending, clock);
        QVERIFY(toast->watchesEscape());
        QTest::qWait(500);
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTRY_VERIFY_WITH_TIMEOUT(pending.answer.has_value(), 1000);
        QCOMPARE(*pending.answer, false);
        QVERIFY(!toast->watchesEscape());
        QCOMPARE(activeWindow(), holder.window());
    }

    void escapeIsNotWatchedWithoutAToast()
    {
        if (!inSession())
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
        auto toast = makeToast();
        QVERIFY(!toast->watchesEscape());
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QElapsedTimer clock;
        clock.start();
        Pending pending;
        start(*toast, pending, clock, 1);
        QTRY_VERIFY_WITH_TIMEOUT(pending.answer.has_value(), 3000);
        QCOMPARE(*pending.answer, true);
    }

    void destroyingTheOwnerAnswersNo()
    {
        if (!inSession())
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
        auto toast = makeToast();
        QElapsedTimer clock;
        clock.start();
        Pending pending;
        start(*toast, pending, clock);
        QTest::qWait(300);
        toast.reset();
        QTRY_VERIFY_WITH_TIMEOUT(pending.answer.has_value(), 1000);
        QCOMPARE(*pending.answer, false);
        QTRY_COMPARE_WITH_TIMEOUT(visibleToasts(), 0, 2000);
    }
};

int main(int argc, char *argv[])
{
    // Outside the test session the rules above still run, on a display of their own.
    if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestClickConfirmToast test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_click_confirm_toast.moc"
