#include "support/await_task.h"
#include "support/backend_graph.h"
#include "support/fake_http_server.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

const QByteArray kServerGuidance = R"({
  "title": "Acme onboarding", "subtitle": "Three steps", "ignored": [1, 2],
  "steps": [
    {"id": "a", "title": "First", "isDone": true},
    {"id": "b", "title": "Second", "detail": null, "isDone": false},
    {"id": "c", "title": "Third", "detail": "More", "isDone": false}
  ],
  "primaryActionLabel": "Go", "primaryActionURL": "not even a URL"
})";

}  // namespace

class TestGuidanceService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void builtInDocument()
    {
        const GuidanceSession &builtIn = MockGuidance::session();
        QCOMPARE(builtIn.title, QStringLiteral("ZaPum assistant"));
        QCOMPARE(builtIn.steps.size(), 3);
        QCOMPARE(builtIn.steps.at(2).id, QStringLiteral("measure"));
        QCOMPARE(builtIn.steps.at(0).detail, QStringLiteral("Point ZaPum at the URL your customers actually use."));
        QCOMPARE(builtIn.primaryActionLabel, QStringLiteral("Open ZaPum dashboard"));
        QCOMPARE(builtIn.primaryActionURL, presetWebBaseUrl(ZaPumEnvironment::Production) + QStringLiteral("/admin"));
        QVERIFY(builtIn != MockGuidance::fallbackSession());
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");  // empty: decodes
        QTest::newRow("server document") << kServerGuidance << "";
        QTest::newRow("empty steps") << QByteArray(R"({"title":"T","subtitle":"S","steps":[]})") << "";
        QTest::newRow("step without isDone")
            << QByteArray(R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A"}]})")
            << QStringLiteral("The guidance could not be read: \u201Csteps[0].isDone\u201D is missing.");
        QTest::newRow("isDone as number")
            << QByteArray(R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A","isDone":1}]})")
            << QStringLiteral("The guidance could not be read: \u201Csteps[0].isDone\u201D has the wrong type.");
        QTest::newRow("step not an object") << QByteArray(R"({"title":"T","subtitle":"S","steps":["a"]})")
                                            << QStringLiteral("The guidance could not be read: \u201Csteps[0]\u201D has the wrong type.");
        QTest::newRow("null steps") << QByteArray(R"({"title":"T","subtitle":"S","steps":null})")
                                    << QStringLiteral("The guidance could not be read: \u201Csteps\u201D has the wrong type.");
        QTest::newRow("missing subtitle") << QByteArray(R"({"title":"T","steps":[]})")
                                          << QStringLiteral("The guidance could not be read: \u201Csubtitle\u201D is missing.");
        QTest::newRow("numeric label") << QByteArray(R"({"title":"T","subtitle":"S","steps":[],"primaryActionLabel":3})")
                                       << QStringLiteral("The guidance could not be read: \u201CprimaryActionLabel\u201D has the wrong type.");
        QTest::newRow("not JSON") << QByteArray("<html>") << "The guidance could not be read: it is not valid JSON.";
    }

    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        const Result<GuidanceSession> decoded = GuidanceSession::fromJsonBytes(json);
        QCOMPARE(decoded.ok() ? QString() : decoded.failure().message, error);
        if (decoded.ok())
            QCOMPARE(GuidanceSession::fromJson(decoded.value().toJson()).value(), decoded.value());
    }

    void usesBuiltInWithoutRequest_data()
    {
        QTest::addColumn<QString>("apiBase");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("token");
        QTest::newRow("empty base") << " " << true << "t";
        QTest::newRow("base that is no URL") << "not a url" << true << "t";
        QTest::newRow("signed out") << "@SERVER@" << false << "t";
        QTest::newRow("empty token") << "@SERVER@" << true << "";
    }

    void usesBuiltInWithoutRequest()
    {
        QFETCH(QString, apiBase);
        QFETCH(bool, signedIn);
        QFETCH(QString, token);
        FakeHttpServer server;
        BackendGraph graph;
        if (signedIn)
            graph.signIn(BackendGraph::userSession(std::nullopt, QStringLiteral("u"), token));
        server.enqueue(FakeResponse::json(200, kServerGuidance));
        QSignalSpy loading(&graph.guidance, &GuidanceService::isLoadingChanged);
        awaitTask(graph.guidance.refreshFromAPI(apiBase.replace(QStringLiteral("@SERVER@"), apiBaseOf(server.baseUrl()))));
        QCOMPARE(server.requestCount(), 0);
        QCOMPARE(graph.guidance.session(), MockGuidance::session());
        QVERIFY(!graph.guidance.lastError());
        QCOMPARE(loading.count(), 0);
        QCOMPARE(graph.environment.lastSyncLabel(), QStringLiteral("Never synced"));
    }

    void fetch_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<bool>("fromServer");
        QTest::addColumn<QString>("error");
        QTest::newRow("200") << FakeResponse::json(200, kServerGuidance) << true << "";
        QTest::newRow("404") << FakeResponse::json(404, kServerGuidance) << false << "Server error fetching guidance";
        QTest::newRow("step without isDone")
            << FakeResponse::json(200, R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A"}]})") << false
            << QStringLiteral("The guidance could not be read: \u201Csteps[0].isDone\u201D is missing.");
    }

    void fetch()
    {
        QFETCH(FakeResponse, response);
        QFETCH(bool, fromServer);
        QFETCH(QString, error);
        FakeHttpServer server;
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(std::nullopt, QStringLiteral("u"), QStringLiteral("tok")));
        // A failure first, so a success must also clear the old error.
        server.enqueue(FakeResponse::json(500, ""));
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl())));
        QVERIFY(graph.guidance.lastError());

        server.enqueue(response);
        QSignalSpy loading(&graph.guidance, &GuidanceService::isLoadingChanged);
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl()) + QStringLiteral("/t/")));
        QCOMPARE(loading.count(), 2);
        QVERIFY(!graph.guidance.isLoading());

        const RecordedRequest request = server.requests().value(1);
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, QByteArray("/t/v1/desktop/guidance"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok"));
        QVERIFY(request.body.isEmpty());

        QCOMPARE(graph.guidance.lastErrorText(), error);
        if (fromServer) {
            QCOMPARE(graph.guidance.session().title, QStringLiteral("Acme onboarding"));
            QCOMPARE(graph.guidance.session().steps.size(), 3);
            QVERIFY(!graph.guidance.session().steps.at(1).detail);
            QVERIFY(graph.environment.lastSyncLabel().startsWith(QLatin1String("Synced ")));
        } else {
            QCOMPARE(graph.guidance.session(), MockGuidance::session());
            QCOMPARE(graph.environment.lastSyncLabel(), QStringLiteral("Never synced"));
        }
    }
};

QTEST_GUILESS_MAIN(TestGuidanceService)
#include "tst_guidance_service.moc"
