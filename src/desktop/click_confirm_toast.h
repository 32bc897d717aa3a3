#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <memory>

class QQmlEngine;
class QQuickView;
class QQuickWindow;

namespace zapum {

class EscapeKeyWatcher;

// What the toast shows while it counts down; the QML view binds to it. One per toast, so a
// countdown that has been stopped can never act on a later toast.
class ToastCountdown : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString action READ action CONSTANT)
    Q_PROPERTY(int seconds READ seconds CONSTANT)
    Q_PROPERTY(double remaining READ remaining NOTIFY remainingChanged)
    Q_PROPERTY(double progress READ progress NOTIFY remainingChanged)
    Q_PROPERTY(QString secondsLabel READ secondsLabel NOTIFY remainingChanged)
public:
    ToastCountdown(QString action, int seconds, std::chrono::milliseconds tick, QObject *parent = nullptr);

    QString action() const { return m_action; }
    int seconds() const { return m_seconds; }
    double remaining() const { return double(m_remainingMs) / 1000.0; }
    double progress() const;
    QString secondsLabel() const;

    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }
    bool isRunning() const { return m_timer.isActive(); }

    Q_INVOKABLE void cancel();

Q_SIGNALS:
    void remainingChanged();
    void finished();
    void cancelled();

private:
    void tick();

    QString m_action;
    int m_seconds;
    // Kept in whole milliseconds so that the countdown ends on exactly the tick it should, not
    // one later because of accumulated rounding.
    qint64 m_remainingMs;
    qint64 m_tickMs;
    QTimer m_timer;
};

// The bar fills from empty to full as the countdown runs.
double toastProgress(double remaining, int seconds);
// Whole seconds left, rounded up: "2s", then "1s".
QString toastSecondsLabel(double remaining);
// Centred on the available area, its top edge kToastTopMargin below the area's top.
QRect toastGeometry(const QRect &availableGeometry);

inline constexpr QSize kToastSize{320, 96};
inline constexpr int kToastTopMargin = 44;

struct ClickConfirmTiming {
    std::chrono::milliseconds tick{50};
};

// A yes/no question before a synthesized click: a toast announces the click and counts down;
// the click may go ahead when the countdown ends, and Cancel (or Escape) stops it. One question
// at a time: a new one answers the previous one "no".
class ClickConfirmToast : public QObject {
    Q_OBJECT
public:
    // `engine` may be shared with the rest of the app's QML; without one the toast makes its own.
    explicit ClickConfirmToast(std::unique_ptr<EscapeKeyWatcher> escape, QQmlEngine *engine = nullptr,
                               ClickConfirmTiming timing = {}, QObject *parent = nullptr);
    ~ClickConfirmToast() override;

    // True when the countdown ran out, false when cancelled or superseded; true at once for a
    // countdown of zero seconds or less.
    QCoro::Task<bool> confirm(QString action, int seconds);
    // Closes the toast, if any, and answers the waiting caller, if any.
    void dismiss(bool result);

    QQuickWindow *panel() const;
    ToastCountdown *countdown() const { return m_countdown; }
    // Whether Escape is being watched while the toast shows.
    bool watchesEscape() const { return m_watchingEscape; }

private:
    class Answer;

    bool present(const QString &action, int seconds);
    QQmlEngine *engine();

    std::unique_ptr<EscapeKeyWatcher> m_escape;
    QPointer<QQmlEngine> m_engine;
    ClickConfirmTiming m_timing;
    QQuickView *m_panel = nullptr;
    ToastCountdown *m_countdown = nullptr;
    Answer *m_answer = nullptr;
    bool m_watchingEscape = false;
};

}  // namespace zapum
