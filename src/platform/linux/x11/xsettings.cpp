#include "platform/linux/x11/xsettings.h"

#include <QRegularExpression>
#include <QtEndian>

namespace zapum {

namespace {

// A bounds-checked reader over the property bytes; any read past the end fails the whole parse.
class Reader {
public:
    Reader(const QByteArray &data, bool bigEndian) : m_data(data), m_bigEndian(bigEndian) {}

    bool skip(qsizetype n)
    {
        if (n < 0 || n > m_data.size() - m_pos)
            return false;
        m_pos += n;
        return true;
    }
    std::optional<quint32> u32()
    {
        if (m_data.size() - m_pos < 4)
            return std::nullopt;
        const auto *p = reinterpret_cast<const uchar *>(m_data.constData() + m_pos);
        m_pos += 4;
        return m_bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }
    std::optional<quint16> u16()
    {
        if (m_data.size() - m_pos < 2)
            return std::nullopt;
        const auto *p = reinterpret_cast<const uchar *>(m_data.constData() + m_pos);
        m_pos += 2;
        return m_bigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    }
    std::optional<quint8> u8()
    {
        if (m_pos >= m_data.size())
            return std::nullopt;
        return quint8(m_data[m_pos++]);
    }
    std::optional<QByteArray> bytes(qsizetype n)
    {
        if (n < 0 || n > m_data.size() - m_pos)
            return std::nullopt;
        QByteArray out = m_data.mid(m_pos, n);
        m_pos += n;
        return out;
    }
    // Strings and names are padded to a multiple of four bytes.
    bool skipPadding(quint32 length) { return skip(qsizetype((4 - length % 4) % 4)); }

private:
    const QByteArray &m_data;
    bool m_bigEndian;
    qsizetype m_pos = 0;
};

enum SettingType : quint8 { kInteger = 0, kString = 1, kColour = 2 };

}  // namespace

std::optional<QVariant> readXSetting(const QByteArray &property, const QByteArray &name)
{
    if (property.isEmpty())
        return std::nullopt;
    const char order = property[0];
    if (order != 0 && order != 1)
        return std::nullopt;
    Reader in(property, order == 1);  // 1 = MSBFirst
    if (!in.skip(4))
        return std::nullopt;
    if (!in.u32())  // serial
        return std::nullopt;
    const auto count = in.u32();
    if (!count)
        return std::nullopt;
    for (quint32 i = 0; i < *count; ++i) {
        const auto type = in.u8();
        if (!type || !in.skip(1))
            return std::nullopt;
        const auto nameLength = in.u16();
        if (!nameLength)
            return std::nullopt;
        const auto settingName = in.bytes(*nameLength);
        if (!settingName || !in.skipPadding(*nameLength) || !in.u32())  // last-change serial
            return std::nullopt;
        std::optional<QVariant> value;
        switch (*type) {
        case kInteger: {
            const auto v = in.u32();
            if (!v)
                return std::nullopt;
            value = QVariant(int(qint32(*v)));
            break;
        }
        case kString: {
            const auto length = in.u32();
            if (!length || *length > quint32(property.size()))
                return std::nullopt;
            const auto text = in.bytes(qsizetype(*length));
            if (!text || !in.skipPadding(*length))
                return std::nullopt;
            value = QVariant(QString::fromUtf8(*text));
            break;
        }
        case kColour:
            if (!in.skip(8))
                return std::nullopt;
            break;
        default: return std::nullopt;  // an unknown type has an unknown size: nothing after it is readable
        }
        if (*settingName == name)
            return value;
    }
    return std::nullopt;
}

std::optional<bool> gtkIniEnablesAnimations(const QString &iniText)
{
    static const QRegularExpression line(
        QStringLiteral("^\\s*gtk-enable-animations\\s*=\\s*(\\S+)\\s*$"),
        QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
    std::optional<bool> result;
    auto matches = line.globalMatch(iniText);
    while (matches.hasNext()) {  // the last one wins, as in GTK
        const QString value = matches.next().captured(1).toLower();
        if (value == QLatin1String("true") || value == QLatin1String("1"))
            result = true;
        else if (value == QLatin1String("false") || value == QLatin1String("0"))
            result = false;
    }
    return result;
}

}  // namespace zapum
