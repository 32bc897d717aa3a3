#include "backend/auth_client.h"
#include "backend/backend_request.h"
#include "backend/environment_store.h"
#include "foundation/settings_storage.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace zapum;

class TestBackendRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pauseIsPersistedAndAnnouncedEveryTime()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"settings.json"_s);
        SettingsStorage settings(path);
        EnvironmentStore store(settings);
        QSignalSpy switched(&store, &EnvironmentStore::remoteHelpSwitched);
        store.setIsPaused(true);
        store.setIsPaused(true);
        QCOMPARE(switched.count(), 2);
        SettingsStorage reread(path);
        QVERIFY(EnvironmentStore(reread).isPaused());
    }

    // The same rule in both places: plain http only to this machine by name, never to a network.
    void httpsRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");  // what sign-in says; empty: accepted, and requests may go there
        const QString badUrl = authErrorMessage(AuthError::BadUrl);
        const QString https = authErrorMessage(AuthError::RequiresHttps);
        QTest::newRow("upper-case https with path") << "HTTPS://API.example.com/base" << "";
        QTest::newRow("http localhost") << "http://localhost:4001/x" << "";
        QTest::newRow("http 127.0.0.1 any port") << "http://127.0.0.1:65000" << "";
        QTest::newRow("http [::1]") << "http://[::1]:8080" << "";
        QTest::newRow("http other loopback address") << "http://127.0.0.2/x" << https;
        QTest::newRow("http localhost as subdomain") << "http://localhost.example.com/x" << https;
        QTest::newRow("http private network") << "http://192.168.1.20:4001" << https;
        QTest::newRow("ftp") << "ftp://files.example.com" << badUrl;
        QTest::newRow("no scheme") << "api.example.com/x" << badUrl;
    }

    void httpsRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        const Result<QUrl> root = AuthClient::validatedAPIRoot(text);
        QCOMPARE(root.ok() ? QString() : root.failure().message, error);
        QCOMPARE(isSecureBackendUrl(QUrl(text)), error.isEmpty());
    }

    void joining_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("joined");
        QTest::newRow("own path kept") << "https://h.example/zapum/api" << "https://h.example/zapum/api/v1/desktop/ask";
        QTest::newRow("own path with slash, escaped") << "https://h.example/a%20b/" << "https://h.example/a%20b/v1/desktop/ask";
    }

    void joining()
    {
        QFETCH(QString, root);
        QFETCH(QString, joined);
        QCOMPARE(joinEndpoint(QUrl(root), backend_paths::kAsk).toString(QUrl::FullyEncoded), joined);
    }
};

QTEST_GUILESS_MAIN(TestBackendRules)
#include "tst_backend_rules.moc"
