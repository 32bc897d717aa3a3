#include "desktop/click_confirm_toast.h"

#include "foundation/logging.h"
#include "platform/escape_key_watcher.h"
#include "platform/floating_window.h"

#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickView>
#include <QScreen>
#include <QSurfaceFormat>


#include <algorithm>
#include <cmath>
#include <coroutine>
#include <optional>
#include <utility>

namespace zapum {

namespace {

const QUrl kToastViewUrl(QStringLiteral("qrc:/zapum/desktop/ToastView.qml"));

}  // namespace

// The one-shot answer a caller waits for, awaitable on its own. It has no parent: it must outlive
// the toast's owner until the answer has reached the caller, who then deletes it. (Awaiting a
// signal through QCoro's templates instead trips clang 14's coverage instrumentation.)
class ClickConfirmToast::Answer : public QObject {
public:
    // What the caller co_awaits; a plain value, as awaitables are passed around by copy.
    struct Awaiter {
        Answer *answer;
        bool await_ready() const noexcept { return answer->m_result.has_value(); }
        void await_suspend(std::coroutine_handle<> waiter) const noexcept { answer->m_waiter = waiter; }
        bool await_resume() const noexcept { return answer->m_result.value_or(false); }
    };

    // Reaches the caller on the next pass of the event loop, so that a caller who asks again at
    // once does not re-enter the request that is answering it.
    void answer(bool result)
    {
        if (m_result)
            return;
        m_result = result;
        if (m_waiter)
            QMetaObject::invokeMethod(this, [this] { std::exchange(m_waiter, {}).resume(); }, Qt::QueuedConnection);
    }

private:
    std::optional<bool> m_result;
    std::coroutine_handle<> m_waiter;
};

double toastProgress(double remaining, int seconds)
{
    if (seconds <= 0)
        return 1.0;
    return std::clamp(1.0 - remaining / double(seconds), 0.0, 1.0);
}

QString toastSecondsLabel(double remaining)
{
    return QString::number(qint64(std::ceil(remaining))) + QLatin1Char('s');
}

QRect toastGeometry(const QRect &availableGeometry)
{
    const int centreX = availableGeometry.x() + availableGeometry.width() / 2;
    return QRect(QPoint(centreX - kToastSize.width() / 2, availableGeometry.top() + kToastTopMargin), kToastSize);
}

ToastCountdown::ToastCountdown(QString action, int seconds, std::chrono::milliseconds tick, QObject *parent)
    : QObject(parent), m_action(std::move(action)), m_seconds(seconds), m_remainingMs(qint64(seconds) * 1000),
      m_tickMs(std::max<qint64>(1, tick.count()))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(tick);
    connect(&m_timer, &QTimer::timeout, this, &ToastCountdown::tick);
}

double ToastCountdown::progress() const
{
    return toastProgress(remaining(), m_seconds);
}

QString ToastCountdown::secondsLabel() const
{
    return toastSecondsLabel(remaining());
}

void ToastCountdown::cancel()
{
    m_timer.stop();
    Q_EMIT cancelled();
}

void ToastCountdown::tick()
{
    m_remainingMs -= m_tickMs;
    Q_EMIT remainingChanged();
    if (m_remainingMs <= 0) {
        m_timer.stop();
        Q_EMIT finished();
    }
}

ClickConfirmToast::ClickConfirmToast(std::unique_ptr<EscapeKeyWatcher> escape, QQmlEngine *engine,
                                     ClickConfirmTiming timing, QObject *parent)
    : QObject(parent), m_escape(std::move(escape)), m_engine(engine), m_timing(timing)
{
    if (m_escape)
        connect(m_escape.get(), &EscapeKeyWatcher::escapePressed, this, [this] {
            if (m_countdown)
                m_countdown->cancel();
        });
}

ClickConfirmToast::~ClickConfirmToast()
{
    dismiss(false);
    // dismiss() leaves the window to the event loop because it may be called from the window's
    // own button; here it must go now, before the engine it was built with.
    const auto windows = findChildren<QQuickView *>(Qt::FindDirectChildrenOnly);
    qDeleteAll(windows);
}

QQuickWindow *ClickConfirmToast::panel() const
{
    return m_panel;
}

QQmlEngine *ClickConfirmToast::engine()
{
    if (!m_engine)
        m_engine = new QQmlEngine(this);
    return m_engine;
}

QCoro::Task<bool> ClickConfirmToast::confirm(QString action, int seconds)
{
    dismiss(false);
    if (seconds <= 0)
        co_return true;

    auto *answer = new Answer;
    m_answer = answer;
    // Without a visible toast the user could not stop the click, so it does not happen.
    if (!present(action, seconds))
        dismiss(false);
    const bool result = co_await Answer::Awaiter{answer};
    answer->deleteLater();
    co_return result;
}

void ClickConfirmToast::dismiss(bool result)
{
    if (m_countdown) {
        m_countdown->stop();
        m_countdown->disconnect(this);
        m_countdown->deleteLater();
        m_countdown = nullptr;
    }
    if (m_panel) {
        m_panel->hide();
        m_panel->deleteLater();
        m_panel = nullptr;
    }
    if (m_watchingEscape) {
        m_escape->stop();
        m_watchingEscape = false;
    }
    if (Answer *answer = std::exchange(m_answer, nullptr))
        answer->answer(result);
}

bool ClickConfirmToast::present(const QString &action, int seconds)
{
    auto *countdown = new ToastCountdown(action, seconds, m_timing.tick, this);
    // Each toast answers only for itself, even if its signal were still queued when a newer
    // toast has taken its place.
    connect(countdown, &ToastCountdown::finished, this, [this, countdown] {
        if (m_countdown == countdown)
            dismiss(true);
    });
    connect(countdown, &ToastCountdown::cancelled, this, [this, countdown] {
        if (m_countdown == countdown)
            dismiss(false);
    });
    m_countdown = countdown;

    auto *view = new QQuickView(engine(), nullptr);
    static_cast<QObject *>(view)->setParent(this);  // a window parent would make it a child window
    m_panel = view;
    QSurfaceFormat format = view->format();
    format.setAlphaBufferSize(8);
    view->setFormat(format);
    view->setColor(Qt::transparent);
    view->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    view->setTitle(QStringLiteral("ZaPum"));
    view->setInitialProperties({{QStringLiteral("countdown"), QVariant::fromValue<QObject *>(countdown)}});
    view->setSource(kToastViewUrl);
    if (view->status() != QQuickView::Ready) {
        qCWarning(lcDesktop) << "the confirmation toast could not be built:" << view->errors();
        return false;
    }

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        view->setGeometry(toastGeometry(screen->availableGeometry()));
    else
        view->setGeometry(QRect(QPoint(0, 0), kToastSize));
    view->create();
    keepOnEveryDesktop(*view);
    view->show();

    countdown->start();
    m_watchingEscape = m_escape && m_escape->start();
    return true;
}

}  // namespace zapum

