#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace zapum {

// The signed-in user. The same JSON form comes from the backend and is kept in the secret store.
struct ZaPumUserSession {
    QString userId;
    QString email;
    QString accessToken;
    // The API base this session belongs to; absent for a local identity.
    std::optional<QString> apiBaseURL;
    std::optional<QDateTime> issuedAt;

    bool operator==(const ZaPumUserSession &) const = default;

    // issuedAt is written as seconds since 2001-01-01T00:00:00Z; absent members are left out.
    QJsonObject toJson() const;
    QByteArray toJsonBytes() const;

    // The three texts are required. A wrong-typed apiBaseURL rejects the record; issuedAt never
    // does (a number, or an internet date-time text, or else absent).
    static std::optional<ZaPumUserSession> fromJson(const QJsonObject &object);
    static std::optional<ZaPumUserSession> fromJsonBytes(const QByteArray &data);
};

// Seconds since 2001-01-01T00:00:00Z, the epoch of the session record's dates.
double referenceDateSeconds(const QDateTime &date);
// Absent for a number too large for a date.
std::optional<QDateTime> dateFromReferenceSeconds(double seconds);
// "2025-03-01T09:30:00Z" or with a numeric offset; no fractional seconds, nothing else.
std::optional<QDateTime> parseInternetDateTime(const QString &text);

}  // namespace zapum
