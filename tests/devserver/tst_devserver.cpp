// zapum-devserver over real HTTP: what the desktop sends, what it decodes, and what is refused.
#include "support/devserver_process.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QUrlQuery>

using namespace zapum::test;

namespace {

struct Account {
    QString userId;
    QString accessToken;
};

constexpr double kReferenceDate = 978307200.0; // 2001-01-01 in Unix seconds
const QString kState = QStringLiteral("0123456789abcdef0123456789abcdef");

QJsonObject guidanceDocument(const QString &title)
{
    return QJsonObject{{QStringLiteral("title"), title},
                       {QStringLiteral("subtitle"), QStringLiteral("pushed")},
                       {QStringLiteral("steps"), QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("a")},
                                                                        {QStringLiteral("title"), QStringLiteral("A")},
                                                                        {QStringLiteral("isDone"), false}}}}};
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

private:
    DevServerProcess m_server;

    Account signIn(const QString &email, const QString &token)
    {
        const WireReply reply =
            sendJson("POST", m_server.api(QStringLiteral("v1/desktop/session")),
                     QJsonObject{{QStringLiteral("email"), email}, {QStringLiteral("token"), token}});
        return Account{reply.json().value(QStringLiteral("userId")).toString(),
                       reply.json().value(QStringLiteral("accessToken")).toString()};
    }
    Account signInDev() { return signIn(QStringLiteral("dev@zapum.local"), m_server.devToken()); }

    // A further user, made through the admin endpoint; returns its sign-in token.
    QString addUser(const QString &email)
    {
        return sendJson("POST", m_server.web(QStringLiteral("admin/api/users")), {{QStringLiteral("email"), email}})
            .json()
            .value(QStringLiteral("token"))
            .toString();
    }

    // The code the link page hands the browser, read from the redirect it answers with.
    QString mintCode(const QString &state)
    {
        const QString userId = signInDev().userId;
        QUrlQuery form;
        form.addQueryItem(QStringLiteral("state"), state);
        form.addQueryItem(QStringLiteral("redirect"), QStringLiteral("zapum://auth/callback"));
        form.addQueryItem(QStringLiteral("userId"), userId);
        const WireReply reply = sendRequest("POST", m_server.web(QStringLiteral("desktop/link")),
                                            form.toString(QUrl::FullyEncoded).toUtf8(),
                                            {{"Content-Type", "application/x-www-form-urlencoded"}});
        return QUrlQuery(QUrl(QString::fromUtf8(reply.header("Location")))).queryItemValue(QStringLiteral("code"));
    }

    WireReply exchange(const QString &code, const QString &state)
    {
        return sendJson("POST", m_server.api(QStringLiteral("v1/desktop/exchange")),
                        {{QStringLiteral("code"), code}, {QStringLiteral("state"), state}});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_server.start({QStringLiteral("--pairing-ttl"), QStringLiteral("1")}), qPrintable(m_server.output()));
        QVERIFY(!m_server.devToken().isEmpty());
        QVERIFY2(!m_server.output().contains(m_server.devToken()), "the token went to the file, not the output");
    }

    void tokenSignIn_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        const QByteArray token = "\"@TOKEN@\"";
        QTest::newRow("known user") << "{\"email\":\"dev@zapum.local\",\"token\":" + token + "}" << 200;
        QTest::newRow("address in other case, with blanks")
            << "{\"email\":\"  DEV@Zapum.local \",\"token\":" + token + "}" << 200;
        QTest::newRow("token with a trailing blank")
            << QByteArray("{\"email\":\"dev@zapum.local\",\"token\":\"@TOKEN@ \"}") << 401;
        QTest::newRow("wrong token") << QByteArray("{\"email\":\"dev@zapum.local\",\"token\":\"zpt_nope\"}") << 401;
        QTest::newRow("unknown user") << "{\"email\":\"nobody@zapum.local\",\"token\":" + token + "}" << 401;
        QTest::newRow("no token") << QByteArray("{\"email\":\"dev@zapum.local\"}") << 400;
        QTest::newRow("blank e-mail") << "{\"email\":\"  \",\"token\":" + token + "}" << 400;
        QTest::newRow("token a number") << QByteArray("{\"email\":\"dev@zapum.local\",\"token\":5}") << 400;
        QTest::newRow("not JSON") << QByteArray("email=dev") << 400;
        QTest::newRow("a list") << QByteArray("[]") << 400;
    }
    void tokenSignIn()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const double before = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - kReferenceDate;
        const WireReply reply =
            sendRequest("POST", m_server.api(QStringLiteral("v1/desktop/session")),
                        body.replace("@TOKEN@", m_server.devToken().toUtf8()), {{"Content-Type", "application/json"}});
        QCOMPARE(reply.status, status);
        const QJsonObject session = reply.json();
        if (status != 200) {
            QVERIFY2(!reply.error().isEmpty(), reply.body.constData());
            return;
        }
        // The full record the desktop keeps: it takes the reply exactly as sent.
        QCOMPARE(session.value(QStringLiteral("email")).toString(), QStringLiteral("dev@zapum.local"));
        QCOMPARE(session.value(QStringLiteral("userId")).toString().size(), 32);
        QVERIFY(session.value(QStringLiteral("accessToken")).toString().size() >= 32);
        QVERIFY(session.value(QStringLiteral("accessToken")).toString() != m_server.devToken());
        QCOMPARE(session.value(QStringLiteral("apiBaseURL")).toString(),
                 QStringLiteral("http://127.0.0.1:%1").arg(m_server.apiPort()));
        QVERIFY(qAbs(session.value(QStringLiteral("issuedAt")).toDouble() - before) < 30);
    }

    void bearerChecked_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("authorization");
        const QList<QPair<QByteArray, QString>> endpoints{{"GET", QStringLiteral("v1/desktop/guidance")},
                                                          {"POST", QStringLiteral("v1/desktop/ask")},
                                                          {"POST", QStringLiteral("v1/desktop/memory/search")},
                                                          {"POST", QStringLiteral("v1/desktop/memory/remember")},
                                                          {"GET", QStringLiteral("v1/desktop/commands")}};
        for (const auto &[method, path] : endpoints) {
            for (const QByteArray &authorization :
                 {QByteArray(), QByteArray("Bearer "), QByteArray("Bearer zps_forged"), QByteArray("Basic ZGV2Onh4")}) {
                QTest::addRow("%s %s [%s]", method.constData(), qPrintable(path), authorization.constData())
                    << method << path << authorization;
            }
        }
    }
    void bearerChecked()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, authorization);
        RawHeaders headers{{"Content-Type", "application/json"}};
        if (!authorization.isEmpty())
            headers.append({"Authorization", authorization});
        const WireReply reply = sendRequest(method, m_server.api(path), "{\"query\":\"x\"}", headers);
        QCOMPARE(reply.status, 401);
        QVERIFY(!reply.error().isEmpty());
    }

    void browserPairing_data()
    {
        QTest::addColumn<QString>("sentState");
        QTest::addColumn<bool>("useTwice");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errorPart");
        QTest::newRow("fresh code") << kState << false << 0 << 200 << QString();
        QTest::newRow("second use") << kState << true << 0 << 400 << QStringLiteral("already used");
        QTest::newRow("other state") << QStringLiteral("ffff") << false << 0 << 400
                                     << QStringLiteral("another sign-in");
        QTest::newRow("expired") << kState << false << 1300 << 400 << QStringLiteral("expired");
    }
    void browserPairing()
    {
        QFETCH(QString, sentState);
        QFETCH(bool, useTwice);
        QFETCH(int, waitMs);
        QFETCH(int, status);
        QFETCH(QString, errorPart);
        const QString code = mintCode(kState);
        QCOMPARE(code.size(), 32);
        QTest::qWait(waitMs);
        if (useTwice)
            QCOMPARE(exchange(code, kState).status, 200);
        const WireReply reply = exchange(code, sentState);
        QCOMPARE(reply.status, status);
        if (status == 200) {
            QCOMPARE(reply.json().value(QStringLiteral("email")).toString(), QStringLiteral("dev@zapum.local"));
            QVERIFY(reply.json().value(QStringLiteral("apiBaseURL")).isString());
        } else {
            QVERIFY2(reply.error().contains(errorPart), qPrintable(reply.error()));
        }
    }

    void wrongStateUsesUpTheCode()
    {
        const QString code = mintCode(kState);
        QCOMPARE(exchange(code, QStringLiteral("guess")).status, 400);
        QCOMPARE(exchange(code, kState).status, 400);
    }

    void linkPage_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<int>("status");
        const QString app = QStringLiteral("&redirect=zapum://auth/callback");
        QTest::newRow("as the app builds it") << QStringLiteral("state=") + kState + app << QByteArray() << 200;
        QTest::newRow("scheme in capitals")
            << QStringLiteral("state=s1&redirect=ZAPUM://auth/callback") << QByteArray() << 200;
        QTest::newRow("web redirect") << QStringLiteral("state=s1&redirect=https://example.com/cb") << QByteArray()
                                      << 400;
        QTest::newRow("no redirect") << QStringLiteral("state=s1") << QByteArray() << 400;
        QTest::newRow("no state") << app.mid(1) << QByteArray() << 400;
        QTest::newRow("markup in state") << QStringLiteral("state=%3Cb%3E") + app << QByteArray() << 400;
        QTest::newRow("another host name")
            << QStringLiteral("state=s1") + app << QByteArray("rebound.example:3100") << 403;
    }
    void linkPage()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, host);
        QFETCH(int, status);
        RawHeaders headers;
        if (!host.isEmpty())
            headers.append({"Host", host});
        const WireReply reply = sendRequest("GET", m_server.web(QStringLiteral("desktop/link?") + query), {}, headers);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body.contains(">Link this desktop</button>"), status == 200);
    }

    void linkRedirectCarriesCodeAndState()
    {
        QUrlQuery form;
        form.addQueryItem(QStringLiteral("state"), kState);
        form.addQueryItem(QStringLiteral("redirect"), QStringLiteral("zapum://auth/callback?from=web"));
        form.addQueryItem(QStringLiteral("userId"), signInDev().userId);
        const WireReply reply = sendRequest("POST", m_server.web(QStringLiteral("desktop/link")),
                                            form.toString(QUrl::FullyEncoded).toUtf8(),
                                            {{"Content-Type", "application/x-www-form-urlencoded"}});
        QCOMPARE(reply.status, 303);
        const QUrl location(QString::fromUtf8(reply.header("Location")));
        QCOMPARE(location.scheme(), QStringLiteral("zapum"));
        const QUrlQuery query(location);
        QCOMPARE(query.queryItemValue(QStringLiteral("from")), QStringLiteral("web"));
        QCOMPARE(query.queryItemValue(QStringLiteral("state")), kState);
        QCOMPARE(exchange(query.queryItemValue(QStringLiteral("code")), kState).status, 200);
    }

    void guidanceIsPerUser()
    {
        const Account dev = signInDev();
        const Account other = signIn(QStringLiteral("other@zapum.local"), addUser(QStringLiteral("other@zapum.local")));
        QVERIFY(!other.accessToken.isEmpty());
        const QUrl setUrl = m_server.web(QStringLiteral("admin/api/guidance"));
        QCOMPARE(sendJson("POST", setUrl,
                          {{QStringLiteral("user"), QStringLiteral("other@zapum.local")},
                           {QStringLiteral("document"), guidanceDocument(QStringLiteral("Other's"))}})
                     .status,
                 200);

        const QUrl guidance = m_server.api(QStringLiteral("v1/desktop/guidance"));
        const QJsonObject mine = sendJson("GET", guidance, {}, dev.accessToken).json();
        QVERIFY2(mine.value(QStringLiteral("subtitle")).toString().contains(QStringLiteral("dev@zapum.local")),
                 QJsonDocument(mine).toJson().constData());
        for (const QJsonValue &step : mine.value(QStringLiteral("steps")).toArray()) {
            QVERIFY(step[QStringLiteral("id")].isString() && step[QStringLiteral("title")].isString());
            QVERIFY(step[QStringLiteral("isDone")].isBool());
        }
        QCOMPARE(sendJson("GET", guidance, {}, other.accessToken).json(), guidanceDocument(QStringLiteral("Other's")));

        QCOMPARE(sendJson("POST", setUrl,
                          {{QStringLiteral("user"), other.userId}, {QStringLiteral("document"), QJsonValue()}})
                     .status,
                 200);
        QVERIFY(sendJson("GET", guidance, {}, other.accessToken)
                    .json()
                    .value(QStringLiteral("subtitle"))
                    .toString()
                    .contains(QStringLiteral("other@zapum.local")));
    }

    void ask_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<int>("status");
        const auto body = [](const QJsonValue &question, const QJsonValue &userId, const QJsonValue &model) {
            QJsonObject object{{QStringLiteral("userId"), userId}, {QStringLiteral("model"), model}};
            if (!question.isUndefined())
                object.insert(QStringLiteral("question"), question);
            return object;
        };
        QTest::newRow("answered") << body(QStringLiteral("  Where is my invoice?\n"), QStringLiteral("@ME@"),
                                          QStringLiteral("gpt-4.1-nano"))
                                  << 200;
        QTest::newRow("model the picker does not know")
            << body(QStringLiteral("Where is my invoice?"), QStringLiteral("@ME@"), QStringLiteral("my-model")) << 200;
        QTest::newRow("someone else's id")
            << body(QStringLiteral("hi"), QStringLiteral("u2"), QStringLiteral("gpt-4o")) << 403;
        QTest::newRow("blank question") << body(QStringLiteral(" \n"), QStringLiteral("@ME@"), QStringLiteral("gpt-4o"))
                                        << 400;
        QTest::newRow("no question") << body(QJsonValue::Undefined, QStringLiteral("@ME@"), QStringLiteral("gpt-4o"))
                                     << 400;
        QTest::newRow("model not text") << body(QStringLiteral("hi"), QStringLiteral("@ME@"), 4) << 400;
    }
    void ask()
    {
        QFETCH(QJsonObject, body);
        QFETCH(int, status);
        const Account dev = signInDev();
        if (body.value(QStringLiteral("userId")) == QStringLiteral("@ME@"))
            body.insert(QStringLiteral("userId"), dev.userId);
        const WireReply reply = sendJson("POST", m_server.api(QStringLiteral("v1/desktop/ask")), body, dev.accessToken);
        QCOMPARE(reply.status, status);
        if (status != 200) {
            QVERIFY(!reply.error().isEmpty());
            return;
        }
        const QString answer = reply.json().value(QStringLiteral("answer")).toString();
        QVERIFY2(answer.contains(QStringLiteral("\u201CWhere is my invoice?\u201D")), qPrintable(answer));
        QVERIFY2(answer.contains(body.value(QStringLiteral("model")).toString()), qPrintable(answer));
    }

    void memoriesRankedAndPrivate()
    {
        const Account dev = signInDev();
        const QString otherToken = addUser(QStringLiteral("memories@zapum.local"));
        const Account other = signIn(QStringLiteral("memories@zapum.local"), otherToken);
        const QUrl remember = m_server.api(QStringLiteral("v1/desktop/memory/remember"));
        const auto rememberAs = [&remember](const Account &account, const QString &user, const QString &assistant) {
            QJsonArray messages{
                QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), user}}};
            if (!assistant.isEmpty())
                messages.append(QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")},
                                            {QStringLiteral("content"), assistant}});
            return sendJson("POST", remember,
                            {{QStringLiteral("messages"), messages},
                             {QStringLiteral("channel"), QStringLiteral("macos-voice")}},
                            account.accessToken)
                .status;
        };
        QCOMPARE(rememberAs(dev, QStringLiteral("The quarterly report is due on Friday"), QString()), 200);
        QCOMPARE(
            rememberAs(dev, QStringLiteral("My sister lives in Lisbon"), QStringLiteral("Lisbon is lovely in spring.")),
            200);
        QCOMPARE(
            rememberAs(dev, QStringLiteral("I keep the quarterly report and the annual report in Dropbox"), QString()),
            200);
        QCOMPARE(rememberAs(other, QStringLiteral("Another user's quarterly report secret"), QString()), 200);

        const auto search = [this](const Account &account, const QJsonValue &query, const QJsonValue &limit) {
            QJsonObject body{{QStringLiteral("query"), query}};
            if (!limit.isUndefined())
                body.insert(QStringLiteral("limit"), limit);
            return sendJson("POST", m_server.api(QStringLiteral("v1/desktop/memory/search")), body,
                            account.accessToken);
        };
        const auto memories = [](const WireReply &reply) {
            QStringList list;
            for (const QJsonValue &entry : reply.json().value(QStringLiteral("results")).toArray())
                list.append(entry[QStringLiteral("memory")].toString());
            return list;
        };

        // More matching words, and rarer ones, rank higher; other users' memories never show.
        const QStringList ranked = memories(search(dev, QStringLiteral("where is the annual report?"), 6));
        QVERIFY(ranked.size() >= 2);
        QCOMPARE(ranked.mid(0, 2),
                 (QStringList{QStringLiteral("I keep the quarterly report and the annual report in Dropbox"),
                              QStringLiteral("The quarterly report is due on Friday")}));
        QCOMPARE(memories(search(dev, QStringLiteral("reports"), 1)).size(), 1);
        QCOMPARE(memories(search(other, QStringLiteral("report"), 6)),
                 QStringList{QStringLiteral("Another user's quarterly report secret")});
        QCOMPARE(memories(search(dev, QStringLiteral("Lisbon"), QJsonValue::Undefined)).size(), 2);

        // Search syntax typed by a person is only ever words.
        for (const QString &query : {QStringLiteral("\"report"), QStringLiteral("report AND (NOT"), QStringLiteral("*"),
                                     QStringLiteral("   "), QStringLiteral("NEAR(report friday)")}) {
            const WireReply reply = search(dev, query, 6);
            QVERIFY2(reply.status == 200 && reply.json().value(QStringLiteral("results")).isArray(), qPrintable(query));
        }
        for (const QJsonValue &limit :
             {QJsonValue(0), QJsonValue(-1), QJsonValue(2.5), QJsonValue(QStringLiteral("6"))})
            QCOMPARE(search(dev, QStringLiteral("report"), limit).status, 400);
        QCOMPARE(memories(search(dev, QStringLiteral("report"), 1e9)).size(), 2);
        QCOMPARE(search(dev, 7, 6).status, 400);
    }

    void rememberRefusesMalformedMessages_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no messages") << QByteArray("{\"channel\":\"macos-voice\"}");
        QTest::newRow("empty list") << QByteArray("{\"messages\":[]}");
        QTest::newRow("unknown role") << QByteArray("{\"messages\":[{\"role\":\"system\",\"content\":\"x\"}]}");
        QTest::newRow("content not text") << QByteArray("{\"messages\":[{\"role\":\"user\",\"content\":1}]}");
        QTest::newRow("channel not text")
            << QByteArray("{\"messages\":[{\"role\":\"user\",\"content\":\"x\"}],\"channel\":2}");
    }
    void rememberRefusesMalformedMessages()
    {
        QFETCH(QByteArray, body);
        const WireReply reply = sendRequest("POST", m_server.api(QStringLiteral("v1/desktop/memory/remember")), body,
                                            {{"Authorization", "Bearer " + signInDev().accessToken.toUtf8()}});
        QCOMPARE(reply.status, 400);
        QVERIFY(!reply.error().isEmpty());
    }

    void pushedGuidanceIsDeliveredOnce()
    {
        const Account dev = signInDev();
        const QUrl push = m_server.web(QStringLiteral("admin/api/push-guidance"));
        QJsonObject first = guidanceDocument(QStringLiteral("First"));
        first.insert(QStringLiteral("extra"), QJsonObject{{QStringLiteral("n"), 2},
                                                          {QStringLiteral("t"), QStringLiteral("2")},
                                                          {QStringLiteral("x"), 2.5},
                                                          {QStringLiteral("b"), true},
                                                          {QStringLiteral("z"), QJsonValue()},
                                                          {QStringLiteral("l"), QJsonArray{3, QStringLiteral("a")}}});
        QCOMPARE(
            sendJson("POST", push,
                     {{QStringLiteral("user"), QStringLiteral("dev@zapum.local")}, {QStringLiteral("document"), first}})
                .status,
            202);
        QCOMPARE(sendJson("POST", push,
                          {{QStringLiteral("user"), dev.userId},
                           {QStringLiteral("document"), guidanceDocument(QStringLiteral("Second"))}})
                     .status,
                 202);

        const QUrl commands = m_server.api(QStringLiteral("v1/desktop/commands"));
        const QJsonObject wire = sendJson("GET", commands, {}, dev.accessToken).json();
        QCOMPARE(wire.value(QStringLiteral("userId")).toString(), dev.userId);
        const QJsonArray list = wire.value(QStringLiteral("commands")).toArray();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0)[QStringLiteral("type")].toString(), QStringLiteral("push-guidance"));
        QCOMPARE(list.at(0)[QStringLiteral("payload")].toObject(), first);
        QCOMPARE(list.at(1)[QStringLiteral("payload")][QStringLiteral("title")].toString(), QStringLiteral("Second"));
        QCOMPARE(
            sendJson("GET", commands, {}, dev.accessToken).json().value(QStringLiteral("commands")).toArray().size(),
            0);
    }

    void adminRefusals_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<RawHeaders>("headers");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("errorPart");
        const RawHeaders json{{"Content-Type", "application/json"}};
        const QByteArray good = "{\"user\":\"dev@zapum.local\",\"document\":" +
                                QJsonDocument(guidanceDocument(QStringLiteral("T"))).toJson(QJsonDocument::Compact) +
                                "}";
        const QString push = QStringLiteral("admin/api/push-guidance");
        QTest::newRow("step without isDone")
            << push
            << QByteArray("{\"user\":\"dev@zapum.local\",\"document\":{\"title\":\"T\",\"subtitle\":\"S\","
                          "\"steps\":[{\"id\":\"a\",\"title\":\"A\"}]}}")
            << json << 400 << QStringLiteral("steps[0].isDone");
        QTest::newRow("steps null") << push
                                    << QByteArray("{\"user\":\"dev@zapum.local\",\"document\":{\"title\":\"T\","
                                                  "\"subtitle\":\"S\",\"steps\":null}}")
                                    << json << 400 << QStringLiteral("document.steps");
        QTest::newRow("label a number") << push
                                        << QByteArray("{\"user\":\"dev@zapum.local\",\"document\":{\"title\":\"T\","
                                                      "\"subtitle\":\"S\",\"steps\":[],\"primaryActionLabel\":1}}")
                                        << json << 400 << QStringLiteral("primaryActionLabel");
        QTest::newRow("unknown user") << push << QByteArray(good).replace("dev@", "ghost@") << json << 404
                                      << QStringLiteral("ghost@zapum.local");
        QTest::newRow("form post from a page")
            << push << QByteArray("user=dev") << RawHeaders{{"Content-Type", "application/x-www-form-urlencoded"}}
            << 415 << QStringLiteral("JSON");
        QTest::newRow("another site's page")
            << push << good << RawHeaders{{"Content-Type", "application/json"}, {"Origin", "https://evil.example"}}
            << 403 << QStringLiteral("other sites");
        QTest::newRow("user already there")
            << QStringLiteral("admin/api/users") << QByteArray("{\"email\":\"DEV@zapum.local\"}") << json << 409
            << QStringLiteral("already");
        QTest::newRow("not an address") << QStringLiteral("admin/api/users") << QByteArray("{\"email\":\"dev\"}")
                                        << json << 400 << QStringLiteral("e-mail");
    }
    void adminRefusals()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(RawHeaders, headers);
        QFETCH(int, status);
        QFETCH(QString, errorPart);
        const WireReply reply = sendRequest("POST", m_server.web(path), body, headers);
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.error().contains(errorPart), qPrintable(reply.error()));
        if (path.contains(QLatin1String("push"))) {
            const QJsonObject wire =
                sendJson("GET", m_server.api(QStringLiteral("v1/desktop/commands")), {}, signInDev().accessToken)
                    .json();
            QVERIFY(wire.value(QStringLiteral("commands")).toArray().isEmpty());
        }
    }

    void unknownEndpointAndOversizedBodyAnswerJson()
    {
        const WireReply missing = sendRequest("GET", m_server.api(QStringLiteral("v1/desktop/nothing")));
        QCOMPARE(missing.status, 404);
        QVERIFY(!missing.error().isEmpty());
        const WireReply huge = sendRequest("POST", m_server.api(QStringLiteral("v1/desktop/session")),
                                           QByteArray(2 * 1024 * 1024, 'x'), {{"Content-Type", "application/json"}});
        QCOMPARE(huge.status, 413);
        QVERIFY(!huge.error().isEmpty());
    }

    // Last: restarts the server on the same data file.
    void dataSurvivesARestartAndStaysPrivate()
    {
        const Account dev = signInDev();
        QCOMPARE(m_server.stop(), 0);
        QCOMPARE(QFileInfo(m_server.dataFile()).permissions() & (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        const QByteArray stored = [this] {
            QFile file(m_server.dataFile());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        QVERIFY(!stored.isEmpty());
        QVERIFY2(!stored.contains(dev.accessToken.toUtf8()) && !stored.contains(m_server.devToken().toUtf8()),
                 "credentials are kept only as digests");

        QVERIFY2(m_server.start(), qPrintable(m_server.output()));
        QVERIFY2(!m_server.output().contains(QLatin1String("Created the user")), "the first user is made once");
        QCOMPARE(sendJson("GET", m_server.api(QStringLiteral("v1/desktop/guidance")), {}, dev.accessToken).status, 200);
    }

    void refusesBadStarts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("messagePart");
        QTest::newRow("port taken") << QStringList{QStringLiteral("--api-port"), QStringLiteral("@TAKEN@")} << 1
                                    << QStringLiteral("--api-port");
        QTest::newRow("port out of range")
            << QStringList{QStringLiteral("--web-port"), QStringLiteral("70000")} << 2 << QStringLiteral("0 to 65535");
        QTest::newRow("same ports") << QStringList{QStringLiteral("--api-port"), QStringLiteral("5000"),
                                                   QStringLiteral("--web-port"), QStringLiteral("5000")}
                                    << 2 << QStringLiteral("different ports");
        QTest::newRow("data file not SQLite") << QStringList{QStringLiteral("--data"), QStringLiteral("@JUNK@")} << 1
                                              << QStringLiteral("not a usable data file");
    }
    void refusesBadStarts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, messagePart);
        QTemporaryDir dir;
        QFile junk(dir.filePath(QStringLiteral("junk.sqlite3")));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(4096, 'j')) == 4096);
        junk.close();
        arguments.replaceInStrings(QStringLiteral("@TAKEN@"), QString::number(m_server.apiPort()));
        arguments.replaceInStrings(QStringLiteral("@JUNK@"), junk.fileName());
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(devServerBinary(),
                      QStringList{QStringLiteral("--data"), dir.filePath(QStringLiteral("d.sqlite3")),
                                  QStringLiteral("--api-port"), QStringLiteral("0"), QStringLiteral("--web-port"),
                                  QStringLiteral("0")} +
                          arguments);
        QVERIFY(process.waitForFinished(10000));
        const QString output = QString::fromUtf8(process.readAll());
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY2(output.contains(messagePart), qPrintable(output));
        QCOMPARE(junk.size(), 4096); // a file that is not ours is left as it was
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
