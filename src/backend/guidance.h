#pragma once

#include "foundation/failure.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantList>

#include <optional>

namespace zapum {

struct GuidanceStep {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString detail READ detailText)
    Q_PROPERTY(bool isDone MEMBER isDone)

public:
    QString id;
    QString title;
    std::optional<QString> detail;
    bool isDone = false;

    QString detailText() const { return detail.value_or(QString()); }
    bool operator==(const GuidanceStep &) const = default;
};

// The checklist the guidance popover shows.
struct GuidanceSession {
    Q_GADGET
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString subtitle MEMBER subtitle)
    Q_PROPERTY(QVariantList steps READ stepList)
    Q_PROPERTY(QString primaryActionLabel READ primaryActionLabelText)
    Q_PROPERTY(QString primaryActionURL READ primaryActionURLText)

public:
    QString title;
    QString subtitle;
    QList<GuidanceStep> steps;
    std::optional<QString> primaryActionLabel;
    std::optional<QString> primaryActionURL;  // kept as sent; views decide whether it opens

    QVariantList stepList() const;
    QString primaryActionLabelText() const { return primaryActionLabel.value_or(QString()); }
    QString primaryActionURLText() const { return primaryActionURL.value_or(QString()); }
    bool operator==(const GuidanceSession &) const = default;

    QJsonObject toJson() const;
    // Every required member present with the right type; unknown members are ignored. The failure
    // says which member was wrong, for the settings window.
    static Result<GuidanceSession> fromJson(const QJsonObject &object);
    static Result<GuidanceSession> fromJsonBytes(const QByteArray &data);
};

// The document the app shows when signed out, offline, or after a failed fetch.
namespace MockGuidance {
const GuidanceSession &session();
// Only for tests: the document the app would show if the built-in one ever failed to read.
GuidanceSession fallbackSession();
}  // namespace MockGuidance

}  // namespace zapum

Q_DECLARE_METATYPE(zapum::GuidanceStep)
Q_DECLARE_METATYPE(zapum::GuidanceSession)
