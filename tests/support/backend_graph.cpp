#include "support/backend_graph.h"

#include "support/await_task.h"

#include <QJsonDocument>
#include <QUrlQuery>

namespace zapum::test {

BackendGraph::BackendGraph(BackendGraphTimings timings)
    : settings(dir.filePath(QStringLiteral("settings.json"))),
      auth(timings.auth),
      browser(opener, environment, timings.browser),
      sessions(auth, browser, sessionKeychain),
      guidance(sessions, environment, timings.guidance),
      ask(sessions, settings, voiceKeychain, timings.ask),
      memory(sessions, environment, timings.memory),
      remote(sessions, environment, guidance, timings.remote)
{
    sessions.setAccountPanelHooks({[this] { ++panelPresented; }, [this] { ++panelClosed; }});
}

ZaPumUserSession BackendGraph::userSession(const std::optional<QString> &apiBase, const QString &userId,
                                           const QString &token)
{
    return ZaPumUserSession{userId, QStringLiteral("ada@example.com"), token, apiBase, std::nullopt};
}

void BackendGraph::signIn(const ZaPumUserSession &session)
{
    secrets.items.insert(kSessionAccount, session.toJsonBytes());
    sessions.restore();
}

void BackendGraph::signInThroughBrowser(const QString &apiBase, QString query)
{
    auto task = sessions.signInWithBrowser(QString(), apiBase);
    const QString state = QUrlQuery(opener.opened.value(0)).queryItemValue(QStringLiteral("state"));
    browser.handleCallback(QUrl(QStringLiteral("zapum://auth/callback?") + query.replace(QStringLiteral("@STATE@"), state)));
    awaitTask(std::move(task));
}

QString requestMismatch(const RecordedRequest &request, const ExpectedRequest &expected)
{
    QStringList differences;
    const auto differ = [&differences](const char *what, const QByteArray &actual, const QByteArray &wanted) {
        if (actual != wanted)
            differences.append(QStringLiteral("%1: got \"%2\", want \"%3\"")
                                   .arg(QLatin1String(what), QString::fromUtf8(actual), QString::fromUtf8(wanted)));
    };
    const auto header = [&request](const char *name) { return request.header(name).value_or("<none>"); };
    differ("method", request.method, expected.method);
    differ("target", request.target, expected.target);
    differ("Authorization", header("Authorization"), expected.authorization.value_or("<none>"));
    differ("Content-Type", header("Content-Type"), expected.json ? QByteArray("application/json") : QByteArray("<none>"));
    const QByteArray wantedBody = expected.json ? QJsonDocument(*expected.json).toJson(QJsonDocument::Compact) : QByteArray();
    const QJsonDocument body = QJsonDocument::fromJson(request.body);
    differ("body", body.isObject() ? body.toJson(QJsonDocument::Compact) : request.body, wantedBody);
    return differences.join(QLatin1Char('\n'));
}

}  // namespace zapum::test
