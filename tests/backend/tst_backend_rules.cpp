#include "backend/auth_client.h"
#include "backend/backend_request.h"
#include "backend/environment_store.h"
#include "foundation/settings_storage.h"
#include "support/await_task.h"
#include "support/fake_http_server.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::settings_keys;
using namespace zapum::test;

class TestBackendRules : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("settings.json")); }

private Q_SLOTS:
    void init() { QFile::remove(path()); }

    void presetsHaveNoTrailingSlashOrPath()
    {
        for (ZaPumEnvironment environment : allEnvironments()) {
            for (const QString &preset : {presetApiBaseUrl(environment), presetWebBaseUrl(environment)}) {
                const QUrl url(preset);
                QVERIFY2(url.isValid() && !url.host().isEmpty(), qPrintable(preset));
                QVERIFY2(url.path().isEmpty(), qPrintable(preset));
                QCOMPARE(environmentFromRawValue(rawValue(environment)), environment);
            }
        }
    }

    void launch_data()
    {
        QTest::addColumn<QVariant>("storedEnvironment");
        QTest::addColumn<QVariant>("storedUrl");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("urlAfter");

        const QVariant none;
        QTest::newRow("first launch") << none << none << "Production" << "https://api.zapum.app";
        QTest::newRow("environment name in lower case is unknown")
            << QVariant(QStringLiteral("staging")) << none << "Production" << "https://api.zapum.app";
        QTest::newRow("local environment fills its preset")
            << QVariant(QStringLiteral("Local (dev)")) << none << "Local (dev)" << "http://localhost:4001";
        QTest::newRow("blank URL replaced")
            << QVariant(QStringLiteral("Staging")) << QVariant(QStringLiteral("  \n")) << "Staging"
            << "https://api.staging.zapum.app";
        QTest::newRow("URL kept untrimmed")
            << QVariant(QStringLiteral("Staging")) << QVariant(QStringLiteral(" https://mine.example ")) << "Staging"
            << " https://mine.example ";
        QTest::newRow("non-text URL replaced") << none << QVariant(42) << "Production" << "https://api.zapum.app";
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
        QVERIFY(!store.isPaused());
        QCOMPARE(store.lastSyncLabel(), QStringLiteral("Never synced"));
    }

    void switchingEnvironment_data()
    {
        QTest::addColumn<QString>("storedUrl");
        QTest::addColumn<QString>("switchTo");
        QTest::addColumn<QString>("urlAfter");

        QTest::newRow("local preset follows") << "http://localhost:4001" << "Staging" << "https://api.staging.zapum.app";
        QTest::newRow("production preset follows") << "https://api.zapum.app" << "Local (dev)" << "http://localhost:4001";
        QTest::newRow("own host survives") << "https://mine.example" << "Local (dev)" << "https://mine.example";
        QTest::newRow("spaces survive") << "   " << "Staging" << "   ";
        QTest::newRow("preset with a slash is the user's") << "https://api.zapum.app/" << "Staging" << "https://api.zapum.app/";
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
        QCOMPARE(store.currentRawValue(), switchTo);
        QCOMPARE(settings.storedText(kEnvironment), switchTo);
        QCOMPARE(settings.storedText(kApiBaseUrl), urlAfter);
    }

    void pauseIsPersistedAndAnnouncedEveryTime()
    {
        SettingsStorage settings(path());
        EnvironmentStore store(settings);
        QSignalSpy switched(&store, &EnvironmentStore::remoteHelpSwitched);
        QSignalSpy changed(&store, &EnvironmentStore::isPausedChanged);
        store.setIsPaused(true);
        store.setIsPaused(true);
        store.setIsPaused(false);
        QCOMPARE(switched.count(), 3);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(settings.storedBool(kRemoteAssistantPaused), false);
        store.setIsPaused(true);
        SettingsStorage reread(path());
        QVERIFY(EnvironmentStore(reread).isPaused());
    }

    void resolvedBases()
    {
        SettingsStorage settings(path());
        EnvironmentStore store(settings);
        store.setCurrent(ZaPumEnvironment::Staging);
        settings.setValue(kApiBaseUrl, QStringLiteral(" \t"));
        QCOMPARE(store.resolvedApiBase(), QStringLiteral("https://api.staging.zapum.app"));
        QCOMPARE(store.resolvedWebBase(), QStringLiteral("https://staging.zapum.app"));
        settings.setValue(kWebBaseUrl, QStringLiteral("  https://web.example/app \n"));
        QCOMPARE(store.resolvedWebBase(), QStringLiteral("https://web.example/app"));
    }

    void syncLabels_data()
    {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<QString>("label");
        QTest::newRow("just now") << qint64(0) << "Synced 0 sec. ago";
        QTest::newRow("seconds") << qint64(59) << "Synced 59 sec. ago";
        QTest::newRow("minutes") << qint64(5 * 60 + 10) << "Synced 5 min. ago";
        QTest::newRow("one hour") << qint64(3600) << "Synced 1 hr. ago";
        QTest::newRow("one day") << qint64(86400 + 5) << "Synced 1 day ago";
        QTest::newRow("days") << qint64(3 * 86400) << "Synced 3 days ago";
        QTest::newRow("weeks") << qint64(15 * 86400) << "Synced 2 wk. ago";
        QTest::newRow("years") << qint64(800 * 86400) << "Synced 2 yr. ago";
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
        QTest::newRow("https remote") << "https://api.example.com/base" << "";
        QTest::newRow("upper-case scheme") << "HTTPS://API.example.com" << "";
        QTest::newRow("http localhost") << "http://localhost:4001" << "";
        QTest::newRow("http 127.0.0.1 any port") << "http://127.0.0.1:65000" << "";
        QTest::newRow("http [::1]") << "http://[::1]:8080" << "";
        QTest::newRow("http private network") << "http://192.168.1.20:4001" << https;
        QTest::newRow("http remote") << "http://api.example.com" << https;
        QTest::newRow("ftp") << "ftp://files.example.com" << badUrl;
        QTest::newRow("not a URL") << "not a url" << badUrl;
        QTest::newRow("no scheme") << "api.example.com" << badUrl;
    }

    void apiRootValidation()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const Result<QUrl> root = AuthClient::validatedAPIRoot(text);
        QCOMPARE(root.ok() ? QString() : root.failure().message, error);
        if (root.ok())
            QCOMPARE(root.value(), QUrl(text));
    }

    void joining_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("joined");
        QTest::newRow("bare host") << "https://h.example" << "https://h.example/v1/desktop/ask";
        QTest::newRow("host with slash") << "https://h.example/" << "https://h.example/v1/desktop/ask";
        QTest::newRow("own path kept") << "https://h.example/zapum/api" << "https://h.example/zapum/api/v1/desktop/ask";
        QTest::newRow("own path with slash") << "https://h.example/api/" << "https://h.example/api/v1/desktop/ask";
        QTest::newRow("escaped path stays escaped") << "https://h.example/a%20b" << "https://h.example/a%20b/v1/desktop/ask";
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
        QTest::newRow("https") << "https://api.example.com/x" << true;
        QTest::newRow("HTTPS") << "HTTPS://api.example.com/x" << true;
        QTest::newRow("http localhost") << "http://localhost:4001/x" << true;
        QTest::newRow("http 127.0.0.1") << "http://127.0.0.1/x" << true;
        QTest::newRow("http ::1") << "http://[::1]:9/x" << true;
        QTest::newRow("http other loopback address") << "http://127.0.0.2/x" << false;
        QTest::newRow("http remote") << "http://api.example.com/x" << false;
        QTest::newRow("http localhost as subdomain") << "http://localhost.example.com/x" << false;
        QTest::newRow("no scheme") << "api.example.com/x" << false;
        QTest::newRow("file") << "file:///etc/passwd" << false;
    }

    void httpsRule()
    {
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QCOMPARE(isSecureBackendUrl(QUrl(url)), allowed);
    }

    void clientFormsRequests()
    {
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, "{}"));
        server.enqueue(FakeResponse::json(200, "{}"));
        BackendClient client({5s, 5s});
        QUrl root = server.baseUrl();
        root.setPath(QStringLiteral("/tenant"));

        BackendCall post;
        post.method = "POST";
        post.root = root;
        post.endpoint = backend_paths::kMemorySearch;
        post.bearerToken = QStringLiteral("t0k");
        post.json = QJsonObject{{QStringLiteral("query"), QStringLiteral("q")}};
        QVERIFY(awaitTask(client.send(post)).ok());

        BackendCall get;
        get.root = root;
        get.endpoint = backend_paths::kCommands;
        get.bearerToken = QString();
        QVERIFY(awaitTask(client.send(get)).ok());

        const QList<RecordedRequest> requests = server.requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[0].method, QByteArray("POST"));
        QCOMPARE(requests[0].target, QByteArray("/tenant/v1/desktop/memory/search"));
        QCOMPARE(requests[0].header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(requests[0].header("Authorization"), QByteArray("Bearer t0k"));
        QCOMPARE(QJsonDocument::fromJson(requests[0].body).object(), *post.json);
        QCOMPARE(requests[1].method, QByteArray("GET"));
        QCOMPARE(requests[1].target, QByteArray("/tenant/v1/desktop/commands"));
        QVERIFY(!requests[1].header("Content-Type"));
        QCOMPARE(requests[1].header("Authorization"), QByteArray("Bearer"));  // the server trims the value
        QVERIFY(requests[1].body.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBackendRules)
#include "tst_backend_rules.moc"
