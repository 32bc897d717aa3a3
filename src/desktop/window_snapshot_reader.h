#pragma once

#include "desktop/desktop_records.h"
#include "platform/window_server.h"

#include <QList>
#include <QLocale>

#include <optional>

namespace zapum::WindowSnapshotReader {

// The on-screen windows, without this process's own when excludeZaPum is set, sorted by owner.
QList<DesktopWindowInfo> onScreenWindows(WindowServer &server, bool excludeZaPum);

// The rules behind onScreenWindows over plain entries: entries without a usable window number
// and desktop-level windows (negative layer) drop out, gaps get their fallbacks ("?" owner,
// empty title, pid 0, zero bounds), and a stable, case-insensitive, locale-aware sort by owner
// name keeps each app's windows in front-to-back order.
QList<DesktopWindowInfo> fromEntries(const QList<WindowServerEntry> &entries, std::optional<qint32> excludedPid,
                                     const QLocale &locale = QLocale());

QRectF parseBounds(const WindowServerEntry::Bounds &bounds);

}  // namespace zapum::WindowSnapshotReader
