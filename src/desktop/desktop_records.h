#pragma once

#include <QHashFunctions>
#include <QMetaType>
#include <QRectF>
#include <QString>

#include <optional>

namespace zapum {

// One on-screen window, as the assistant and the settings window see it. Bounds are in the
// window server's global space (top-left origin, y downwards), the same space clicks are posted in.
struct DesktopWindowInfo {
    Q_GADGET
    Q_PROPERTY(quint32 windowId MEMBER windowId CONSTANT)
    Q_PROPERTY(qint32 ownerPID MEMBER ownerPID CONSTANT)
    Q_PROPERTY(QString ownerName MEMBER ownerName CONSTANT)
    Q_PROPERTY(QString title MEMBER title CONSTANT)
    Q_PROPERTY(QRectF bounds MEMBER bounds CONSTANT)
    Q_PROPERTY(qint64 layer MEMBER layer CONSTANT)
public:
    quint32 windowId = 0;
    qint32 ownerPID = 0;
    QString ownerName;
    QString title;
    QRectF bounds;
    qint64 layer = 0;

    quint32 id() const { return windowId; }
    // QRectF's own operator== is fuzzy, which would break the hash contract.
    friend bool operator==(const DesktopWindowInfo &a, const DesktopWindowInfo &b)
    {
        return a.windowId == b.windowId && a.ownerPID == b.ownerPID && a.ownerName == b.ownerName
               && a.title == b.title && a.bounds.x() == b.bounds.x() && a.bounds.y() == b.bounds.y()
               && a.bounds.width() == b.bounds.width() && a.bounds.height() == b.bounds.height()
               && a.layer == b.layer;
    }
    friend size_t qHash(const DesktopWindowInfo &w, size_t seed = 0)
    {
        return qHashMulti(seed, w.windowId, w.ownerPID, w.ownerName, w.title, w.bounds.x(), w.bounds.y(),
                          w.bounds.width(), w.bounds.height(), w.layer);
    }
};

// One running application that the user would call an app (it has ordinary windows).
struct RunningAppSummary {
    Q_GADGET
    Q_PROPERTY(qint32 pid MEMBER pid CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(QString bundleId READ bundleIdText CONSTANT)
    Q_PROPERTY(bool isActive MEMBER isActive CONSTANT)
public:
    qint32 pid = 0;
    QString name;
    std::optional<QString> bundleId;
    bool isActive = false;

    qint32 id() const { return pid; }
    QString bundleIdText() const { return bundleId.value_or(QString()); }
    friend bool operator==(const RunningAppSummary &, const RunningAppSummary &) = default;
    friend size_t qHash(const RunningAppSummary &a, size_t seed = 0)
    {
        return qHashMulti(seed, a.pid, a.name, a.bundleId.has_value(), a.bundleIdText(), a.isActive);
    }
};

}  // namespace zapum
