#pragma once

#include <QObject>
#include <QPoint>
#include <QPointF>

class QWindow;

namespace zapum {

// Tells a drag of the panel from a click, from the pointer alone: a left press that travels the
// platform's drag distance is the user moving the bee. The window's own move events are not
// consulted here: on X11 they arrive late, after the pointer has long moved on.
//
// It watches the window's mouse events without taking them, so the QML below still sees them; a
// click handler there checks `dragged` to ignore the release that ends a drag.
class PanelDragGesture : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool dragged READ dragged NOTIFY draggedChanged)
public:
    explicit PanelDragGesture(QWindow &window, QObject *parent = nullptr);

    // True from the moment the current (or last) press became a drag until the next press.
    bool dragged() const { return m_dragged; }

Q_SIGNALS:
    void draggedChanged();
    void dragStarted();
    // Where the panel's top-left corner should go: the press's offset into the panel is kept.
    void dragMoved(QPoint topLeft);
    void dragFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setDragged(bool dragged);

    QWindow &m_window;
    bool m_pressed = false;
    bool m_dragged = false;
    QPointF m_pressGlobal;
    QPointF m_grabOffset;  // the pointer's offset into the panel at the press, as the window system saw it
};

}  // namespace zapum
