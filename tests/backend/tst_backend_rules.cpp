#include "backend/auth_client.h"
#include "backend/backend_request.h"
#include "backend/environment_store.h"
#include "foundation/settings_storage.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace zapum;
using namespace zapum::settings_keys;

class TestBackendRules : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("settings.json")); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void launch_data()
    {
        QTest::addColumn<QVariant>("storedEnvironment");
        QTest::addColumn<QVariant>("storedUrl");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("urlAfter");
        QTest::newRow("first launch") << QVariant() << QVariant() << "Production" << "https://api.zapum.app";
        QTest::newRow("name in lower case is unknown") << QVariant(QStringLiteral("staging")) << QVariant() << "Production"
                                                       << "https://api.zapum.app";
        QTest::newRow("blank URL replaced") << QVariant(QStringLiteral("Staging")) << QVariant(QStringLiteral("  \n"))
                                            << "Staging" << "https://api.staging.zapum.app";
        QTest::newRow("URL kept untrimmed") << QVariant(QStringLiteral("Local (dev)"))
                                            << QVariant(QStringLiteral(" https://mine.example ")) << "Local (dev)"
                                            << " https://mine.example ";
    }

    void launch()
    {
        QFETCH(QVariant, storedEnvironment);
        QFETCH(QVariant, storedUrl);
        QFETCH(QString, current);
        QFETCH(QString, urlAfter);
        {
            SettingsStorage settings(path());
            if (storedEnvironment.isValid())
                settings.setValue(kEnvironment, storedEnvironment);
            if (storedUrl.isValid())
                settings.setValue(kApiBaseUrl, storedUrl);
        }
        SettingsStorage settings(path());
        EnvironmentStore store(settings);
        QCOMPARE(store.currentRawValue(), current);
        QCOMPARE(settings.storedText(kApiBaseUrl), urlAfter);
        QCOMPARE(store.lastSyncLabel(), QStringLiteral("Never synced"));
    }

    void switchingEnvironment_data()
    {
        QTest::addColumn<QString>("storedUrl");
        QTest::addColumn<QString>("switchTo");
        QTest::addColumn<QString>("urlAfter");
        QTest::newRow("preset follows") << "http://localhost:4001" << "Staging" << "https://api.staging.zapum.app";
        QTest::newRow("own host survives") << "https://mine.example" << "Local (dev)" << "https://mine.example";
        QTest::newRow("spaces survive") << "   " << "Staging" << "   ";
        QTest::newRow("same environment re-applies") << "" << "Production" << "https://api.zapum.app";
    }

    void switchingEnvironment()
    {
        QFETCH(QString, storedUrl);
        QFETCH(QString, switchTo);
        QFETCH(QString, urlAfter);
        SettingsStorage settings(path());
        EnvironmentStore store(settings);
        settings.setValue(kApiBaseUrl, storedUrl);
        store.setCurrentRawValue(switchTo);
        QCOMPARE(settings.storedText(kEnvironment), switchTo);
        QCOMPARE(settings.storedText(kApiBaseUrl), urlAfter);
        settings.setValue(kApiBaseUrl, QStringLiteral(" \t"));
        QCOMPARE(store.resolvedApiBase(), presetApiBaseUrl(store.current()));
    }

    void pauseIsPersistedAndAnnouncedEveryTime()
    {
        SettingsStorage settings(path());
        EnvironmentStore store(settings);
        QSignalSpy switched(&store, &EnvironmentStore::remoteHelpSwitched);
        store.setIsPaused(true);
        store.setIsPaused(true);
        QCOMPARE(switched.count(), 2);
        SettingsStorage reread(path());
        QVERIFY(EnvironmentStore(reread).isPaused());
    }

    void syncLabels_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("label");
        QTest::newRow("minutes") << qint64(5 * 60 + 10) << "Synced 5 min. ago";
        QTest::newRow("one day") << qint64(86400 + 5) << "Synced 1 day ago";
        QTest::newRow("clock behind") << qint64(-120) << "Synced in 2 min.";
    }

    void syncLabels()
    {
        QFETCH(qint64, secondsAgo);
        QFETCH(QString, label);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(syncLabel(now.addSecs(-secondsAgo), now), label);
    }

    void apiRootValidation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");  // empty: accepted
        const QString badUrl = authErrorMessage(AuthError::BadUrl);
        const QString https = authErrorMessage(AuthError::RequiresHttps);
        QTest::newRow("upper-case https with path") << "HTTPS://API.example.com/base" << "";
        QTest::newRow("http 127.0.0.1 any port") << "http://127.0.0.1:65000" << "";
        QTest::newRow("http [::1]") << "http://[::1]:8080" << "";
        QTest::newRow("http private network") << "http://192.168.1.20:4001" << https;
        QTest::newRow("ftp") << "ftp://files.example.com" << badUrl;
        QTest::newRow("not a URL") << "not a url" << badUrl;
    }

    void apiRootValidation()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const Result<QUrl> root = AuthClient::validatedAPIRoot(text);
        QCOMPARE(root.ok() ? QString() : root.failure().message, error);
    }

    void joining_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("joined");
        QTest::newRow("bare host") << "https://h.example" << "https://h.example/v1/desktop/ask";
        QTest::newRow("own path kept") << "https://h.example/zapum/api" << "https://h.example/zapum/api/v1/desktop/ask";
        QTest::newRow("own path with slash, escaped") << "https://h.example/a%20b/" << "https://h.example/a%20b/v1/desktop/ask";
    }

    void joining()
    {
        QFETCH(QString, root);
        QFETCH(QString, joined);
        QCOMPARE(joinEndpoint(QUrl(root), backend_paths::kAsk).toString(QUrl::FullyEncoded), joined);
    }

    void httpsRule_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("HTTPS") << "HTTPS://api.example.com/x" << true;
        QTest::newRow("http localhost") << "http://localhost:4001/x" << true;
        QTest::newRow("http ::1") << "http://[::1]:9/x" << true;
        QTest::newRow("http other loopback address") << "http://127.0.0.2/x" << false;
        QTest::newRow("http localhost as subdomain") << "http://localhost.example.com/x" << false;
        QTest::newRow("no scheme") << "api.example.com/x" << false;
    }

    void httpsRule()
    {
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QCOMPARE(isSecureBackendUrl(QUrl(url)), allowed);
    }
};

QTEST_GUILESS_MAIN(TestBackendRules)
#include "tst_backend_rules.moc"
