#include "app/status_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

namespace zapum {

QIcon statusIcon(StatusDot dot)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);

        const QPointF centre(size / 2.0, size / 2.0);
        const qreal radius = size * 0.42;
        QPainterPath hexagon;
        for (int corner = 0; corner < 6; ++corner) {
            const qreal angle = qDegreesToRadians(60.0 * corner - 90.0);
            const QPointF point = centre + QPointF(radius * qCos(angle), radius * qSin(angle));
            corner == 0 ? hexagon.moveTo(point) : hexagon.lineTo(point);
        }
        hexagon.closeSubpath();
        painter.setPen(QPen(QColor(0x5a, 0x3a, 0x00), qMax(1.0, size / 16.0)));
        painter.setBrush(QColor(0xf5, 0xb3, 0x1b));
        painter.drawPath(hexagon);

        if (dot != StatusDot::None) {
            const qreal dotRadius = size * 0.16;
            painter.setPen(QPen(Qt::white, qMax(1.0, size / 24.0)));
            painter.setBrush(dot == StatusDot::Paused ? QColor(0xff, 0x95, 0x00) : QColor(0x34, 0xc7, 0x59));
            painter.drawEllipse(QPointF(size - dotRadius - 1, size - dotRadius - 1), dotRadius, dotRadius);
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace zapum
