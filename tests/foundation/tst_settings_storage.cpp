#include "foundation/settings_storage.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace zapum;

class TestSettingsStorage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void typesSurviveARestart_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("bool true") << QVariant(true);
        QTest::newRow("bool false") << QVariant(false);
        QTest::newRow("text") << QVariant(QStringLiteral("claude-sonnet-4-5"));
        QTest::newRow("text that looks like a bool") << QVariant(QStringLiteral("true"));
        QTest::newRow("empty text") << QVariant(QString());
        QTest::newRow("fraction") << QVariant(72.5);
        QTest::newRow("unicode text") << QVariant(QStringLiteral("Zoë — ✓"));
    }

    void typesSurviveARestart()
    {
        QFETCH(QVariant, value);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("nested/settings.json"));
        {
            SettingsStorage storage(path);
            storage.setValue(QStringLiteral("ZaPumKey"), value);
        }
        SettingsStorage reopened(path);
        const QVariant read = reopened.value(QStringLiteral("ZaPumKey"));
        QCOMPARE(read.typeId(), value.typeId() == QMetaType::QString ? int(QMetaType::QString) : value.typeId());
        QCOMPARE(read, value.typeId() == QMetaType::QString ? QVariant(value.toString()) : value);
    }

    void typedReadsRejectOtherTypes()
    {
        QTemporaryDir dir;
        SettingsStorage storage(dir.filePath(QStringLiteral("settings.json")));
        storage.setValue(QStringLiteral("text"), QStringLiteral("yes"));
        storage.setValue(QStringLiteral("flag"), true);
        storage.setValue(QStringLiteral("whole"), 3);
        QCOMPARE(storage.storedBool(QStringLiteral("text")), std::nullopt);
        QCOMPARE(storage.storedText(QStringLiteral("flag")), std::nullopt);
        QCOMPARE(storage.storedNumber(QStringLiteral("whole")), std::optional<double>(3.0));
        QCOMPARE(storage.storedNumber(QStringLiteral("missing")), std::nullopt);
    }

    void everyAssignmentIsOnDiskAtOnce()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        SettingsStorage storage(path);
        storage.setValue(QStringLiteral("ZaPumVoiceModeEnabled"), true);

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject onDisk = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(onDisk.value(QStringLiteral("ZaPumVoiceModeEnabled")), QJsonValue(true));
    }

    void unreadableFileIsSetAsideNotOverwritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("{ this is not json");
        }
        SettingsStorage storage(path);
        QVERIFY(!storage.contains(QStringLiteral("anything")));
        storage.setValue(QStringLiteral("ZaPumOnboardingSeen"), true);

        const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("settings.json.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        QFile old(dir.filePath(aside.first()));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("{ this is not json"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStorage)
#include "tst_settings_storage.moc"
