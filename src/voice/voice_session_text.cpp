#include "voice/voice_session_text.h"

#include <QJsonArray>
#include <QStringList>
#include <QTextBoundaryFinder>

#include <cmath>

namespace zapum {

namespace {

const QString kSeparator = QStringLiteral(" \u00B7 ");
const QString kNone = QStringLiteral("(none)");

// Window sizes come from the window server and are always finite; a broken one still must not
// turn the whole description into nonsense.
QString sizeText(double value)
{
    return QString::number(wholeNumber(value).value_or(0));
}

}  // namespace

QString summarizeWindowList(const QList<DesktopWindowInfo> &windows)
{
    if (windows.isEmpty())
        return kNone;
    QStringList lines;
    for (const DesktopWindowInfo &window : windows.first(qMin(windows.size(), qsizetype(kSummaryWindowLimit)))) {
        const QString title = window.title.isEmpty() ? QStringLiteral("(no title)") : window.title;
        lines.append(QStringLiteral("- ") + window.ownerName + kSeparator + title + kSeparator
                     + sizeText(window.bounds.width()) + u'x' + sizeText(window.bounds.height()));
    }
    return lines.join(u'\n');
}

QString summarizeAppList(const QList<RunningAppSummary> &apps)
{
    if (apps.isEmpty())
        return kNone;
    QStringList lines;
    for (const RunningAppSummary &app : apps.first(qMin(apps.size(), qsizetype(kSummaryAppLimit))))
        lines.append(QStringLiteral("- ") + app.name + (app.isActive ? QStringLiteral(" (active)") : QString()));
    return lines.join(u'\n');
}

QString toolTextArgument(const QJsonObject &input, const QString &key)
{
    const QJsonValue value = input.value(key);
    return value.isString() ? value.toString() : QString();
}

std::optional<double> toolNumberArgument(const QJsonObject &input, const QString &key)
{
    const QJsonValue value = input.value(key);
    if (value.isDouble())
        return value.toDouble();
    if (value.isBool())
        return value.toBool() ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<qint64> wholeNumber(double value)
{
    // 2^63 itself is the first value a qint64 cannot hold; every double below it truncates safely.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= kLimit || value < -kLimit)
        return std::nullopt;
    return qint64(value);
}

std::optional<RunningAppSummary> findRunningApp(const QList<RunningAppSummary> &apps, const QString &requestedName)
{
    const QString wanted = requestedName.toLower();
    for (const RunningAppSummary &app : apps) {
        if (app.name.toLower() == wanted)
            return app;
    }
    if (wanted.isEmpty())
        return std::nullopt;
    for (const RunningAppSummary &app : apps) {
        if (app.name.toLower().contains(wanted))
            return app;
    }
    return std::nullopt;
}

QString leadingGraphemes(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int taken = 0;
    while (taken < count) {
        if (finder.toNextBoundary() < 0)
            return text;
        ++taken;
    }
    return text.left(finder.position());
}

std::optional<QJsonObject> assistantMessage(const AnthropicVoiceAgent::Turn &turn)
{
    QJsonArray content;
    if (!turn.text.isEmpty())
        content.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), turn.text}});
    for (const VoiceAgentToolCall &call : turn.toolCalls) {
        content.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("tool_use")},
                                   {QStringLiteral("id"), call.id},
                                   {QStringLiteral("name"), call.name},
                                   {QStringLiteral("input"), call.input}});
    }
    if (content.isEmpty())
        return std::nullopt;
    return QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")}, {QStringLiteral("content"), content}};
}

QJsonObject toolResultsMessage(const QList<VoiceAgentToolCall> &calls, const QStringList &results)
{
    QJsonArray content;
    for (qsizetype i = 0; i < calls.size() && i < results.size(); ++i) {
        content.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("tool_result")},
                                   {QStringLiteral("tool_use_id"), calls[i].id},
                                   {QStringLiteral("content"), results[i]}});
    }
    return QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), content}};
}

}  // namespace zapum
