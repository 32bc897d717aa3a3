#include "ui/tinted_icon_provider.h"

#include "foundation/logging.h"

#include <QFile>
#include <QPainter>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace zapum {

TintedIconProvider::TintedIconProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

void TintedIconProvider::installOn(QQmlEngine &engine)
{
    if (!engine.imageProvider(QLatin1String(kName)))
        engine.addImageProvider(QLatin1String(kName), new TintedIconProvider);
}

QImage TintedIconProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    static const QRegularExpression form(QStringLiteral("^([a-z-]+)/([0-9a-fA-F]{6}|[0-9a-fA-F]{8})$"));
    const QSize pixels(requestedSize.width() > 0 ? requestedSize.width() : 24,
                       requestedSize.height() > 0 ? requestedSize.height() : 24);
    if (size)
        *size = pixels;
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    const auto match = form.match(id);
    QSvgRenderer svg(QStringLiteral(":/zapum/icons/%1.svg").arg(match.captured(1)));
    if (!match.hasMatch() || !svg.isValid()) {
        qCWarning(lcUi) << "no icon" << id;
        return image;
    }
    QPainter painter(&image);
    svg.render(&painter);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), QColor(QLatin1Char('#') + match.captured(2)));
    return image;
}

}  // namespace zapum
