#pragma once

#include <QQuickImageProvider>

namespace zapum {

// Our SVG icons in any colour: "image://zapumicon/NAME/RRGGBB" or ".../AARRGGBB" (no '#', which
// would end the URL). One drawing per role, tinted where it is shown, instead of a file per colour.
class TintedIconProvider : public QQuickImageProvider {
public:
    TintedIconProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    static constexpr const char *kName = "zapumicon";
    static void installOn(QQmlEngine &engine);
};

}  // namespace zapum
