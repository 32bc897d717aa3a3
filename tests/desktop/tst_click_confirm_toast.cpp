#include "desktop/click_confirm_toast.h"

#include "platform/escape_key_watcher.h"
#include "support/desktop_driver.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <deque>
#include <optional>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace zapum;
using test::xdotool;

namespace {

const QString kAction = u"ZaPum will click at (100, 200)"_s;

QString activeWindow()
{
    return xdotool({u"getactivewindow"_s});
}

// Toast windows of ours that the X server shows right now.
int visibleToasts()
{
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString found = xdotool({u"search"_s, u"--onlyvisible"_s, u"--pid"_s, pid, u"--name"_s, u"^ZaPum$"_s});
    return found.isEmpty() ? 0 : int(found.split(u'\n').size());
}

QQuickItem *toastItem(const ClickConfirmToast &toast, const char *objectName)
{
    auto *view = qobject_cast<QQuickView *>(toast.panel());
    return view ? test::findItem(view->rootObject(), QLatin1String(objectName)) : nullptr;
}

QVariant toastProperty(const ClickConfirmToast &toast, const char *objectName, const char *property = "text")
{
    QQuickItem *item = toastItem(toast, objectName);
    return item ? item->property(property) : QVariant();
}

// One confirm() running on the event loop: its answer and when it came.
struct Pending {
    qint64 askedAtMs = -1;
    std::optional<bool> answer;
    qint64 answeredAtMs = -1;
};

// A toast, a clock started with it, and the questions put to it.
struct Rig {
    std::unique_ptr<ClickConfirmToast> toast = std::make_unique<ClickConfirmToast>(createEscapeKeyWatcher());
    QElapsedTimer clock;
    std::deque<Pending> asked;  // a deque keeps each answer where its callback writes it

    Rig() { clock.start(); }

    Pending &ask(int seconds = 2)
    {
        Pending &pending = asked.emplace_back();
        pending.askedAtMs = clock.elapsed();
        // Not the toast as context: the answer must arrive even when the toast is destroyed.
        QCoro::connect(toast->confirm(kAction, seconds), QCoreApplication::instance(), [this, &pending](bool answer) {
            pending.answer = answer;
            pending.answeredAtMs = clock.elapsed();
        });
        return pending;
    }
};

bool waitUntilShown(const ClickConfirmToast &toast)
{
    return QTest::qWaitFor([&] { return toast.panel() && toast.panel()->isExposed(); }, 3000);
}

}  // namespace

