// Where the app keeps what outlives it: the settings file and the secret stores.
#include "foundation/cached_secret_store.h"
#include "foundation/settings_storage.h"
#include "platform/linux/secrets/file_secret_store.h"
#include "platform/linux/secrets/keyring_secret_store.h"
#include "support/file_size_limit.h"
#include "support/memory_secret_store.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
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

class TestStorage : public QObject {
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

    // Every assignment is on disk at once, and each value comes back with its own type.
    void typesSurviveARestart()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"nested/settings.json"_s);
        const QVariantList values{false, u"true"_s, QString(), 72.5, u"Zoë — ✓"_s};
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
    }

    void typedReadsRejectOtherTypes()
    {
        QTemporaryDir dir;
        SettingsStorage storage(dir.filePath(u"typed.json"_s));
        storage.setValue(u"text"_s, u"yes"_s);
        storage.setValue(u"flag"_s, true);
        storage.setValue(u"whole"_s, 3);
        QCOMPARE(storage.storedBool(u"text"_s), std::nullopt);
        QCOMPARE(storage.storedText(u"flag"_s), std::nullopt);
        QCOMPARE(storage.storedNumber(u"whole"_s), std::optional<double>(3.0));
        QCOMPARE(storage.storedNumber(u"missing"_s), std::nullopt);
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

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
