#include "companion/panel_drag_gesture.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWindow>

namespace zapum {

PanelDragGesture::PanelDragGesture(QWindow &window, QObject *parent) : QObject(parent), m_window(window)
{
    m_window.installEventFilter(this);
}

void PanelDragGesture::setDragged(bool dragged)
{
    if (dragged == m_dragged)
        return;
    m_dragged = dragged;
    Q_EMIT draggedChanged();
}

bool PanelDragGesture::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &m_window)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        m_pressed = true;
        setDragged(false);
        m_pressGlobal = mouse->globalPosition();
        // The press's own position in the window, not the panel's last requested place: a strolling
        // panel's moves reach the window late on a busy machine, and an offset taken from the
        // request would make the grabbed bee jump by the distance it had yet to be drawn at.
        m_grabOffset = mouse->position();
        break;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (!m_pressed || !(mouse->buttons() & Qt::LeftButton))
            break;
        // Global positions, not window-local ones: the window moves under the pointer.
        const QPointF travelled = mouse->globalPosition() - m_pressGlobal;
        if (!m_dragged) {
            if (travelled.manhattanLength() < QGuiApplication::styleHints()->startDragDistance())
                break;
            setDragged(true);
            Q_EMIT dragStarted();
        }
        Q_EMIT dragMoved((mouse->globalPosition() - m_grabOffset).toPoint());
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !m_pressed)
            break;
        m_pressed = false;
        if (m_dragged)
            Q_EMIT dragFinished();
        break;
    }
    default: break;
    }
    return false;
}

}  // namespace zapum
