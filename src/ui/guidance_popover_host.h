#pragma once

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QTimer>

#include <functional>
#include <memory>

class QQmlEngine;
class QQuickItem;
class QQuickView;

namespace zapum {

class BeeViewModel;
class GuidancePopoverModel;

// Where the popover goes: centred over the bee with its bottom edge just above it, or just below
// the bee when there is no room above; always inside the visible frame.
QRectF popoverFrame(QSizeF size, const QRectF &bee, const QRectF &visibleFrame);
inline constexpr double kPopoverGap = 6.0;

// Shows the guidance popover in a window of its own next to the bee while the bee view says it is
// open. Unlike the bee's panel it takes the keyboard (the question field needs it) and closes like
// a popover: on Escape, its close button, another click on the bee, or when the user turns to
// another window.
class GuidancePopoverHost : public QObject {
    Q_OBJECT
public:
    // `beeFrame` answers where the bee is on screen right now.
    GuidancePopoverHost(BeeViewModel &bee, GuidancePopoverModel &model, QQmlEngine &engine,
                        std::function<QRectF()> beeFrame, QObject *parent = nullptr);
    ~GuidancePopoverHost() override;

    QQuickView *window() const { return m_window.get(); }

private:
    void reportShownGuidance();
    void open();
    void close();
    void place();

    BeeViewModel &m_bee;
    GuidancePopoverModel &m_model;
    QQmlEngine &m_engine;
    std::function<QRectF()> m_beeFrame;
    std::unique_ptr<QQuickView> m_window;
    QPointer<QQuickItem> m_guidanceTitle;
    QString m_reportedTitle;
    bool m_wasActive = false;
    // X11 takes the focus away for a moment while the window manager handles a click (its grab),
    // and on a busy machine the focus comes back after Qt has already called the window inactive;
    // the popover closes only if it is still inactive when this runs out.
    QTimer m_leaveGrace;
};

}  // namespace zapum
