#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QSignalSpy>
#include <QTest>

using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

const QByteArray kServerGuidance = R"({"title": "Acme onboarding", "subtitle": "Three steps", "ignored": [1, 2],
  "steps": [{"id": "a", "title": "First", "isDone": true}, {"id": "b", "title": "Second", "detail": null, "isDone": false}],
  "primaryActionLabel": "Go", "primaryActionURL": "not even a URL"})";

QString unreadable(const char *where, const char *why)
{
    return QStringLiteral("The guidance could not be read: \u201C%1\u201D %2.").arg(QLatin1String(where), QLatin1String(why));
}

}  // namespace

class TestGuidanceService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");  // empty: decodes
        QTest::newRow("server document") << kServerGuidance << "";
        QTest::newRow("empty steps") << QByteArray(R"({"title":"T","subtitle":"S","steps":[]})") << "";
        QTest::newRow("step without isDone") << QByteArray(R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A"}]})")
                                             << unreadable("steps[0].isDone", "is missing");
        QTest::newRow("isDone as number")
            << QByteArray(R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A","isDone":1}]})")
            << unreadable("steps[0].isDone", "has the wrong type");
        QTest::newRow("null steps") << QByteArray(R"({"title":"T","subtitle":"S","steps":null})")
                                    << unreadable("steps", "has the wrong type");
        QTest::newRow("not JSON") << QByteArray("<html>") << "The guidance could not be read: it is not valid JSON.";
    }

    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        const Result<GuidanceSession> decoded = GuidanceSession::fromJsonBytes(json);
        QCOMPARE(decoded.ok() ? QString() : decoded.failure().message, error);
    }

    void usesBuiltInWithoutRequest_data()
    {
        QTest::addColumn<QString>("apiBase");
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("empty base") << " " << true;
        QTest::newRow("base that is no URL") << "not a url" << true;
        QTest::newRow("signed out") << "@SERVER@" << false;
    }

    void usesBuiltInWithoutRequest()
    {
        QFETCH(QString, apiBase);
        QFETCH(bool, signedIn);
        FakeHttpServer server;
        server.enqueue(FakeResponse::json(200, kServerGuidance));
        BackendGraph graph;
        if (signedIn)
            graph.signIn(BackendGraph::userSession(std::nullopt));
        QSignalSpy loading(&graph.guidance, &GuidanceService::isLoadingChanged);
        awaitTask(graph.guidance.refreshFromAPI(apiBase.replace(QStringLiteral("@SERVER@"), apiBaseOf(server.baseUrl()))));
        QCOMPARE(server.requestCount(), 0);
        QCOMPARE(graph.guidance.session().title, QStringLiteral("ZaPum assistant"));
        QCOMPARE(graph.guidance.session().steps.size(), 3);
        QVERIFY(!graph.guidance.lastError());
        QCOMPARE(loading.count(), 0);
    }

    void fetch_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("error");  // empty: the server's document is shown
        QTest::newRow("200") << FakeResponse::json(200, kServerGuidance) << "";
        QTest::newRow("404") << FakeResponse::json(404, kServerGuidance) << "Server error fetching guidance";
        QTest::newRow("step without isDone")
            << FakeResponse::json(200, R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A"}]})")
            << unreadable("steps[0].isDone", "is missing");
    }

    void fetch()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, error);
        FakeHttpServer server;
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(std::nullopt, QStringLiteral("u"), QStringLiteral("tok")));
        // A failure first, so that a success must also clear the old error.
        server.enqueue(FakeResponse::json(500, ""));
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl())));
        QVERIFY(graph.guidance.lastError());

        server.enqueue(response);
        QSignalSpy loading(&graph.guidance, &GuidanceService::isLoadingChanged);
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl()) + QStringLiteral("/t/")));
        QCOMPARE(loading.count(), 2);
        QCOMPARE(requestMismatch(server.requests().value(1), {"GET", "/t/v1/desktop/guidance", "Bearer tok", std::nullopt}), QString());
        QCOMPARE(graph.guidance.lastErrorText(), error);
        QCOMPARE(graph.guidance.session().title, error.isEmpty() ? QStringLiteral("Acme onboarding") : QStringLiteral("ZaPum assistant"));
        QCOMPARE(graph.environment.lastSyncLabel().startsWith(QLatin1String("Synced ")), error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGuidanceService)
#include "tst_guidance_service.moc"
