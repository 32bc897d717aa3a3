#include "foundation/settings_storage.h"
#include "support/memory_secret_store.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace zapum;
using namespace zapum::settings_keys;

class TestVoiceSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("settings.json")); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void firstRunDefaultsWriteNothing()
    {
        SettingsStorage storage(path());
        test::MemorySecretStore secrets;
        VoiceKeychain keychain(secrets);
        VoiceSettingsStore store(storage, keychain);

        QCOMPARE(store.isEnabled(), false);
        QCOMPARE(store.elevenLabsVoiceId(), QStringLiteral("EXAVITQu4vr4xnSDxMaL"));
        QCOMPARE(store.requireClickConfirmation(), true);
        QCOMPARE(store.claudeModel(), QStringLiteral("claude-sonnet-4-5"));
        QCOMPARE(store.anthropicKeyPresent(), false);
        QCOMPARE(store.elevenLabsKeyPresent(), false);
        QCOMPARE(store.beeState(), VoiceBeeState::idle());
        QCOMPARE(store.lastError(), std::nullopt);
        QVERIFY(!QFile::exists(path()) || QFile(path()).size() == 0);
    }

    void storedValuesAreRead_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<bool>("rewritten");

        QTest::newRow("legacy model migrates")
            << kVoiceClaudeModel << QVariant(QStringLiteral("claude-3-opus-latest"))
            << QVariant(QStringLiteral("claude-sonnet-4-5")) << true;
        QTest::newRow("legacy match is case-sensitive")
            << kVoiceClaudeModel << QVariant(QStringLiteral("Claude-3-Opus-Latest"))
            << QVariant(QStringLiteral("Claude-3-Opus-Latest")) << false;
        QTest::newRow("unknown model kept")
            << kVoiceClaudeModel << QVariant(QStringLiteral("claude-made-up")) << QVariant(QStringLiteral("claude-made-up")) << false;
        QTest::newRow("empty model kept") << kVoiceClaudeModel << QVariant(QString()) << QVariant(QString()) << false;
        QTest::newRow("confirmation false") << kVoiceRequireClickConfirmation << QVariant(false) << QVariant(false) << false;
        QTest::newRow("confirmation as text reads true")
            << kVoiceRequireClickConfirmation << QVariant(QStringLiteral("no")) << QVariant(true) << false;
        QTest::newRow("voice mode on") << kVoiceModeEnabled << QVariant(true) << QVariant(true) << false;
        QTest::newRow("voice id") << kVoiceElevenLabsVoiceId << QVariant(QStringLiteral("abc")) << QVariant(QStringLiteral("abc")) << false;
    }

    void storedValuesAreRead()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        QFETCH(bool, rewritten);

        SettingsStorage(path()).setValue(key, stored);
        const QByteArray before = [&] { QFile f(path()); f.open(QIODevice::ReadOnly); return f.readAll(); }();

        SettingsStorage storage(path());
        test::MemorySecretStore secrets;
        VoiceKeychain keychain(secrets);
        VoiceSettingsStore store(storage, keychain);
        const QByteArray propertyName = key == kVoiceClaudeModel ? "claudeModel"
                                        : key == kVoiceRequireClickConfirmation ? "requireClickConfirmation"
                                        : key == kVoiceModeEnabled ? "isEnabled" : "elevenLabsVoiceId";
        QCOMPARE(store.property(propertyName), expected);

        const QByteArray after = [&] { QFile f(path()); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        QCOMPARE(before != after, rewritten);
        if (rewritten)
            QCOMPARE(SettingsStorage(path()).value(key), expected);
    }

    void assignmentsPersistAcrossRestart()
    {
        test::MemorySecretStore secrets;
        VoiceKeychain keychain(secrets);
        {
            SettingsStorage storage(path());
            VoiceSettingsStore store(storage, keychain);
            store.setIsEnabled(true);
            store.setRequireClickConfirmation(false);
            store.setClaudeModel(QStringLiteral("claude-opus-4-1"));
            store.setElevenLabsVoiceId(QStringLiteral("voice-2"));
            store.setLastTranscript(QStringLiteral("not persisted"));
        }
        SettingsStorage storage(path());
        VoiceSettingsStore store(storage, keychain);
        QCOMPARE(store.isEnabled(), true);
        QCOMPARE(store.requireClickConfirmation(), false);
        QCOMPARE(store.claudeModel(), QStringLiteral("claude-opus-4-1"));
        QCOMPARE(store.elevenLabsVoiceId(), QStringLiteral("voice-2"));
        QCOMPARE(store.lastTranscript(), QString());
        QCOMPARE(storage.storedBool(kVoiceModeEnabled), std::optional<bool>(true));
    }

    void errorStatesNotifyOnNewMessage()
    {
        SettingsStorage storage(path());
        test::MemorySecretStore secrets;
        VoiceKeychain keychain(secrets);
        VoiceSettingsStore store(storage, keychain);
        QSignalSpy spy(&store, &VoiceSettingsStore::beeStateChanged);

        store.setBeeState(VoiceBeeState::error(QStringLiteral("one")));
        store.setBeeState(VoiceBeeState::error(QStringLiteral("two")));
        store.setBeeState(VoiceBeeState::error(QStringLiteral("two")));
        QCOMPARE(spy.count(), 2);
        QVERIFY(VoiceBeeState::error(QStringLiteral("a")) != VoiceBeeState::error(QStringLiteral("b")));
        QVERIFY(VoiceBeeState::thinking() != VoiceBeeState::speaking());
    }

    void keychainReads_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("hasKey");
        QTest::newRow("key") << QByteArray("sk-test") << true << true;
        QTest::newRow("padded key read untrimmed") << QByteArray("  sk-test\n") << true << true;
        QTest::newRow("blanks only") << QByteArray("   ") << true << false;
        QTest::newRow("not UTF-8") << QByteArray("sk-\xff\xfe") << false << false;
        QTest::newRow("no data") << QByteArray() << false << false;
    }

    void keychainReads()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, readable);
        QFETCH(bool, hasKey);
        test::MemorySecretStore secrets;
        secrets.items.insert(kAnthropicAccount, stored);
        VoiceKeychain keychain(secrets);
        QCOMPARE(keychain.read(kAnthropicAccount).has_value(), readable);
        if (readable)
            QCOMPARE(keychain.read(kAnthropicAccount)->toUtf8(), stored);
        QCOMPARE(keychain.hasKey(kAnthropicAccount), hasKey);
    }

    void keychainWrites()
    {
        test::MemorySecretStore secrets;
        VoiceKeychain keychain(secrets);
        keychain.save(QStringLiteral("   "), kElevenLabsAccount);
        QCOMPARE(secrets.items.value(kElevenLabsAccount), QByteArray("   "));
        QVERIFY(!keychain.hasKey(kElevenLabsAccount));

        keychain.save(QStringLiteral("key-1"), kElevenLabsAccount);
        keychain.save(QString(), kElevenLabsAccount);
        QCOMPARE(keychain.read(kElevenLabsAccount), std::nullopt);

        keychain.save(QStringLiteral("key-2"), kElevenLabsAccount);
        secrets.failWrites = true;
        keychain.save(QStringLiteral("key-3"), kElevenLabsAccount);
        QVERIFY(!keychain.hasKey(kElevenLabsAccount));
    }

    void sessionRecordSaveFailureIsReported()
    {
        test::MemorySecretStore secrets;
        KeychainHelper helper(secrets);
        QCOMPARE(helper.save("{\"userId\":\"u1\"}").has_value(), false);
        QCOMPARE(helper.load(), std::optional<QByteArray>("{\"userId\":\"u1\"}"));

        secrets.failWrites = true;
        const std::optional<KeychainError> error = helper.save("{\"userId\":\"u2\"}");
        QVERIFY(error.has_value());
        QCOMPARE(error->status, -25293);
        QCOMPARE(helper.load(), std::nullopt);

        helper.remove();
        helper.remove();
        QCOMPARE(helper.load(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestVoiceSettings)
#include "tst_voice_settings.moc"
