#include "backend/auth_client.h"
#include "backend/user_session.h"
#include "support/await_task.h"
#include "support/fake_http_server.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

using namespace std::chrono_literals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

QString apiBase(const FakeHttpServer &server, const QString &path = {})
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(server.port()).arg(path);
}

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
        QTest::addColumn<QVariant>("apiBase");   // null: absent
        QTest::addColumn<QDateTime>("issuedAt");  // invalid: absent

        const QVariant none;
        QTest::newRow("minimal") << QByteArray(R"({"userId":"u","email":"e","accessToken":"t"})") << true << none << QDateTime();
        QTest::newRow("reference seconds")
            << QByteArray("{\"userId\":\"u\",\"email\":\"e\",\"accessToken\":\"t\",\"apiBaseURL\":\"https://a\",\"issuedAt\":762514200.5}")
            << true << QVariant(QStringLiteral("https://a")) << utc(2025, 3, 1, 9, 30, 0).addMSecs(500);
        QTest::newRow("ISO text with Z")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","issuedAt":"2025-03-01T09:30:00Z"})") << true << none
            << utc(2025, 3, 1, 9, 30, 0);
        QTest::newRow("ISO text with offset")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","issuedAt":"2025-03-01T11:30:00+02:00"})") << true
            << none << utc(2025, 3, 1, 9, 30, 0);
        QTest::newRow("ISO text with fraction is not a date")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","issuedAt":"2025-03-01T09:30:00.5Z"})") << true
            << none << QDateTime();
        QTest::newRow("text that is no date")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","issuedAt":"yesterday"})") << true << none << QDateTime();
        QTest::newRow("impossible date")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","issuedAt":"2025-02-30T09:30:00Z"})") << true << none
            << QDateTime();
        QTest::newRow("huge number")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","issuedAt":1e300})") << true << none << QDateTime();
        QTest::newRow("issuedAt of another type")
            << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","issuedAt":[1]})") << true << none << QDateTime();
        QTest::newRow("null apiBaseURL") << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","apiBaseURL":null})")
                                         << true << none << QDateTime();
        QTest::newRow("numeric apiBaseURL") << QByteArray(R"({"userId":"u","email":"e","accessToken":"t","apiBaseURL":1})")
                                            << false << none << QDateTime();
        QTest::newRow("missing token") << QByteArray(R"({"userId":"u","email":"e"})") << false << none << QDateTime();
        QTest::newRow("numeric user id") << QByteArray(R"({"userId":7,"email":"e","accessToken":"t"})") << false << none
                                         << QDateTime();
        QTest::newRow("array") << QByteArray("[]") << false << none << QDateTime();
        QTest::newRow("not JSON") << QByteArray("userId=u") << false << none << QDateTime();
    }

    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QVariant, apiBase);
        QFETCH(QDateTime, issuedAt);
        const std::optional<ZaPumUserSession> session = ZaPumUserSession::fromJsonBytes(json);
        QCOMPARE(session.has_value(), decodes);
        if (!session)
            return;
        QCOMPARE(session->apiBaseURL.has_value(), apiBase.isValid());
        if (apiBase.isValid())
            QCOMPARE(*session->apiBaseURL, apiBase.toString());
        QCOMPARE(session->issuedAt.has_value(), issuedAt.isValid());
        if (issuedAt.isValid())
            QCOMPARE(*session->issuedAt, issuedAt);
    }

    void encodingRoundTrips()
    {
        const ZaPumUserSession local{QStringLiteral("id"), QStringLiteral("a@b.c"), QString(), std::nullopt,
                                     utc(2001, 1, 1, 0, 1, 0)};
        const QJsonObject json = local.toJson();
        QVERIFY(!json.contains(QStringLiteral("apiBaseURL")));
        QCOMPARE(json.value(QStringLiteral("issuedAt")).toDouble(), 60.0);
        QCOMPARE(ZaPumUserSession::fromJsonBytes(local.toJsonBytes()), local);

        ZaPumUserSession remote = local;
        remote.apiBaseURL = QStringLiteral("https://api.example.com");
        remote.issuedAt = QDateTime::currentDateTimeUtc();
        QCOMPARE(ZaPumUserSession::fromJsonBytes(remote.toJsonBytes()), remote);
        // The latest date a date text can name still reads back the same from the stored record.
        remote.issuedAt = parseInternetDateTime(QStringLiteral("9999-12-31T23:59:59-14:00"));
        QVERIFY(remote.issuedAt);
        QCOMPARE(ZaPumUserSession::fromJsonBytes(remote.toJsonBytes()), remote);
        remote.issuedAt.reset();
        QVERIFY(!remote.toJsonBytes().contains("null"));
    }

    void stableUserId()
    {
        const QString id = AuthClient::stableUserId(QStringLiteral("Ada@Example.com"));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(id).hasMatch());
        QCOMPARE(AuthClient::stableUserId(QStringLiteral("  ada@example.COM\n")), id);
        // The first half of SHA-256("ada@example.com").
        QCOMPARE(id, QString::fromLatin1(QCryptographicHash::hash("ada@example.com", QCryptographicHash::Sha256).toHex().left(32)));
        QVERIFY(AuthClient::stableUserId(QStringLiteral("bob@example.com")) != id);
    }

    void localIdentityWithoutRequest()
    {
        AuthClient client;
        const auto before = QDateTime::currentDateTimeUtc();
        const Result<ZaPumUserSession> result =
            awaitTask(client.signIn(QStringLiteral(" \n"), QStringLiteral("  Ada@Example.com "), QStringLiteral(" tok ")));
        QVERIFY(result.ok());
        const ZaPumUserSession &session = result.value();
        QCOMPARE(session.email, QStringLiteral("Ada@Example.com"));
        QCOMPARE(session.userId, AuthClient::stableUserId(QStringLiteral("ada@example.com")));
        QCOMPARE(session.accessToken, QStringLiteral(" tok "));
        QVERIFY(!session.apiBaseURL);
        QVERIFY(session.issuedAt && *session.issuedAt >= before.addMSecs(-1));
    }

    void rejectedBeforeAnyRequest_data()
    {
        QTest::addColumn<QString>("apiBase");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank e-mail with a valid base")
            << "https://api.example.com" << "   " << QStringLiteral("That API URL doesn\u2019t look valid.");
        QTest::newRow("http to a remote host")
            << "http://10.0.0.5:4001" << "a@b.c"
            << "Use https:// for remote APIs. http:// is allowed only for localhost or 127.0.0.1.";
        QTest::newRow("ftp") << "ftp://api.example.com" << "a@b.c" << QStringLiteral("That API URL doesn\u2019t look valid.");
    }

    void rejectedBeforeAnyRequest()
    {
        QFETCH(QString, apiBase);
        QFETCH(QString, email);
        QFETCH(QString, message);
        AuthClient client;
        const Result<ZaPumUserSession> result = awaitTask(client.signIn(apiBase, email, QStringLiteral("t")));
        QVERIFY(!result.ok());
        QCOMPARE(result.failure().message, message);
    }

    void replies_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("error");  // empty: signed in
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QVariant>("apiBaseURL");

        QTest::newRow("full session as sent")
            << FakeResponse::json(200, "{\"userId\":\"srv\",\"email\":\"server@x.y\",\"accessToken\":\"A\",\"apiBaseURL\":\"https://elsewhere\"}")
            << "" << "srv" << QVariant(QStringLiteral("https://elsewhere"));
        QTest::newRow("full session without base")
            << FakeResponse::json(201, R"({"userId":"srv","email":"server@x.y","accessToken":"A"})") << "" << "srv" << QVariant();
        QTest::newRow("short reply completed from the form")
            << FakeResponse::json(200, R"({"userId":"short","accessToken":"A","extra":1})") << "" << "short" << QVariant(QStringLiteral("@BASE@"));
        QTest::newRow("only userId") << FakeResponse::json(200, R"({"userId":"x"})")
                                     << "Could not read the sign-in response." << "" << QVariant();
        QTest::newRow("not JSON") << FakeResponse::json(200, "<html>") << "Could not read the sign-in response." << "" << QVariant();
        QTest::newRow("401") << FakeResponse::json(401, R"({"userId":"x","accessToken":"y"})")
                             << "Server returned HTTP 401. Check URL and credentials." << "" << QVariant();
        QTest::newRow("503") << FakeResponse::json(503, "") << "Server returned HTTP 503. Check URL and credentials." << ""
                             << QVariant();
    }

    void replies()
    {
        QFETCH(FakeResponse, response);
        QFETCH(QString, error);
        QFETCH(QString, userId);
        QFETCH(QVariant, apiBaseURL);

        FakeHttpServer server;
        server.enqueue(response);
        AuthClient client;
        const QString base = apiBase(server, QStringLiteral("/root"));
        const Result<ZaPumUserSession> result =
            awaitTask(client.signIn(QStringLiteral(" ") + base + QStringLiteral(" "), QStringLiteral(" ada@example.com "),
                                    QStringLiteral(" token as typed ")));

        QCOMPARE(server.requestCount(), 1);
        const RecordedRequest request = server.requests().at(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/root/v1/desktop/session"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!request.header("Authorization"));
        QCOMPARE(QJsonDocument::fromJson(request.body).object(),
                 QJsonObject({{QStringLiteral("email"), QStringLiteral("ada@example.com")},
                              {QStringLiteral("token"), QStringLiteral(" token as typed ")}}));

        QCOMPARE(result.ok() ? QString() : result.failure().message, error);
        if (!result.ok())
            return;
        QCOMPARE(result.value().userId, userId);
        const QString expectedBase = apiBaseURL.toString().replace(QStringLiteral("@BASE@"), base);
        QCOMPARE(result.value().apiBaseURL.has_value(), apiBaseURL.isValid());
        if (apiBaseURL.isValid())
            QCOMPARE(*result.value().apiBaseURL, expectedBase);
        if (userId == QLatin1String("short")) {
            QCOMPARE(result.value().email, QStringLiteral("ada@example.com"));
            QVERIFY(result.value().issuedAt.has_value());
        } else {
            QCOMPARE(result.value().email, QStringLiteral("server@x.y"));
            QVERIFY(!result.value().issuedAt.has_value());
        }
    }
};

QTEST_GUILESS_MAIN(TestAuthClient)
#include "tst_auth_client.moc"
