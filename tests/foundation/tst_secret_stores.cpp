#include "foundation/cached_secret_store.h"
#include "platform/linux/secrets/file_secret_store.h"
#include "platform/linux/secrets/keyring_secret_store.h"
#include "support/file_size_limit.h"
#include "support/memory_secret_store.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <sys/stat.h>

using namespace zapum;
using namespace zapum::linux_platform;

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

}  // namespace

class TestSecretStores : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileStoreIsPrivate()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ZaPum/secrets.json"));
        FileSecretStore store(path);
        checkReplaceSemantics(store, QStringLiteral("voice.anthropic"));
        QVERIFY(store.write(QStringLiteral("voice.elevenlabs"), "value").ok());
        QCOMPARE(FileSecretStore(path).read(QStringLiteral("voice.elevenlabs")), std::optional<QByteArray>("value"));

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
        auto backend = std::make_unique<test::MemorySecretStore>();
        test::MemorySecretStore *raw = backend.get();
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
                test::FileSizeLimit full(4096);
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
};

QTEST_GUILESS_MAIN(TestSecretStores)
#include "tst_secret_stores.moc"
