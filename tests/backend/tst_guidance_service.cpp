#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

namespace {

const QByteArray kServerGuidance = R"({"title": "Acme onboarding", "subtitle": "Three steps", "ignored": [1, 2],
  "steps": [{"id": "a", "title": "First", "isDone": true}, {"id": "b", "title": "Second", "detail": null, "isDone": false}],
  "primaryActionLabel": "Go", "primaryActionURL": "not even a URL"})";

}  // namespace

class TestGuidanceService : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");  // empty: decodes
        QTest::newRow("server document") << kServerGuidance << "";
        QTest::newRow("step without isDone") << QByteArray(R"({"title":"T","subtitle":"S","steps":[{"id":"a","title":"A"}]})")
                                             << u"The guidance could not be read: \u201Csteps[0].isDone\u201D is missing."_s;
        QTest::newRow("null steps") << QByteArray(R"({"title":"T","subtitle":"S","steps":null})")
                                    << u"The guidance could not be read: \u201Csteps\u201D has the wrong type."_s;
        QTest::newRow("not JSON") << QByteArray("<html>") << "The guidance could not be read: it is not valid JSON.";
    }

    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        const Result<GuidanceSession> decoded = GuidanceSession::fromJsonBytes(json);
        QCOMPARE(decoded.ok() ? QString() : decoded.failure().message, error);
    }

    void fetch_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");  // empty: the server's document is shown
        QTest::newRow("200") << 200 << "";
        QTest::newRow("404") << 404 << "Server error fetching guidance";
    }

    void fetch()
    {
        QFETCH(int, status);
        QFETCH(QString, error);
        FakeHttpServer server;
        BackendGraph graph;
        graph.signIn(BackendGraph::userSession(std::nullopt, u"u"_s, u"tok"_s));
        // A failure first, so that a success must also clear the old error.
        server.enqueue(FakeResponse::json(500, ""));
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl())));
        QVERIFY(graph.guidance.lastError());

        server.enqueue(FakeResponse::json(status, kServerGuidance));
        QSignalSpy loading(&graph.guidance, &GuidanceService::isLoadingChanged);
        awaitTask(graph.guidance.refreshFromAPI(apiBaseOf(server.baseUrl()) + u"/t/"_s));
        QCOMPARE(loading.count(), 2);
        QCOMPARE(requestMismatch(server.requests().value(1), {"GET", "/t/v1/desktop/guidance", "Bearer tok", std::nullopt}), QString());
        QCOMPARE(graph.guidance.lastErrorText(), error);
        QCOMPARE(graph.guidance.session().title, error.isEmpty() ? u"Acme onboarding"_s : u"ZaPum assistant"_s);
        QCOMPARE(graph.environment.lastSyncLabel().startsWith(QLatin1String("Synced ")), error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGuidanceService)
#include "tst_guidance_service.moc"
