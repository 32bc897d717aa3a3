#include "backend/auth_client.h"
#include "support/await_task.h"
#include "support/backend_graph.h"

#include <QCryptographicHash>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace zapum;
using namespace zapum::test;

Q_DECLARE_METATYPE(zapum::test::FakeResponse)

namespace {

const QDateTime kHalfPastNine(QDate(2025, 3, 1), QTime(9, 30), Qt::UTC);

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
        QTest::newRow("reference seconds") << head + R"(,"issuedAt":762514200.5})" << true << kHalfPastNine.addMSecs(500);
        QTest::newRow("date text with offset") << head + R"(,"issuedAt":"2025-03-01T11:30:00+02:00"})" << true << kHalfPastNine;
        QTest::newRow("fractional seconds are not accepted") << head + R"(,"issuedAt":"2025-03-01T09:30:00.5Z"})" << true
                                                             << QDateTime();
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
        ZaPumUserSession session{u"id"_s, u"a@b.c"_s, QString(), std::nullopt,
                                 QDateTime(QDate(2001, 1, 1), QTime(0, 1), Qt::UTC)};
        QCOMPARE(session.toJsonBytes(), QByteArray(R"({"accessToken":"","email":"a@b.c","issuedAt":60,"userId":"id"})"));
        session.apiBaseURL = u"https://api.example.com"_s;
        // The latest date a date text can name still reads back the same from the stored record.
        session.issuedAt = parseInternetDateTime(u"9999-12-31T23:59:59-14:00"_s);
        QCOMPARE(ZaPumUserSession::fromJsonBytes(session.toJsonBytes()), session);
    }

    void localIdentityWithoutRequest()
    {
        AuthClient client;
        const Result<ZaPumUserSession> result = awaitTask(client.signIn(u" \n"_s, u"  Ada@Example.com "_s, u" tok "_s));
        QVERIFY(result.ok() && result.value().issuedAt);
        // The first half of SHA-256 over the address in lower case, so the id survives a reinstall.
        const QString id = QString::fromLatin1(QCryptographicHash::hash("ada@example.com", QCryptographicHash::Sha256).toHex().left(32));
        QCOMPARE(result.value(), (ZaPumUserSession{id, u"Ada@Example.com"_s, u" tok "_s, std::nullopt, result.value().issuedAt}));
    }

    void replies_data()
    {
        QTest::addColumn<FakeResponse>("response");
        QTest::addColumn<QString>("outcome");  // the user id, or the failure
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("apiBaseURL");  // "-": absent, "@": as typed
        QTest::newRow("full session as sent")  // no raw string: moc reads its "//" as a comment
            << FakeResponse::json(200, "{\"userId\":\"srv\",\"email\":\"s@x.y\",\"accessToken\":\"A\",\"apiBaseURL\":\"https://elsewhere\"}")
            << "srv" << "s@x.y" << "https://elsewhere";
        QTest::newRow("short reply completed from the form")
            << FakeResponse::json(201, R"({"userId":"short","accessToken":"A"})") << "short" << "ada@example.com" << "@";
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
        const QString base = apiBaseOf(server.baseUrl()) + u"/root"_s;
        const Result<ZaPumUserSession> result =
            awaitTask(client.signIn(u" "_s + base + u" "_s, u" ada@example.com "_s,
                                    u" token as typed "_s));

        const QJsonObject body{{u"email"_s, u"ada@example.com"_s},
                               {u"token"_s, u" token as typed "_s}};
        QCOMPARE(requestMismatch(server.requests().value(0), {"POST", "/root/v1/desktop/session", std::nullopt, body}), QString());
        QCOMPARE(result.ok() ? result.value().userId : result.failure().message, outcome);
        if (!result.ok())
            return;
        QCOMPARE(result.value().email, email);
        QCOMPARE(result.value().apiBaseURL.value_or(u"-"_s), apiBaseURL == QLatin1String("@") ? base : apiBaseURL);
    }
};

QTEST_GUILESS_MAIN(TestAuthClient)
#include "tst_auth_client.moc"
