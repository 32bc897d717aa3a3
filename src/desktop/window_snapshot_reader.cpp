#include "desktop/window_snapshot_reader.h"

#include <QCollator>
#include <QCoreApplication>

#include <algorithm>
#include <limits>

namespace zapum::WindowSnapshotReader {

QList<DesktopWindowInfo> onScreenWindows(WindowServer &server, bool excludeZaPum)
{
    const std::optional<qint32> ownPid =
        excludeZaPum ? std::optional<qint32>(qint32(QCoreApplication::applicationPid())) : std::nullopt;
    return fromEntries(server.onScreenWindows(), ownPid);
}

QRectF parseBounds(const WindowServerEntry::Bounds &bounds)
{
    return QRectF(bounds.x.value_or(0.0), bounds.y.value_or(0.0), bounds.width.value_or(0.0),
                  bounds.height.value_or(0.0));
}

QList<DesktopWindowInfo> fromEntries(const QList<WindowServerEntry> &entries, std::optional<qint32> excludedPid,
                                     const QLocale &locale)
{
    QList<DesktopWindowInfo> windows;
    windows.reserve(entries.size());
    for (const WindowServerEntry &entry : entries) {
        // A number that does not fit the record's type names no real window.
        if (!entry.number || *entry.number < 0 || *entry.number > std::numeric_limits<quint32>::max())
            continue;
        const qint64 layer = entry.layer.value_or(0);
        const qint32 ownerPid = entry.ownerPid.value_or(0);
        if (excludedPid && ownerPid == *excludedPid)
            continue;
        if (layer < 0)
            continue;
        DesktopWindowInfo window;
        window.windowId = quint32(*entry.number);
        window.ownerPID = ownerPid;
        window.ownerName = entry.ownerName.value_or(QStringLiteral("?"));
        window.title = entry.title.value_or(QString());
        window.bounds = parseBounds(entry.bounds);
        window.layer = layer;
        windows.append(std::move(window));
    }

    // The C locale would compare code points, sorting accented names after "z"; English
    // collation is the neutral choice there.
    QCollator collator(locale.language() == QLocale::C ? QLocale(QLocale::English) : locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(windows.begin(), windows.end(), [&](const DesktopWindowInfo &a, const DesktopWindowInfo &b) {
        return collator.compare(a.ownerName, b.ownerName) < 0;
    });
    return windows;
}

}  // namespace zapum::WindowSnapshotReader
