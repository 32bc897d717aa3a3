#include "backend/user_session.h"

#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

namespace zapum {
namespace {

const QString kUserId = QStringLiteral("userId");
const QString kEmail = QStringLiteral("email");
const QString kAccessToken = QStringLiteral("accessToken");
const QString kApiBaseUrl = QStringLiteral("apiBaseURL");
const QString kIssuedAt = QStringLiteral("issuedAt");

const QDateTime &referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

std::optional<QDateTime> readIssuedAt(const QJsonValue &value)
{
    if (value.isDouble())
        return dateFromReferenceSeconds(value.toDouble());
    if (value.isString())
        return parseInternetDateTime(value.toString());
    return std::nullopt;
}

}  // namespace

double referenceDateSeconds(const QDateTime &date)
{
    return double(referenceDate().msecsTo(date)) / 1000.0;
}

std::optional<QDateTime> dateFromReferenceSeconds(double seconds)
{
    // About ±10 000 years, enough for any four-digit year of a date text, and small enough that
    // milliseconds survive a round trip through a double exactly.
    constexpr double kLimit = 3.2e11;
    if (!std::isfinite(seconds) || std::abs(seconds) > kLimit)
        return std::nullopt;
    const QDateTime date = referenceDate().addMSecs(qint64(std::llround(seconds * 1000.0)));
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QDateTime> parseInternetDateTime(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:(Z)|([+-])(\d{2}):?(\d{2}))$)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const auto number = [&match](int group) { return match.captured(group).toInt(); };
    const QDate date(number(1), number(2), number(3));
    const QTime time(number(4), number(5), number(6));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (match.captured(7).isEmpty()) {
        const int hours = number(9);
        const int minutes = number(10);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (match.captured(8) == QLatin1String("-") ? -1 : 1);
    }
    const QDateTime parsed(date, time, Qt::OffsetFromUTC, offsetSeconds);
    if (!parsed.isValid())
        return std::nullopt;
    return parsed.toUTC();
}

QJsonObject ZaPumUserSession::toJson() const
{
    QJsonObject object{{kUserId, userId}, {kEmail, email}, {kAccessToken, accessToken}};
    if (apiBaseURL)
        object.insert(kApiBaseUrl, *apiBaseURL);
    if (issuedAt)
        object.insert(kIssuedAt, referenceDateSeconds(*issuedAt));
    return object;
}

QByteArray ZaPumUserSession::toJsonBytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<ZaPumUserSession> ZaPumUserSession::fromJson(const QJsonObject &object)
{
    const QJsonValue userId = object.value(kUserId);
    const QJsonValue email = object.value(kEmail);
    const QJsonValue accessToken = object.value(kAccessToken);
    if (!userId.isString() || !email.isString() || !accessToken.isString())
        return std::nullopt;

    ZaPumUserSession session;
    session.userId = userId.toString();
    session.email = email.toString();
    session.accessToken = accessToken.toString();

    const QJsonValue apiBase = object.value(kApiBaseUrl);
    if (apiBase.isString())
        session.apiBaseURL = apiBase.toString();
    else if (!apiBase.isNull() && !apiBase.isUndefined())
        return std::nullopt;

    session.issuedAt = readIssuedAt(object.value(kIssuedAt));
    return session;
}

std::optional<ZaPumUserSession> ZaPumUserSession::fromJsonBytes(const QByteArray &data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return fromJson(document.object());
}

}  // namespace zapum
