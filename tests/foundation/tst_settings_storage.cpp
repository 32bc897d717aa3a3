#include "foundation/settings_storage.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace zapum;

class TestSettingsStorage : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // Every assignment is on disk at once, and each value comes back with its own type.
    void typesSurviveARestart()
    {
        const QString path = m_dir.filePath(u"nested/settings.json"_s);
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
        SettingsStorage storage(m_dir.filePath(u"typed.json"_s));
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

QTEST_GUILESS_MAIN(TestSettingsStorage)
#include "tst_settings_storage.moc"
