// The ground the rest stands on: the HTTP client, the settings file and the secret stores.
#include "foundation/cached_secret_store.h"
#include "foundation/http_client.h"
#include "foundation/settings_storage.h"
#include "platform/linux/secrets/file_secret_store.h"
#include "platform/linux/secrets/keyring_secret_store.h"
#include "support/await_task.h"
#include "support/fake_http_server.h"
#include "support/file_size_limit.h"
#include "support/memory_secret_store.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::linux_platform;
using namespace zapum::test;

namespace {

// Exercises the replace-on-write contract every back-end shares.
void checkReplaceSemantics(SecretStore &store, const QString &account)
{
    QCOMPARE(store.read(account), std::nullopt);
    QVERIFY(store.write(account, "first").ok());
    QVERIFY(store.write(account, QByteArray("second\xff\x00third", 12)).ok());
    QCOMPARE(store.read(account), std::optional<QByteArray>(QByteArray("second\xff\x00third", 12)));
    store.remove(account);
    QCOMPARE(store.read(account), std::nullopt);
    store.remove(account);  // removing a missing item is fine
}

HttpRequest post(const QUrl &url, std::optional<std::chrono::milliseconds> deadline = std::nullopt)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.headers = {{"x-first", "1"}, {"X-Second", "two"}, {"Content-Type", "application/json"}};
    request.body = R"({"hello":"world"})";
    request.deadline = deadline;
    return request;
}

FakeResponse stalled(std::chrono::milliseconds stall)
{
    FakeResponse response = FakeResponse::json(200, "{}");
    response.stall = stall;
    return response;
}

}  // namespace

