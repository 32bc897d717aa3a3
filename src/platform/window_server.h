#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace zapum {

// One window as the window server describes it. Any field may be missing: some clients never say
// who owns them or what they are called, and the rules for filling the gaps belong to the
// platform-neutral reader, not to each back-end.
struct WindowServerEntry {
    struct Bounds {
        std::optional<double> x, y, width, height;
    };

    std::optional<qint64> number;
    std::optional<qint64> layer;  // 0 ordinary, positive above (docks, panels), negative desktop
    std::optional<qint32> ownerPid;
    std::optional<QString> ownerName;
    std::optional<QString> title;
    Bounds bounds;
};

class WindowServer {
public:
    virtual ~WindowServer() = default;

    // The windows on screen now, front-most first. Empty when the server has nothing to report.
    virtual QList<WindowServerEntry> onScreenWindows() = 0;
};

}  // namespace zapum
