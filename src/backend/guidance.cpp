#include "backend/guidance.h"

#include "backend/environment_store.h"
#include "platform/platform_words.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace zapum {
namespace {

const QString kDomain = QStringLiteral("Guidance");

Failure unreadable(const QString &where, bool missing)
{
    return Failure{kDomain, 0,
                   QStringLiteral("The guidance could not be read: \u201C") + where
                       + (missing ? QStringLiteral("\u201D is missing.") : QStringLiteral("\u201D has the wrong type."))};
}

// Reads a required text member into `out`; on failure says which one.
std::optional<Failure> requireText(const QJsonObject &object, const QString &key, const QString &where, QString &out)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return unreadable(where + key, value.isUndefined());
    out = value.toString();
    return std::nullopt;
}

// Absent or null is absent; anything but text is an error.
std::optional<Failure> optionalText(const QJsonObject &object, const QString &key, const QString &where,
                                    std::optional<QString> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        return unreadable(where + key, false);
    out = value.toString();
    return std::nullopt;
}

Result<GuidanceStep> readStep(const QJsonValue &value, const QString &where)
{
    if (!value.isObject())
        return unreadable(where.chopped(1), false);
    const QJsonObject object = value.toObject();
    GuidanceStep step;
    if (auto f = requireText(object, QStringLiteral("id"), where, step.id))
        return *f;
    if (auto f = requireText(object, QStringLiteral("title"), where, step.title))
        return *f;
    if (auto f = optionalText(object, QStringLiteral("detail"), where, step.detail))
        return *f;
    const QJsonValue isDone = object.value(QStringLiteral("isDone"));
    if (!isDone.isBool())
        return unreadable(where + QStringLiteral("isDone"), isDone.isUndefined());
    step.isDone = isDone.toBool();
    return step;
}

// Kept as a document rather than built in code, so the path a server document takes is the same.
const char kBuiltInDocument[] = R"json({
  "title": "ZaPum assistant",
  "subtitle": "A local guide on your @COMPUTER@. Sign in to ZaPum when a SaaS product should drive the same help for your logged-in user.",
  "steps": [
    {"id": "connect", "title": "Connect your product", "detail": "Point ZaPum at the URL your customers actually use.", "isDone": false},
    {"id": "flows", "title": "Publish your first flow", "detail": "Turn brittle docs into step-by-step guidance with one source of truth.", "isDone": false},
    {"id": "measure", "title": "Watch where people stall", "detail": "See friction signals and tighten the path to value.", "isDone": false}
  ],
  "primaryActionLabel": "Open ZaPum dashboard",
  "primaryActionURL": "@DASHBOARD@"
})json";

}  // namespace

QVariantList GuidanceSession::stepList() const
{
    QVariantList list;
    for (const GuidanceStep &step : steps)
        list.append(QVariant::fromValue(step));
    return list;
}

QJsonObject GuidanceSession::toJson() const
{
    QJsonArray stepArray;
    for (const GuidanceStep &step : steps) {
        QJsonObject object{{QStringLiteral("id"), step.id}, {QStringLiteral("title"), step.title},
                           {QStringLiteral("isDone"), step.isDone}};
        if (step.detail)
            object.insert(QStringLiteral("detail"), *step.detail);
        stepArray.append(object);
    }
    QJsonObject object{{QStringLiteral("title"), title}, {QStringLiteral("subtitle"), subtitle},
                       {QStringLiteral("steps"), stepArray}};
    if (primaryActionLabel)
        object.insert(QStringLiteral("primaryActionLabel"), *primaryActionLabel);
    if (primaryActionURL)
        object.insert(QStringLiteral("primaryActionURL"), *primaryActionURL);
    return object;
}

Result<GuidanceSession> GuidanceSession::fromJson(const QJsonObject &object)
{
    GuidanceSession session;
    if (auto f = requireText(object, QStringLiteral("title"), QString(), session.title))
        return *f;
    if (auto f = requireText(object, QStringLiteral("subtitle"), QString(), session.subtitle))
        return *f;
    const QJsonValue steps = object.value(QStringLiteral("steps"));
    if (!steps.isArray())
        return unreadable(QStringLiteral("steps"), steps.isUndefined());
    const QJsonArray stepArray = steps.toArray();
    for (qsizetype i = 0; i < stepArray.size(); ++i) {
        Result<GuidanceStep> step = readStep(stepArray.at(i), QStringLiteral("steps[%1].").arg(i));
        if (!step)
            return step.failure();
        session.steps.append(std::move(step).value());
    }
    if (auto f = optionalText(object, QStringLiteral("primaryActionLabel"), QString(), session.primaryActionLabel))
        return *f;
    if (auto f = optionalText(object, QStringLiteral("primaryActionURL"), QString(), session.primaryActionURL))
        return *f;
    return session;
}

Result<GuidanceSession> GuidanceSession::fromJsonBytes(const QByteArray &data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return Failure{kDomain, 0, QStringLiteral("The guidance could not be read: it is not valid JSON.")};
    if (!document.isObject())
        return Failure{kDomain, 0, QStringLiteral("The guidance could not be read: it is not a JSON object.")};
    return fromJson(document.object());
}

const GuidanceSession &MockGuidance::session()
{
    static const GuidanceSession builtIn = [] {
        const QString dashboard = presetWebBaseUrl(ZaPumEnvironment::Production) + QStringLiteral("/admin");
        const QByteArray document = QByteArray(kBuiltInDocument)
                                        .replace("@DASHBOARD@", dashboard.toUtf8())
                                        .replace("@COMPUTER@", platformWords().computer.toUtf8());
        Result<GuidanceSession> decoded = GuidanceSession::fromJsonBytes(document);
        return decoded ? std::move(decoded).value() : fallbackSession();
    }();
    return builtIn;
}

GuidanceSession MockGuidance::fallbackSession()
{
    GuidanceSession session;
    session.title = QStringLiteral("ZaPum");
    session.subtitle = QStringLiteral("Could not load guidance.");
    return session;
}

}  // namespace zapum
