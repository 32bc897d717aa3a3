#include "store.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

namespace zapum::devserver {
namespace {

constexpr int kSchemaVersion = 1;

const char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS users(
  id TEXT PRIMARY KEY,
  email TEXT NOT NULL UNIQUE COLLATE NOCASE,
  token_hash TEXT NOT NULL,
  created_at REAL NOT NULL);
CREATE TABLE IF NOT EXISTS sessions(
  token_hash TEXT PRIMARY KEY,
  user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  issued_at REAL NOT NULL);
CREATE TABLE IF NOT EXISTS pairing_codes(
  code_hash TEXT PRIMARY KEY,
  user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  state TEXT NOT NULL,
  expires_at REAL NOT NULL);
CREATE TABLE IF NOT EXISTS guidance(
  user_id TEXT PRIMARY KEY REFERENCES users(id) ON DELETE CASCADE,
  document TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS commands(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  type TEXT NOT NULL,
  payload TEXT,
  created_at REAL NOT NULL);
CREATE INDEX IF NOT EXISTS commands_by_user ON commands(user_id, id);
CREATE VIRTUAL TABLE IF NOT EXISTS memories USING fts5(
  memory, role UNINDEXED, channel UNINDEXED, user_id UNINDEXED, created_at UNINDEXED,
  tokenize = 'porter unicode61');
)sql";

// One prepared statement, finalized on scope exit. Binds are 1-based like SQLite's.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Statement &bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(int index, double value)
    {
        sqlite3_bind_double(m_stmt, index, value);
        return *this;
    }
    Statement &bind(int index, qint64 value)
    {
        sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }
    bool run()
    {
        const int rc = step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    QString text(int column) const
    {
        const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return bytes ? QString::fromUtf8(bytes, sqlite3_column_bytes(m_stmt, column)) : QString();
    }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    double real(int column) const { return sqlite3_column_double(m_stmt, column); }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

bool exec(sqlite3 *db, const char *sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

// Comparing digests rather than tokens already hides timing of the secret itself; this keeps the
// comparison of the digests free of early exits as well.
bool sameDigest(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    unsigned diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= unsigned(a.at(i).unicode() ^ b.at(i).unicode());
    return diff == 0;
}

User userFrom(const Statement &row)
{
    return User{row.text(0), row.text(1)};
}

} // namespace

QString randomToken(const char *prefix, int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), bytes / 4);
    return QString::fromLatin1(prefix) + QString::fromLatin1(raw.toHex());
}

QString sha256Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString ftsMatchExpression(const QString &text)
{
    static const QRegularExpression word(QStringLiteral("[\\w]+"), QRegularExpression::UseUnicodePropertiesOption);
    // Enough for any sentence a person says; bounds the work a hostile query can cause.
    constexpr int kMaxWords = 32;
    QStringList terms;
    auto it = word.globalMatch(text);
    while (it.hasNext() && terms.size() < kMaxWords) {
        const QString term = it.next().captured(0);
        if (!terms.contains(term, Qt::CaseInsensitive))
            terms.append(QLatin1Char('"') + term + QLatin1Char('"'));
    }
    return terms.join(QStringLiteral(" OR "));
}

std::unique_ptr<Store> Store::open(const QString &path, QString *error)
{
    const QFileInfo info(path);
    QDir folder = info.absoluteDir();
    if (!folder.exists()) {
        if (!folder.mkpath(QStringLiteral("."))) {
            *error = QStringLiteral("Cannot create the folder %1.").arg(folder.path());
            return nullptr;
        }
        ::chmod(QFile::encodeName(folder.path()).constData(), 0700);
    }

    // Created private from the start; SQLite gives its journal files the same mode.
    const QByteArray file = QFile::encodeName(info.absoluteFilePath());
    if (const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600); fd >= 0)
        ::close(fd);

    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(file.constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        *error =
            QStringLiteral("Cannot open %1: %2").arg(info.absoluteFilePath(), QString::fromUtf8(sqlite3_errstr(rc)));
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);

    std::unique_ptr<Store> store(new Store(db));
    QString reason;
    if (!store->migrate(&reason)) {
        *error = QStringLiteral("%1 is not a usable data file (%2). Move it aside or pass --data with another path.")
                     .arg(info.absoluteFilePath(), reason);
        return nullptr;
    }
    // Digests and memories are nobody else's business, whoever made the file.
    ::chmod(file.constData(), 0600);
    return store;
}

Store::~Store()
{
    sqlite3_close(m_db);
}