class TestClickConfirmToast : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        static const QSet<QByteArray> withoutDisplay{"placement", "countdownEndsOnItsLastTick",
                                                      "nonPositiveSecondsAnswersYesAtOnce"};
        if (qEnvironmentVariableIsEmpty("ZAPUM_TEST_SESSION") && !withoutDisplay.contains(QTest::currentTestFunction()))
            QSKIP("needs the test session's X server (scripts/test-session.sh)");
    }

    void placement()
    {
        QCOMPARE(toastGeometry(QRect(0, 28, 1920, 1052)), QRect(800, 72, 320, 96));    // under a top panel
        QCOMPARE(toastGeometry(QRect(1280, 0, 1024, 768)), QRect(1632, 44, 320, 96));  // a second screen
    }

    void countdownEndsOnItsLastTick()
    {
        // 30 ms ticks do not divide a second: the 34th tick ends it, and none follow.
        ToastCountdown countdown(kAction, 1, 30ms);
        QSignalSpy ticks(&countdown, &ToastCountdown::remainingChanged);
        QSignalSpy finished(&countdown, &ToastCountdown::finished);
        countdown.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 3000);
        QCOMPARE(ticks.count(), 34);
        QVERIFY(!countdown.isRunning());
    }

    void nonPositiveSecondsAnswersYesAtOnce()
    {
        Rig rig;
        for (int seconds : {0, -3}) {
            const Pending &pending = rig.ask(seconds);
            QCOMPARE(rig.toast->panel(), nullptr);
            QTRY_COMPARE_WITH_TIMEOUT(pending.answer, std::optional(true), 1000);
        }
    }

    void noInputConfirmsWhenTheCountdownEnds()
    {
        Rig rig;
        const Pending &pending = rig.ask();
        ClickConfirmToast &toast = *rig.toast;
        // The countdown starts once the toast is on screen; the first one takes a moment to build.
        QVERIFY(waitUntilShown(toast));
        const qint64 shownAt = rig.clock.elapsed();
        const QString actionText = toastProperty(toast, "actionText").toString();
        const QString labelEarly = toastProperty(toast, "secondsLabel").toString();
        const QRect frame = toast.panel()->geometry();
        QProcess xprop;
        xprop.start(u"xprop"_s, {u"-id"_s, QString::number(toast.panel()->winId()), u"_NET_WM_STATE"_s, u"_NET_WM_DESKTOP"_s});
        xprop.waitForFinished(5000);
        const QString windowManagerState = QString::fromUtf8(xprop.readAllStandardOutput());
        const int toastsShown = visibleToasts();
        QTRY_COMPARE_WITH_TIMEOUT(toastProperty(toast, "secondsLabel").toString(), u"1s"_s, 3000);
        const qint64 oneLeftAt = rig.clock.elapsed() - shownAt;
        const double progressLate = toastProperty(toast, "progressBar", "value").toDouble();

        QTRY_COMPARE_WITH_TIMEOUT(pending.answer, std::optional(true), 5000);
        QVERIFY2(pending.answeredAtMs - shownAt >= 1900 && pending.answeredAtMs - shownAt < 2500,
                 qPrintable(QString::number(pending.answeredAtMs - shownAt)));
        QCOMPARE(toast.panel(), nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(visibleToasts(), 0, 2000);

        QCOMPARE(actionText, kAction);
        QCOMPARE(labelEarly, u"2s"_s);
        QVERIFY2(oneLeftAt >= 950, qPrintable(QString::number(oneLeftAt)));
        QVERIFY2(progressLate >= 0.45 && progressLate < 0.9, qPrintable(QString::number(progressLate)));
        QCOMPARE(toastsShown, 1);
        QCOMPARE(frame, toastGeometry(QGuiApplication::primaryScreen()->availableGeometry()));
        // Above other windows, out of the task list, on every desktop (openbox has no sticky state
        // and answers with the all-desktops number instead).
        for (const char *expected :
             {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_DESKTOP(CARDINAL) = 4294967295"})
            QVERIFY2(windowManagerState.contains(QLatin1String(expected)), qPrintable(windowManagerState));
    }

    void cancelOrANewRequestAnswersNoAtOnceAndLeavesNoCountdownBehind()
    {
        Rig rig;
        const Pending &cancelled = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        QQuickItem *cancel = toastItem(*rig.toast, "cancelButton");
        QVERIFY(cancel);
        QTRY_VERIFY(cancel->isVisible() && cancel->width() > 0);
        const qint64 clickedAt = rig.clock.elapsed();
        test::clickAt(cancel->mapToGlobal(QPointF(cancel->width() / 2, cancel->height() / 2)).toPoint());
        QTRY_COMPARE_WITH_TIMEOUT(cancelled.answer, std::optional(false), 2000);
        QVERIFY2(cancelled.answeredAtMs - clickedAt < 400, qPrintable(QString::number(cancelled.answeredAtMs - clickedAt)));
        QCOMPARE(rig.toast->panel(), nullptr);

        // A request while one is shown answers the shown one no and starts over in the same toast.
        const Pending &superseded = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        QTRY_VERIFY(toastProperty(*rig.toast, "progressBar", "value").toDouble() >= 0.25);  // half a second run
        const Pending &last = rig.ask();
        QTRY_COMPARE_WITH_TIMEOUT(superseded.answer, std::optional(false), 1000);
        QVERIFY2(superseded.answeredAtMs - last.askedAtMs < 200,
                 qPrintable(QString::number(superseded.answeredAtMs - last.askedAtMs)));
        QVERIFY(waitUntilShown(*rig.toast));
        const qint64 shownAgainAt = rig.clock.elapsed();
        QCOMPARE(toastProperty(*rig.toast, "secondsLabel").toString(), u"2s"_s);
        QTRY_COMPARE(visibleToasts(), 1);  // the superseded one is gone

        // The superseded countdown had 1.5 s left; had it kept running it would end this one early.
        QTRY_COMPARE_WITH_TIMEOUT(last.answer, std::optional(true), 5000);
        // Counted from the request (no early end) and from the new toast on screen (no late end).
        QVERIFY2(last.answeredAtMs - last.askedAtMs >= 1950, qPrintable(QString::number(last.answeredAtMs - last.askedAtMs)));
        QVERIFY2(last.answeredAtMs - shownAgainAt < 2600, qPrintable(QString::number(last.answeredAtMs - shownAgainAt)));
    }

    void theActiveAppKeepsTheFocusAndEscapeCancels()
    {
        // A plain X client under the window manager that holds the keyboard focus.
        QProcess holder;
        holder.start(u"xmessage"_s, {u"-name"_s, u"zapumfocusholder"_s, u"I have the focus"_s});
        const QString focused =
            xdotool({u"search"_s, u"--sync"_s, u"--onlyvisible"_s, u"--classname"_s, u"zapumfocusholder"_s}).section(u'\n', 0, 0);
        QVERIFY(!focused.isEmpty());
        xdotool({u"windowactivate"_s, u"--sync"_s, focused});
        QCOMPARE(activeWindow(), focused);

        Rig rig;
        const Pending &pending = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        QVERIFY(rig.toast->watchesEscape());
        QStringList activeWhileShown;
        for (int at : {100, 500, 900})
            QTimer::singleShot(at, rig.toast.get(), [&] { activeWhileShown.append(activeWindow()); });
        // Escape with a modifier is some other shortcut, not a cancel.
        xdotool({u"key"_s, u"shift+Escape"_s, u"ctrl+Escape"_s});
        QTRY_COMPARE_WITH_TIMEOUT(activeWhileShown.size(), 3, 3000);
        QVERIFY(!pending.answer.has_value());
        QCOMPARE(activeWhileShown, QStringList(3, focused));

        xdotool({u"key"_s, u"Escape"_s});
        QTRY_COMPARE_WITH_TIMEOUT(pending.answer, std::optional(false), 1000);
        QVERIFY(!rig.toast->watchesEscape());
        QCOMPARE(activeWindow(), focused);
        QVERIFY(!QGuiApplication::focusWindow());
        holder.kill();
        holder.waitForFinished(5000);
    }

    void destroyingTheOwnerAnswersNo()
    {
        Rig rig;
        const Pending &pending = rig.ask();
        QVERIFY(waitUntilShown(*rig.toast));
        rig.toast.reset();
        QTRY_COMPARE_WITH_TIMEOUT(pending.answer, std::optional(false), 1000);
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
