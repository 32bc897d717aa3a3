#include "guidance_document.h"

#include <QJsonArray>

namespace zapum::devserver {
namespace {

QString problem(const QString &where, const char *expected)
{
    return QStringLiteral("document.%1 must be %2.").arg(where, QLatin1String(expected));
}

// Empty when `key` holds a text, or (when optional) is absent or null.
QString textProblem(const QJsonObject &object, const QString &key, const QString &where, bool optional)
{
    const QJsonValue value = object.value(key);
    if (value.isString() || (optional && (value.isUndefined() || value.isNull())))
        return {};
    return problem(where + key, optional ? "a text or null" : "a text");
}

} // namespace

QString guidanceProblem(const QJsonValue &document)
{
    if (!document.isObject())
        return QStringLiteral("document must be a JSON object with title, subtitle and steps.");
    const QJsonObject object = document.toObject();
    for (const char *key : {"title", "subtitle"}) {
        if (QString p = textProblem(object, QLatin1String(key), {}, false); !p.isEmpty())
            return p;
    }
    const QJsonValue steps = object.value(QStringLiteral("steps"));
    if (!steps.isArray())
        return problem(QStringLiteral("steps"), "a list of steps");
    const QJsonArray list = steps.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString where = QStringLiteral("steps[%1]").arg(i);
        if (!list.at(i).isObject())
            return problem(where, "an object with id, title and isDone");
        const QJsonObject step = list.at(i).toObject();
        for (const auto &[key, optional] : {std::pair{"id", false}, {"title", false}, {"detail", true}}) {
            if (QString p = textProblem(step, QLatin1String(key), where + QLatin1Char('.'), optional); !p.isEmpty())
                return p;
        }
        if (!step.value(QStringLiteral("isDone")).isBool())
            return problem(where + QStringLiteral(".isDone"), "true or false");
    }
    for (const char *key : {"primaryActionLabel", "primaryActionURL"}) {
        if (QString p = textProblem(object, QLatin1String(key), {}, true); !p.isEmpty())
            return p;
    }
    return {};
}

QJsonObject defaultGuidance(const QString &email, const QString &webBase)
{
    const auto step = [](const char *id, const char *title, const QString &detail, bool done) {
        return QJsonObject{{QStringLiteral("id"), QString::fromLatin1(id)},
                           {QStringLiteral("title"), QString::fromLatin1(title)},
                           {QStringLiteral("detail"), detail},
                           {QStringLiteral("isDone"), done}};
    };
    return QJsonObject{
        {QStringLiteral("title"), QStringLiteral("ZaPum on your local server")},
        {QStringLiteral("subtitle"),
         QStringLiteral("Guidance for %1, served by zapum-devserver on this machine.").arg(email)},
        {QStringLiteral("steps"),
         QJsonArray{
             step("sign-in", "Sign in from the desktop",
                  QStringLiteral("Done \u2014 this checklist came from your local server."), true),
             step("ask", "Ask a typed question",
                  QStringLiteral("The local server answers by rule and quotes your question."), false),
             step("push", "Push guidance to this desktop",
                  QStringLiteral("Open %1/admin and push a document; it shows up at the next poll.").arg(webBase),
                  false)}},
        {QStringLiteral("primaryActionLabel"), QStringLiteral("Open the admin page")},
        {QStringLiteral("primaryActionURL"), QString(webBase + QStringLiteral("/admin"))},
    };
}

} // namespace zapum::devserver