bool Store::migrate(QString *error)
{
    if (!exec(m_db, "PRAGMA foreign_keys = ON; PRAGMA journal_mode = WAL;", error))
        return false;
    Statement version(m_db, "PRAGMA user_version");
    if (!version.ok() || version.step() != SQLITE_ROW) {
        *error = QString::fromUtf8(sqlite3_errmsg(m_db));
        return false;
    }
    const qint64 found = version.integer(0);
    if (found > kSchemaVersion) {
        *error = QStringLiteral("it was written by a newer zapum-devserver");
        return false;
    }
    if (!exec(m_db, kSchema, error))
        return false;
    return exec(m_db, "PRAGMA user_version = 1", error);
}

std::optional<NewUser> Store::insertUser(const QString &email)
{
    NewUser created{User{randomToken("", 16), email}, randomToken("zpt_", 32)};
    Statement insert(m_db, "INSERT INTO users(id, email, token_hash, created_at) VALUES(?, ?, ?, unixepoch('now'))");
    insert.bind(1, created.user.id).bind(2, email).bind(3, sha256Hex(created.token));
    if (!insert.run())
        return std::nullopt;
    return created;
}

std::optional<NewUser> Store::createFirstUser(const QString &email)
{
    std::lock_guard lock(m_mutex);
    Statement count(m_db, "SELECT COUNT(*) FROM users");
    if (count.step() != SQLITE_ROW || count.integer(0) > 0)
        return std::nullopt;
    return insertUser(email);
}

std::optional<NewUser> Store::addUser(const QString &email)
{
    std::lock_guard lock(m_mutex);
    return insertUser(email);
}

QList<User> Store::users()
{
    std::lock_guard lock(m_mutex);
    QList<User> list;
    Statement select(m_db, "SELECT id, email FROM users ORDER BY created_at, rowid");
    while (select.step() == SQLITE_ROW)
        list.append(userFrom(select));
    return list;
}

std::optional<User> Store::userWhere(const char *sql, const QString &value)
{
    std::lock_guard lock(m_mutex);
    Statement select(m_db, sql);
    select.bind(1, value);
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    return userFrom(select);
}

std::optional<User> Store::userById(const QString &id)
{
    return userWhere("SELECT id, email FROM users WHERE id = ?", id);
}

std::optional<User> Store::userByEmail(const QString &email)
{
    return userWhere("SELECT id, email FROM users WHERE email = ?", email);
}

std::optional<User> Store::userBySignIn(const QString &email, const QString &token)
{
    std::lock_guard lock(m_mutex);
    Statement select(m_db, "SELECT id, email, token_hash FROM users WHERE email = ?");
    select.bind(1, email);
    const QString presented = sha256Hex(token);
    if (select.step() != SQLITE_ROW || !sameDigest(select.text(2), presented))
        return std::nullopt;
    return userFrom(select);
}

QString Store::createSession(const QString &userId, double now)
{
    std::lock_guard lock(m_mutex);
    const QString token = randomToken("zps_", 32);
    Statement insert(m_db, "INSERT INTO sessions(token_hash, user_id, issued_at) VALUES(?, ?, ?)");
    insert.bind(1, sha256Hex(token)).bind(2, userId).bind(3, now);
    if (!insert.run())
        return {};
    return token;
}

std::optional<User> Store::userByAccessToken(const QString &token)
{
    std::lock_guard lock(m_mutex);
    Statement select(m_db, "SELECT users.id, users.email FROM sessions JOIN users ON users.id = sessions.user_id "
                           "WHERE sessions.token_hash = ?");
    select.bind(1, sha256Hex(token));
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    return userFrom(select);
}

QString Store::createPairingCode(const QString &userId, const QString &state, double expiresAt, double now)
{
    std::lock_guard lock(m_mutex);
    Statement purge(m_db, "DELETE FROM pairing_codes WHERE expires_at <= ?");
    purge.bind(1, now).run();
    const QString code = randomToken("", 16);
    Statement insert(m_db, "INSERT INTO pairing_codes(code_hash, user_id, state, expires_at) VALUES(?, ?, ?, ?)");
    insert.bind(1, sha256Hex(code)).bind(2, userId).bind(3, state).bind(4, expiresAt);
    if (!insert.run())
        return {};
    return code;
}

RedeemResult Store::redeemPairingCode(const QString &code, const QString &state, double now)
{
    std::lock_guard lock(m_mutex);
    const QString digest = sha256Hex(code);
    Statement select(m_db, "SELECT users.id, users.email, pairing_codes.state, pairing_codes.expires_at "
                           "FROM pairing_codes JOIN users ON users.id = pairing_codes.user_id WHERE code_hash = ?");
    select.bind(1, digest);
    if (select.step() != SQLITE_ROW)
        return {};
    const User user = userFrom(select);
    const QString boundState = select.text(2);
    const double expiresAt = select.real(3);

    Statement consume(m_db, "DELETE FROM pairing_codes WHERE code_hash = ?");
    consume.bind(1, digest).run();

    if (expiresAt <= now)
        return {Redeem::Expired, std::nullopt};
    if (boundState != state)
        return {Redeem::StateMismatch, std::nullopt};
    return {Redeem::Ok, user};
}

