#include "voice/talk_key.h"

#include "platform/modifier_key_source.h"
#include "platform/platform_words.h"

namespace zapum {

namespace {

struct RawName {
    quint16 keyCode;
    const char *raw;
};

constexpr RawName kRawNames[] = {
    {modifier_keys::kRightOption, "RightOption"},
    {modifier_keys::kRightControl, "RightControl"},
    {modifier_keys::kRightCommand, "RightCommand"},
    {modifier_keys::kRightShift, "RightShift"},
};

QString seconds(std::chrono::milliseconds threshold)
{
    return QString::number(double(threshold.count()) / 1000.0, 'g', 3) + QStringLiteral(" s");
}

}  // namespace

const QList<quint16> &talkKeyChoices()
{
    static const QList<quint16> keys = [] {
        QList<quint16> list;
        for (const RawName &name : kRawNames)
            list.append(name.keyCode);
        return list;
    }();
    return keys;
}

QString talkKeyRawValue(quint16 keyCode)
{
    for (const RawName &name : kRawNames)
        if (name.keyCode == keyCode)
            return QLatin1String(name.raw);
    return QLatin1String(kRawNames[0].raw);
}

quint16 talkKeyFromRawValue(const QString &text)
{
    for (const RawName &name : kRawNames)
        if (text == QLatin1String(name.raw))
            return name.keyCode;
    return kRawNames[0].keyCode;
}

QString holdToTalkLine(quint16 keyCode, std::chrono::milliseconds threshold)
{
    return QStringLiteral("Hold %1 for %2").arg(platformWords().keyName(keyCode), seconds(threshold));
}

QString talkMenuHint(quint16 keyCode, std::chrono::milliseconds threshold)
{
    return holdToTalkLine(keyCode, threshold)
           + QStringLiteral(" to start listening, release to send. Or click here to toggle.");
}

QString talkHelpLine(quint16 keyCode)
{
    return QStringLiteral("Hold %1 to start listening (the ring around the bee turns red). Release to send to "
                          "Claude \u2014 it can switch apps, capture the screen, or click with your confirmation.")
        .arg(platformWords().keyName(keyCode));
}

QString idleTalkLabel(quint16 keyCode)
{
    return QStringLiteral("Hold %1 to talk").arg(platformWords().keyName(keyCode)).toUpper();
}

QString talkKeyNote(quint16 keyCode, bool typesCharacters)
{
    if (!typesCharacters)
        return {};
    const PlatformWords &words = platformWords();
    return QStringLiteral("With this keyboard layout %1 is %2, which you hold to type characters such as @, \u20ac "
                          "or {, so typing can start a turn. Choose %3 instead.")
        .arg(words.keyName(keyCode), words.characterShift, words.rightControl);
}

}  // namespace zapum
