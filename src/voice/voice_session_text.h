#pragma once

#include "desktop/desktop_records.h"
#include "voice/anthropic_voice_agent.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace zapum {

// How the desktop is described to the model: one "- " line per window (owner · title · size) or
// app, at most kSummaryWindowLimit / kSummaryAppLimit of them, "(none)" for an empty list.
inline constexpr int kSummaryWindowLimit = 20;
inline constexpr int kSummaryAppLimit = 30;
QString summarizeWindowList(const QList<DesktopWindowInfo> &windows);
QString summarizeAppList(const QList<RunningAppSummary> &apps);

// A tool argument as text: only a JSON string counts, anything else reads as empty.
QString toolTextArgument(const QJsonObject &input, const QString &key);
// A tool argument as a number: JSON numbers, and true/false as 1/0; anything else is missing.
std::optional<double> toolNumberArgument(const QJsonObject &input, const QString &key);
// The number with its fraction dropped; nothing when it is not finite or beyond a 64-bit integer.
std::optional<qint64> wholeNumber(double value);

// The app the model means by `requestedName`: a name equal to it ignoring case anywhere in the
// list wins, else the first whose name contains it ignoring case. A blank name matches nothing
// by containment.
std::optional<RunningAppSummary> findRunningApp(const QList<RunningAppSummary> &apps, const QString &requestedName);

// The first `count` user-perceived characters (grapheme clusters) of `text`.
QString leadingGraphemes(const QString &text, int count);

// The Messages API forms of one step: the assistant's reply (text block, then its tool calls;
// nothing when it has neither) and the user message answering its calls in order.
std::optional<QJsonObject> assistantMessage(const AnthropicVoiceAgent::Turn &turn);
QJsonObject toolResultsMessage(const QList<VoiceAgentToolCall> &calls, const QStringList &results);

}  // namespace zapum