class TestFoundation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Headers go out in their order and spelling; an error status is a response, not a failure;
    // and a cookie set by one answer is never sent back.
    void sendsRequestAsGiven()
    {
        FakeHttpServer server;
        FakeResponse withCookie = FakeResponse::json(500, R"({"error":"boom"})");
        withCookie.headers.append(qMakePair(QByteArray("Set-Cookie"), QByteArray("session=secret; Path=/")));
        server.enqueue(withCookie);
        server.enqueue(FakeResponse::json(201, "{}"));
        HttpClient client({5s, 10s});
        const HttpResult result = awaitTask(client.send(post(server.baseUrl())));
        QVERIFY(result.ok() && result.value().status == 500);
        QCOMPARE(awaitTask(client.send(post(server.baseUrl()))).value().status, 201);

        const QList<QByteArray> names = server.requests().value(0).headerNames();
        QCOMPARE(names.mid(names.indexOf("x-first"), 3), (QList<QByteArray>{"x-first", "X-Second", "Content-Type"}));
        QVERIFY(!server.requests().value(1).header("Cookie"));
    }

    void transportFailures_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("totalMs");
        QTest::addColumn<int>("deadlineMs");  // of the request itself; 0: none
        QTest::addColumn<TransportError>("expected");
        QTest::newRow("stall past the idle time-out") << stalled(1500ms) << 300 << 5000 << 0 << TransportError::TimedOut;
        // Every piece arrives well inside the idle time-out, but the whole takes too long.
        FakeResponse trickle = FakeResponse::json(200, QByteArray(40, 'x'));
        trickle.trickleBytes = 2;
        trickle.trickleInterval = 100ms;
        QTest::newRow("trickle past the total time-out") << trickle << 1000 << 600 << 0 << TransportError::TimedOut;
        QTest::newRow("request deadline shorter than the client's")
            << stalled(1500ms) << 10000 << 10000 << 200 << TransportError::TimedOut;
        FakeResponse drop;
        drop.drop = true;
        QTest::newRow("connection dropped") << drop << 5000 << 5000 << 0 << TransportError::CannotConnect;
    }
    void transportFailures()
    {
        QFETCH(FakeResponse, response);
        QFETCH(int, idleMs);
        QFETCH(int, totalMs);
        QFETCH(int, deadlineMs);
        FakeHttpServer server;
        // Qt resends once on a connection closed before any answer, so every try gets the same.
        server.setHandler([response](const RecordedRequest &) { return response; });
        HttpClient client({std::chrono::milliseconds(idleMs), std::chrono::milliseconds(totalMs)});
        const auto deadline = deadlineMs ? std::optional(std::chrono::milliseconds(deadlineMs)) : std::nullopt;
        const HttpResult result = awaitTask(client.send(post(server.baseUrl(), deadline)));
        QVERIFY(!result.ok());
        QTEST(transportErrorOf(result.failure()).value_or(TransportError::Other), "expected");
        QVERIFY(!result.failure().message.isEmpty());
    }

    // Ending requests on purpose is not a time-out, and a destroyed client must still finish the
    // requests it had in flight rather than leave their callers waiting.
    void endedRequestsAreCancelled()
    {
        for (const bool destroyClient : {false, true}) {
            FakeHttpServer server;
            server.enqueue(stalled(3s));
            auto client = std::make_unique<HttpClient>(HttpTimeouts{10s, 10s});
            HttpClient *raw = client.get();
            QTimer::singleShot(100ms, raw, [&client, raw, destroyClient] {
                if (destroyClient)
                    client.reset();
                else
                    raw->cancelAll();
            });
            const HttpResult result = awaitTask(raw->send(post(server.baseUrl())));
            QVERIFY(!result.ok());
            QCOMPARE(transportErrorOf(result.failure()), TransportError::Cancelled);
        }
    }

    void fileStoreIsPrivate()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ZaPum/secrets.json"));
        FileSecretStore store(path);
        checkReplaceSemantics(store, QStringLiteral("voice.anthropic"));
        QVERIFY(store.write(QStringLiteral("voice.elevenlabs"), "value").ok());

        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
        QVERIFY(!QFile::exists(path + QStringLiteral(".tmp")));
    }

    void keyringRoundTrip()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the test session's D-Bus and keyring");
        // A service name of its own, so a run never touches real items.
        KeyringSecretStore store(QStringLiteral("app.zapum.test.") + QUuid::createUuid().toString(QUuid::Id128));
        QVERIFY(store.probe());
        checkReplaceSemantics(store, QStringLiteral("zapum.session"));
    }

    void cacheServesReadsFromMemory()
    {
        auto backend = std::make_unique<MemorySecretStore>();
        MemorySecretStore *raw = backend.get();
        raw->items.insert(QStringLiteral("a"), "one");
        CachedSecretStore cache(std::move(backend), {QStringLiteral("a"), QStringLiteral("b")});
        QCOMPARE(raw->reads, 2);  // each account once, up front

        raw->items.insert(QStringLiteral("a"), "changed behind our back");
        QCOMPARE(cache.read(QStringLiteral("a")), std::optional<QByteArray>("one"));
        QCOMPARE(cache.read(QStringLiteral("b")), std::nullopt);
        QCOMPARE(raw->reads, 2);

        QVERIFY(cache.write(QStringLiteral("b"), "two").ok());
        QCOMPARE(cache.read(QStringLiteral("b")), std::optional<QByteArray>("two"));
    }

    // Whatever a failed write leaves in the fallback file, this run (the cache) and the next
    // launch (a fresh reader) see the same; and the caller hears of the failure.
    void failedWriteLeavesFileAndCacheAgreeing_data()
    {
        QTest::addColumn<bool>("roomForLess");
        QTest::addColumn<QByteArray>("left");  // null: no item
        QTest::newRow("new value does not fit: the old item goes") << true << QByteArray();
        QTest::newRow("nothing can be written: the old item stays") << false << QByteArray("old");
    }
    void failedWriteLeavesFileAndCacheAgreeing()
    {
        QFETCH(bool, roomForLess);
        QFETCH(QByteArray, left);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ZaPum/secrets.json"));
        const QString account = QStringLiteral("zapum.session");
        QVERIFY(FileSecretStore(path).write(account, "old").ok());
        CachedSecretStore cache(std::make_unique<FileSecretStore>(path), {account});
        const Status status = [&] {
            if (roomForLess) {
                FileSizeLimit full(4096);
                return cache.write(account, QByteArray(8192, 'n'));
            }
            QDir().mkpath(path + QStringLiteral(".tmp"));  // where every new file would be made
            return cache.write(account, "new");
        }();
        QVERIFY(!status.ok());
        const std::optional<QByteArray> expected = left.isNull() ? std::nullopt : std::optional<QByteArray>(left);
        QCOMPARE(cache.read(account), expected);
        QCOMPARE(FileSecretStore(path).read(account), expected);
    }

    // Every assignment is on disk at once, each value comes back with its own type, and a typed
    // read of another type finds nothing.
    void typesSurviveARestart()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"nested/settings.json"_s);
        const QVariantList values{false, u"true"_s, QString(), 72.5, u"Zoë — ✓"_s, 3};
        {
            SettingsStorage storage(path);
            for (qsizetype i = 0; i < values.size(); ++i)
                storage.setValue(u"key%1"_s.arg(i), values[i]);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(QJsonDocument::fromJson(file.readAll()).object().value(u"key0"_s), QJsonValue(false));
        }
        SettingsStorage reopened(path);
        for (qsizetype i = 0; i < values.size(); ++i) {
            const QVariant read = reopened.value(u"key%1"_s.arg(i));
            QCOMPARE(read.typeId(), values[i].typeId());
            QCOMPARE(read, values[i]);
        }
        QCOMPARE(reopened.storedBool(u"key1"_s), std::nullopt);
        QCOMPARE(reopened.storedText(u"key0"_s), std::nullopt);
        QCOMPARE(reopened.storedNumber(u"key5"_s), std::optional<double>(3.0));
        QCOMPARE(reopened.storedNumber(u"missing"_s), std::nullopt);
    }

    void unreadableFileIsSetAsideNotOverwritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"settings.json"_s);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{ this is not json");
        }
        SettingsStorage storage(path);
        QVERIFY(!storage.contains(u"anything"_s));
        storage.setValue(u"ZaPumOnboardingSeen"_s, true);

        const QStringList aside = QDir(dir.path()).entryList({u"settings.json.unreadable-*"_s});
        QCOMPARE(aside.size(), 1);
        QFile old(dir.filePath(aside.first()));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("{ this is not json"));
    }
};

QTEST_GUILESS_MAIN(TestFoundation)
#include "tst_foundation.moc"