std::optional<QJsonObject> Store::guidance(const QString &userId)
{
    std::lock_guard lock(m_mutex);
    Statement select(m_db, "SELECT document FROM guidance WHERE user_id = ?");
    select.bind(1, userId);
    if (select.step() != SQLITE_ROW)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(select.text(0).toUtf8());
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

void Store::setGuidance(const QString &userId, const std::optional<QJsonObject> &document)
{
    std::lock_guard lock(m_mutex);
    if (!document) {
        Statement remove(m_db, "DELETE FROM guidance WHERE user_id = ?");
        remove.bind(1, userId).run();
        return;
    }
    Statement upsert(m_db, "INSERT INTO guidance(user_id, document) VALUES(?, ?) "
                           "ON CONFLICT(user_id) DO UPDATE SET document = excluded.document");
    upsert.bind(1, userId).bind(2, QString::fromUtf8(QJsonDocument(*document).toJson(QJsonDocument::Compact)));
    upsert.run();
}

int Store::remember(const QString &userId, const QList<std::pair<QString, QString>> &messages, const QString &channel,
                    double now)
{
    std::lock_guard lock(m_mutex);
    exec(m_db, "BEGIN", nullptr);
    int stored = 0;
    for (const auto &[role, content] : messages) {
        Statement insert(m_db,
                         "INSERT INTO memories(memory, role, channel, user_id, created_at) VALUES(?, ?, ?, ?, ?)");
        insert.bind(1, content).bind(2, role).bind(3, channel).bind(4, userId).bind(5, now);
        if (!insert.run()) {
            exec(m_db, "ROLLBACK", nullptr);
            return -1;
        }
        ++stored;
    }
    exec(m_db, "COMMIT", nullptr);
    return stored;
}

QList<MemoryHit> Store::searchMemories(const QString &userId, const QString &matchExpression, int limit)
{
    std::lock_guard lock(m_mutex);
    QList<MemoryHit> hits;
    if (matchExpression.isEmpty())
        return hits;
    // bm25() is lower for better matches; newer memories win ties.
    Statement select(m_db,
                     "SELECT memory, role, channel, bm25(memories), created_at FROM memories "
                     "WHERE memories MATCH ? AND user_id = ? ORDER BY bm25(memories), created_at DESC, rowid DESC "
                     "LIMIT ?");
    select.bind(1, matchExpression).bind(2, userId).bind(3, qint64(limit));
    while (select.step() == SQLITE_ROW)
        hits.append(MemoryHit{select.text(0), select.text(1), select.text(2), -select.real(3), select.real(4)});
    return hits;
}

qint64 Store::enqueueCommand(const QString &userId, const QString &type, const QJsonObject &payload, double now)
{
    std::lock_guard lock(m_mutex);
    Statement insert(m_db, "INSERT INTO commands(user_id, type, payload, created_at) VALUES(?, ?, ?, ?)");
    insert.bind(1, userId)
        .bind(2, type)
        .bind(3, QString::fromUtf8(QJsonDocument(payload).toJson(QJsonDocument::Compact)))
        .bind(4, now);
    if (!insert.run())
        return -1;
    return sqlite3_last_insert_rowid(m_db);
}

QList<QueuedCommand> Store::takeCommands(const QString &userId)
{
    std::lock_guard lock(m_mutex);
    QList<QueuedCommand> commands;
    exec(m_db, "BEGIN IMMEDIATE", nullptr);
    Statement select(m_db, "SELECT id, type, payload FROM commands WHERE user_id = ? ORDER BY id");
    select.bind(1, userId);
    qint64 last = -1;
    while (select.step() == SQLITE_ROW) {
        QueuedCommand command{select.text(1), std::nullopt};
        if (!select.isNull(2)) {
            const QJsonDocument payload = QJsonDocument::fromJson(select.text(2).toUtf8());
            if (payload.isObject())
                command.payload = payload.object();
        }
        commands.append(std::move(command));
        last = select.integer(0);
    }
    // Handed out once: the desktop does not acknowledge, so a command left here would run again
    // on every poll.
    Statement remove(m_db, "DELETE FROM commands WHERE user_id = ? AND id <= ?");
    remove.bind(1, userId).bind(2, last).run();
    exec(m_db, "COMMIT", nullptr);
    return commands;
}

} // namespace zapum::devserver
