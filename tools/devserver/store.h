#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

struct sqlite3;

namespace zapum::devserver {

struct User {
    QString id;
    QString email;
};

// A user just made: the only moment its sign-in token exists in clear.
struct NewUser {
    User user;
    QString token;
};

struct MemoryHit {
    QString memory;
    QString role;
    QString channel;
    double score = 0; // higher is better
    double createdAt = 0;
};

struct QueuedCommand {
    QString type;
    std::optional<QJsonObject> payload;
};

enum class Redeem { Ok, Unknown, Expired, StateMismatch };

struct RedeemResult {
    Redeem outcome = Redeem::Unknown;
    std::optional<User> user;
};

// Everything the server keeps, in one SQLite file. Secrets (sign-in tokens, access tokens,
// pairing codes) are kept only as SHA-256 digests, so the file never holds a usable credential.
// One connection behind one mutex: the request threads of both listeners share it.
class Store {
public:
    // Creates the file (0600) and its folder (0700) when missing. On failure, a sentence for the
    // person who started the server.
    static std::unique_ptr<Store> open(const QString &path, QString *error);
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Makes a first user when there is none at all, so a fresh server can be signed in to.
    std::optional<NewUser> createFirstUser(const QString &email);
    // Fails (nullopt) when the e-mail is taken.
    std::optional<NewUser> addUser(const QString &email);
    QList<User> users();
    std::optional<User> userById(const QString &id);
    std::optional<User> userByEmail(const QString &email);
    std::optional<User> userBySignIn(const QString &email, const QString &token);

    QString createSession(const QString &userId, double now);
    std::optional<User> userByAccessToken(const QString &token);

    QString createPairingCode(const QString &userId, const QString &state, double expiresAt, double now);
    // A code works once: any attempt that names it uses it up, so it cannot be tried again.
    RedeemResult redeemPairingCode(const QString &code, const QString &state, double now);

    std::optional<QJsonObject> guidance(const QString &userId);
    void setGuidance(const QString &userId, const std::optional<QJsonObject> &document);

    int remember(const QString &userId, const QList<std::pair<QString, QString>> &messages, const QString &channel,
                 double now);
    QList<MemoryHit> searchMemories(const QString &userId, const QString &matchExpression, int limit);

    qint64 enqueueCommand(const QString &userId, const QString &type, const QJsonObject &payload, double now);
    QList<QueuedCommand> takeCommands(const QString &userId);

private:
    explicit Store(sqlite3 *db) : m_db(db) {}
    bool migrate(QString *error);
    std::optional<NewUser> insertUser(const QString &email);
    std::optional<User> userWhere(const char *sql, const QString &value);

    std::mutex m_mutex;
    sqlite3 *m_db;
};

// Random bytes from the kernel as lower-case hex, with a readable prefix.
QString randomToken(const char *prefix, int bytes);
QString sha256Hex(const QString &text);

// Turns free text into an FTS5 expression that cannot be a syntax error: each word quoted, any
// word may match. Empty when the text has no words.
QString ftsMatchExpression(const QString &text);

} // namespace zapum::devserver
