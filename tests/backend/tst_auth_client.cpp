#include "backend/auth_client.h"
#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QCryptographicHash>
#include <QTest>

using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

}  // namespace

class TestAuthClient : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QDateTime>("issuedAt");  // invalid: absent
        const QByteArray head = R"({"userId":"u","email":"e","accessToken":"t")";
        QTest::newRow("reference seconds") << head + R"(,"issuedAt":762514200.5})" << true
                                           << utc(2025, 3, 1, 9, 30, 0).addMSecs(500);
        QTest::newRow("date text") << head + R"(,"issuedAt":"2025-03-01T09:30:00Z"})" << true << utc(2025, 3, 1, 9, 30, 0);
        QTest::newRow("date text with offset") << head + R"(,"issuedAt":"2025-03-01T11:30:00+02:00"})" << true
                                               << utc(2025, 3, 1, 9, 30, 0);
        QTest::newRow("fractional seconds are not accepted") << head + R"(,"issuedAt":"2025-03-01T09:30:00.5Z"})" << true
                                                             << QDateTime();
        QTest::newRow("text that is no date") << head + R"(,"issuedAt":"yesterday"})" << true << QDateTime();
        QTest::newRow("null apiBaseURL") << head + R"(,"apiBaseURL":null})" << true << QDateTime();
        QTest::newRow("numeric apiBaseURL") << head + R"(,"apiBaseURL":1})" << false << QDateTime();
        QTest::newRow("missing token") << QByteArray(R"({"userId":"u","email":"e"})") << false << QDateTime();
        QTest::newRow("not JSON") << QByteArray("userId=u") << false << QDateTime();
    }

    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QDateTime, issuedAt);
        const std::optional<ZaPumUserSession> session = ZaPumUserSession::fromJsonBytes(json);
        QCOMPARE(session.has_value(), decodes);
        if (session)
            QCOMPARE(session->issuedAt.value_or(QDateTime()), issuedAt);
    }

    void encodingRoundTrips()
    {
        ZaPumUserSession session{QStringLiteral("id"), QStringLiteral("a@b.c"), QString(), std::nullopt, utc(2001, 1, 1, 0, 1, 0)};
        QCOMPARE(session.toJsonBytes(), QByteArray(R"({"accessToken":"","email":"a@b.c","issuedAt":60,"userId":"id"})"));
        session.apiBaseURL = QStringLiteral("https://api.example.com");
        // The latest date a date text can name still reads back the same from the stored record.
        session.issuedAt = parseInternetDateTime(QStringLiteral("9999-12-31T23:59:59-14:00"));
        QCOMPARE(ZaPumUserSession::fromJsonBytes(session.toJsonBytes()), session);
    }

    void localIdentityWithoutRequest()
    {
        AuthClient client;
        const Result<ZaPumUserSession> result =
            awaitTask(client.signIn(QStringLiteral(" \n"), QStringLiteral("  Ada@Example.com "), QStringLiteral(" tok ")));
        QVERIFY(result.ok());
        const ZaPumUserSession &session = result.value();
        QCOMPARE(session.email, QStringLiteral("Ada@Example.com"));
        // The first half of SHA-256 over the address in lower case.
        QCOMPARE(session.userId,
                 QString::fromLatin1(QCryptographicHash::hash("ada@example.com", QCryptographicHash::Sha256).toHex().left(32)));
        QCOMPARE(session.accessToken, QStringLiteral(" tok "));
        QVERIFY(!session.apiBaseURL && session.issuedAt);
    }

    void rejectedBeforeAnyRequest_data()
    {
        QTest::addColumn<QString>("apiBase");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank e-mail") << "https://api.example.com" << "   " << QStringLiteral("That API URL doesn\u2019t look valid.");
        QTest::newRow("http to a remote host") << "http://10.0.0.5:4001" << "a@b.c" << requiresHttpsSentence();
    }

    void rejectedBeforeAnyRequest()
    {
        QFETCH(QString, apiBase);
        QFETCH(QString, email);
        QFETCH(QString, message);
        AuthClient client;
        const Result<ZaPumUserSession> result = awaitTask(client.signIn(apiBase, email, QStringLiteral("t")));
        QCOMPARE(result.ok() ? QString() : result.failure().message, message);
    }

    void replies_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("outcome");  // the user id, or the failure
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("apiBaseURL");  // "-": absent, "@": as typed
        QTest::newRow("full session as sent")
            << FakeResponse::json(200, "{\"userId\":\"srv\",\"email\":\"s@x.y\",\"accessToken\":\"A\",\"apiBaseURL\":\"https://elsewhere\"}")
            << "srv" << "s@x.y" << "https://elsewhere";
        QTest::newRow("full session without base") << FakeResponse::json(201, R"({"userId":"srv","email":"s@x.y","accessToken":"A"})")
                                                   << "srv" << "s@x.y" << "-";
        QTest::newRow("short reply completed from the form")
            << FakeResponse::json(200, R"({"userId":"short","accessToken":"A"})") << "short" << "ada@example.com" << "@";
        QTest::newRow("only userId") << FakeResponse::json(200, R"({"userId":"x"})") << "Could not read the sign-in response."
                                     << "" << "";
        QTest::newRow("401") << FakeResponse::json(401, R"({"userId":"x","accessToken":"y"})")
                             << "Server returned HTTP 401. Check URL and credentials." << "" << "";
    }

    void replies()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, outcome);
        QFETCH(QString, email);
        QFETCH(QString, apiBaseURL);
        FakeHttpServer server;
        server.enqueue(response);
        AuthClient client;
        const QString base = apiBaseOf(server.baseUrl()) + QStringLiteral("/root");
        const Result<ZaPumUserSession> result =
            awaitTask(client.signIn(QStringLiteral(" ") + base + QStringLiteral(" "), QStringLiteral(" ada@example.com "),
                                    QStringLiteral(" token as typed ")));

        const QJsonObject body{{QStringLiteral("email"), QStringLiteral("ada@example.com")},
                               {QStringLiteral("token"), QStringLiteral(" token as typed ")}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/root/v1/desktop/session", std::nullopt, body}), QString());
        QCOMPARE(result.ok() ? result.value().userId : result.failure().message, outcome);
        if (!result.ok())
            return;
        QCOMPARE(result.value().email, email);
        QCOMPARE(result.value().apiBaseURL.value_or(QStringLiteral("-")), apiBaseURL == QLatin1String("@") ? base : apiBaseURL);
    }
};

QTEST_GUILESS_MAIN(TestAuthClient)
#include "tst_auth_client.moc"
