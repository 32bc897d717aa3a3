#include "foundation/settings_storage.h"
#include "support/memory_secret_store.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;
using namespace zapum::settings_keys;

namespace {

struct Rig {
    explicit Rig(const QString &path) : storage(path) {}
    SettingsStorage storage;
    test::MemorySecretStore secrets;
    VoiceKeychain keychain{secrets};
    VoiceSettingsStore store{storage, keychain};
};

}  // namespace

class TestVoiceSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(u"settings.json"_s); }
    QByteArray onDisk() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void storedValuesAreRead_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<bool>("rewritten");
        QTest::newRow("legacy model migrates") << kVoiceClaudeModel << QVariant(u"claude-3-opus-latest"_s)
                                               << QVariant(VoiceSettingsStore::kDefaultClaudeModel) << true;
        QTest::newRow("confirmation as text reads true")
            << kVoiceRequireClickConfirmation << QVariant(u"no"_s) << QVariant(true) << false;
        QTest::newRow("talk key") << kVoiceTalkKey << QVariant(u"RightControl"_s) << QVariant(62) << false;
        QTest::newRow("unknown talk key is Right Alt") << kVoiceTalkKey << QVariant(u"F13"_s) << QVariant(61) << false;
    }
    void storedValuesAreRead()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, expected);
        QFETCH(bool, rewritten);
        SettingsStorage(path()).setValue(key, stored);
        const QByteArray before = onDisk();

        Rig rig(path());
        const QHash<QString, const char *> properties{{kVoiceClaudeModel, "claudeModel"},
                                                      {kVoiceRequireClickConfirmation, "requireClickConfirmation"},
                                                      {kVoiceTalkKey, "talkKey"}};
        QCOMPARE(rig.store.property(properties.value(key)), expected);
        QCOMPARE(onDisk() != before, rewritten);
        if (rewritten)
            QCOMPARE(SettingsStorage(path()).value(key), expected);
    }

    // A first run writes nothing, so that later defaults still apply; assignments persist, and
    // the live fields of a conversation do not.
    void onlyAssignmentsPersist()
    {
        {
            Rig rig(path());
            QVERIFY(rig.store.requireClickConfirmation());  // clicks ask first unless the user says otherwise
            QVERIFY(rig.store.listenForScreenNames());
            QVERIFY(onDisk().isEmpty());
            rig.store.setIsEnabled(true);
            rig.store.setListenForScreenNames(false);
            rig.store.setElevenLabsVoiceId(u"voice-2"_s);
            rig.store.setLastTranscript(u"not persisted"_s);
        }
        Rig rig(path());
        QCOMPARE(rig.storage.storedBool(kVoiceModeEnabled), std::optional<bool>(true));
        QVERIFY(!rig.store.listenForScreenNames());
        QCOMPARE(rig.store.elevenLabsVoiceId(), u"voice-2"_s);
        QCOMPARE(rig.store.lastTranscript(), QString());
    }

    // A second, different error must reach the views even though the kind stays the same.
    void errorStatesNotifyOnNewMessage()
    {
        Rig rig(path());
        QSignalSpy spy(&rig.store, &VoiceSettingsStore::beeStateChanged);
        for (const char *message : {"one", "two", "two"})
            rig.store.setBeeState(VoiceBeeState::error(QString::fromLatin1(message)));
        QCOMPARE(spy.count(), 2);
    }

    void keychainKeys()
    {
        test::MemorySecretStore secrets;
        VoiceKeychain keychain(secrets);
        secrets.items.insert(kAnthropicAccount, "  sk-test\n");
        QCOMPARE(keychain.read(kAnthropicAccount), u"  sk-test\n"_s);  // untrimmed
        QVERIFY(keychain.hasKey(kAnthropicAccount));
        secrets.items.insert(kAnthropicAccount, "   ");
        QVERIFY(!keychain.hasKey(kAnthropicAccount));
        secrets.items.insert(kAnthropicAccount, "sk-\xff\xfe");
        QCOMPARE(keychain.read(kAnthropicAccount), std::nullopt);  // not UTF-8
    }
};

QTEST_GUILESS_MAIN(TestVoiceSettings)
#include "tst_voice_settings.moc"
