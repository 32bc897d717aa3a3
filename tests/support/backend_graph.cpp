#include "support/backend_graph.h"

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

QString apiBaseOf(const QUrl &serverBase)
{
    QString text = serverBase.toString();
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

}  // namespace zapum::test
