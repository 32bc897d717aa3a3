#pragma once

#include <QList>
#include <QString>

#include <chrono>

namespace zapum {

// The modifier keys a user may hold to talk (modifier_keys codes), in the order the Voice tab
// lists them; the first is the default.
const QList<quint16> &talkKeyChoices();

// Stored as a word, so that the settings file reads on its own; anything unknown is the default.
QString talkKeyRawValue(quint16 keyCode);
quint16 talkKeyFromRawValue(const QString &text);

// The sentences that tell the user how to talk, for the chosen key and hold threshold, with the
// key named as this desktop names it:
// "Hold Right Ctrl for 0.4 s".
QString holdToTalkLine(quint16 keyCode, std::chrono::milliseconds threshold);
// The Talk item's hover help in the status menu.
QString talkMenuHint(quint16 keyCode, std::chrono::milliseconds threshold);
// The Voice tab's caption under the key choice.
QString talkHelpLine(quint16 keyCode);
// The bee's chip while idle: "HOLD RIGHT CTRL TO TALK".
QString idleTalkLabel(quint16 keyCode);
// The Voice tab's warning when the layout makes the chosen key type characters (AltGr); empty
// when it does not.
QString talkKeyNote(quint16 keyCode, bool typesCharacters);

}  // namespace zapum
