// The web side: the browser link page and the admin page with its JSON endpoints.
#include "dev_server.h"
#include "guidance_document.h"
#include "http_util.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>

namespace zapum::devserver {
namespace {

constexpr auto kStyle = R"css(
body { font: 15px/1.45 system-ui, sans-serif; margin: 0; background: #f6f4ee; color: #222; }
main { max-width: 34rem; margin: 3rem auto; padding: 1.5rem 2rem; background: #fff; border-radius: 12px;
       box-shadow: 0 2px 12px rgba(0,0,0,.08); }
h1 { font-size: 1.4rem; margin-top: 0; }
button { font: inherit; padding: .55rem 1.2rem; border: 0; border-radius: 8px; background: #f2b705; cursor: pointer; }
select, input, textarea { font: inherit; width: 100%; box-sizing: border-box; margin: .3rem 0 .8rem; }
textarea { font-family: ui-monospace, monospace; font-size: 13px; }
.note { color: #666; font-size: .85rem; }
.error { color: #a00; }
pre { white-space: pre-wrap; background: #f3f3f3; padding: .5rem; border-radius: 6px; }
)css";

std::string page(const QString &title, const QString &body)
{
    return (QStringLiteral(
                "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                "<title>%1 \u2014 ZaPum</title><style>%2</style></head>\n<body><main>\n%3\n</main></body></html>\n")
                .arg(title.toHtmlEscaped(), QLatin1String(kStyle), body))
        .toStdString();
}

void sendPage(httplib::Response &response, int status, const QString &title, const QString &body)
{
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    // Not "no-referrer": that makes the browser send "Origin: null" with the form, which the
    // origin check then has to refuse.
    response.set_header("Referrer-Policy", "same-origin");
    response.set_header("X-Frame-Options", "DENY");
    response.set_content(page(title, body), "text/html; charset=utf-8");
}

void sendPageError(httplib::Response &response, int status, const QString &message)
{
    sendPage(response, status, QStringLiteral("Cannot link"),
             QStringLiteral("<h1>Cannot link this desktop</h1><p class=\"error\">%1</p>").arg(message.toHtmlEscaped()));
}

// The state is the app's own random text; anything else in it is not from the app.
bool isPlausibleState(const QString &state)
{
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9_-]{1,128}$"));
    return shape.match(state).hasMatch();
}

// The code goes wherever `redirect` says, so only the app's own scheme may receive it: an http
// redirect would hand a working sign-in to any web site that crafted the link.
bool isAppRedirect(const QString &redirect)
{
    const QUrl url(redirect, QUrl::StrictMode);
    return url.isValid() && url.scheme().toLower() == QLatin1String("zapum");
}

struct LinkParameters {
    QString state;
    QString redirect;
};

// The state and redirect of a link request (query or form); on failure answers with a page that
// says what is wrong.
std::optional<LinkParameters> linkParameters(const httplib::Request &request, httplib::Response &response)
{
    LinkParameters link{QString::fromStdString(request.get_param_value("state")),
                        QString::fromStdString(request.get_param_value("redirect"))};
    if (!isPlausibleState(link.state)) {
        sendPageError(response, 400,
                      QStringLiteral("This link has no valid state. Start the sign-in again from the ZaPum app."));
        return std::nullopt;
    }
    if (!isAppRedirect(link.redirect)) {
        sendPageError(response, 400,
                      QStringLiteral("This link may only send you back to the ZaPum app (a zapum:// address)."));
        return std::nullopt;
    }
    return link;
}

QString withQuery(const QString &redirect, const QString &code, const QString &state)
{
    const auto encoded = [](const QString &value) { return QString::fromLatin1(QUrl::toPercentEncoding(value)); };
    const QChar separator = redirect.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
    return redirect + separator + QStringLiteral("code=") + encoded(code) + QStringLiteral("&state=") + encoded(state);
}

bool isPlausibleEmail(const QString &email)
{
    static const QRegularExpression shape(QStringLiteral("^[^\\s@]+@[^\\s@]+$"));
    return email.size() <= 254 && shape.match(email).hasMatch();
}

QJsonArray usersJson(const QList<User> &users)
{
    QJsonArray list;
    for (const User &user : users)
        list.append(QJsonObject{{QStringLiteral("userId"), user.id}, {QStringLiteral("email"), user.email}});
    return list;
}

const char kAdminBody[] = R"html(
<h1>ZaPum dev server admin</h1>
<h2>Users</h2>
<ul id="users">@USERS@</ul>
<form id="add-user"><label>New user's e-mail <input name="email" type="email" required></label>
<button type="submit">Add user</button></form>
<h2>Guidance</h2>
<form id="guidance">
<label>User <select name="user">@OPTIONS@</select></label>
<label>Guidance document (JSON)<textarea name="document" rows="14">@EXAMPLE@</textarea></label>
<button type="submit" name="action" value="push">Push to the desktop</button>
<button type="submit" name="action" value="set">Set as this user's guidance</button>
</form>
<pre id="result" aria-live="polite"></pre>
<script>
const result = document.getElementById('result');
async function call(path, body) {
  const reply = await fetch(path, {method: 'POST', headers: {'Content-Type': 'application/json'},
                                   body: JSON.stringify(body)});
  const data = await reply.json().catch(() => ({error: 'The server sent no JSON.'}));
  result.textContent = reply.ok ? JSON.stringify(data, null, 2) : (data.error || ('HTTP ' + reply.status));
  result.className = reply.ok ? '' : 'error';
  return reply.ok;
}
document.getElementById('add-user').addEventListener('submit', async (event) => {
  event.preventDefault();
  await call('/admin/api/users', {email: event.target.email.value});
});
document.getElementById('guidance').addEventListener('submit', async (event) => {
  event.preventDefault();
  let documentValue;
  try { documentValue = JSON.parse(event.target.document.value); }
  catch (error) { result.textContent = 'The document is not valid JSON: ' + error.message; result.className = 'error'; return; }
  const path = event.submitter.value === 'push' ? '/admin/api/push-guidance' : '/admin/api/guidance';
  await call(path, {user: event.target.user.value, document: documentValue});
});
</script>
<p class="note">Pushed documents reach the desktop at its next command poll.</p>
)html";

} // namespace

bool DevServer::isOwnSiteRequest(const httplib::Request &request, httplib::Response &response) const
{
    const QString host = header(request, "Host");
    const QString origin = header(request, "Origin");
    if (!isLoopbackAuthority(host)) {
        sendError(response, 403, QStringLiteral("This server answers only requests addressed to localhost."));
        return false;
    }
    if (request.has_header("Origin") && origin.compare(QStringLiteral("http://") + host, Qt::CaseInsensitive) != 0) {
        sendError(response, 403, QStringLiteral("Requests from other sites' pages are refused."));
        return false;
    }
    return true;
}

std::optional<User> DevServer::userNamedIn(const QJsonObject &body, httplib::Response &response)
{
    const QJsonValue named = body.value(QStringLiteral("user"));
    if (!named.isString() || named.toString().trimmed().isEmpty()) {
        sendError(response, 400, QStringLiteral("user must be a user's e-mail address or id."));
        return std::nullopt;
    }
    const QString key = named.toString().trimmed();
    std::optional<User> user = m_store.userById(key);
    if (!user)
        user = m_store.userByEmail(key);
    if (!user)
        sendError(response, 404, QStringLiteral("There is no user \u201C%1\u201D.").arg(key));
    return user;
}

void DevServer::addWebRoutes()
{
    m_web.Get("/desktop/link", [this](const httplib::Request &request, httplib::Response &response) {
        if (!isOwnSiteRequest(request, response))
            return;
        const std::optional<LinkParameters> link = linkParameters(request, response);
        if (!link)
            return;
        QString options;
        for (const User &user : m_store.users()) {
            options += QStringLiteral("<option value=\"%1\">%2</option>")
                           .arg(user.id.toHtmlEscaped(), user.email.toHtmlEscaped());
        }
        const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(m_timings.pairingLifetime).count();
        sendPage(
            response, 200, QStringLiteral("Link this desktop"),
            QStringLiteral("<h1>Link this desktop</h1>\n"
                           "<p>The ZaPum app on this computer asks to sign in. Choose the account it should use.</p>\n"
                           "<form method=\"post\" action=\"/desktop/link\">\n"
                           "<input type=\"hidden\" name=\"state\" value=\"%1\">\n"
                           "<input type=\"hidden\" name=\"redirect\" value=\"%2\">\n"
                           "<label>Account <select name=\"userId\">%3</select></label>\n"
                           "<button type=\"submit\" id=\"link\">Link this desktop</button>\n</form>\n"
                           "<p class=\"note\">Served by zapum-devserver. The app gets a one-time code that "
                           "works for %4 minutes.</p>")
                .arg(link->state.toHtmlEscaped(), link->redirect.toHtmlEscaped(), options,
                     QString::number(qMax<qint64>(1, minutes))));
    });

    m_web.Post("/desktop/link", [this](const httplib::Request &request, httplib::Response &response) {
        if (!isOwnSiteRequest(request, response))
            return;
        const std::optional<LinkParameters> link = linkParameters(request, response);
        if (!link)
            return;
        const std::optional<User> user = m_store.userById(QString::fromStdString(request.get_param_value("userId")));
        if (!user) {
            sendPageError(response, 400, QStringLiteral("Choose one of the accounts on the page."));
            return;
        }
        const double now = unixNow();
        const double lifetime = double(m_timings.pairingLifetime.count()) / 1000.0;
        const QString code = m_store.createPairingCode(user->id, link->state, now + lifetime, now);
        if (code.isEmpty())
            throw std::runtime_error("pairing code not stored");
        response.status = 303;
        response.set_header("Cache-Control", "no-store");
        response.set_header("Referrer-Policy", "no-referrer");
        response.set_header("Location", withQuery(link->redirect, code, link->state).toStdString());
    });
}

void DevServer::addAdminRoutes()
{
    m_web.Get("/admin", [this](const httplib::Request &request, httplib::Response &response) {
        if (!isOwnSiteRequest(request, response))
            return;
        QString items;
        QString options;
        for (const User &user : m_store.users()) {
            items += QStringLiteral("<li>%1 <span class=\"note\">%2</span></li>")
                         .arg(user.email.toHtmlEscaped(), user.id.toHtmlEscaped());
            options += QStringLiteral("<option value=\"%1\">%2</option>")
                           .arg(user.id.toHtmlEscaped(), user.email.toHtmlEscaped());
        }
        const QString example = QString::fromUtf8(
            QJsonDocument(defaultGuidance(QStringLiteral("you"), webBase())).toJson(QJsonDocument::Indented));
        sendPage(response, 200, QStringLiteral("Admin"),
                 QString::fromUtf8(kAdminBody)
                     .replace(QLatin1String("@USERS@"), items)
                     .replace(QLatin1String("@OPTIONS@"), options)
                     .replace(QLatin1String("@EXAMPLE@"), example.toHtmlEscaped()));
    });

    m_web.Get("/admin/api/users", [this](const httplib::Request &request, httplib::Response &response) {
        if (!isOwnSiteRequest(request, response))
            return;
        sendJson(response, 200, QJsonObject{{QStringLiteral("users"), usersJson(m_store.users())}});
    });

    // Every admin change takes JSON only: another site's page cannot send that to us without a
    // CORS preflight, which this server never grants, so a visited page cannot push guidance.
    const auto adminPost = [this](const char *path, auto handler) {
        m_web.Post(path, [this, handler](const httplib::Request &request, httplib::Response &response) {
            if (!isOwnSiteRequest(request, response))
                return;
            if (!request.get_header_value("Content-Type").starts_with("application/json")) {
                sendError(response, 415, QStringLiteral("Send JSON with Content-Type: application/json."));
                return;
            }
            if (const std::optional<QJsonObject> body = jsonBody(request, response))
                handler(*body, response);
        });
    };

    adminPost("/admin/api/users", [this](const QJsonObject &body, httplib::Response &response) {
        const QString email = body.value(QStringLiteral("email")).toString().trimmed();
        if (!isPlausibleEmail(email)) {
            sendError(response, 400, QStringLiteral("email must be an e-mail address."));
            return;
        }
        if (m_store.userByEmail(email)) {
            sendError(response, 409, QStringLiteral("There is already a user %1.").arg(email));
            return;
        }
        const std::optional<NewUser> created = m_store.addUser(email);
        if (!created)
            throw std::runtime_error("user not stored");
        sendJson(response, 201,
                 QJsonObject{{QStringLiteral("userId"), created->user.id},
                             {QStringLiteral("email"), created->user.email},
                             {QStringLiteral("token"), created->token}});
    });

    adminPost("/admin/api/push-guidance", [this](const QJsonObject &body, httplib::Response &response) {
        const std::optional<User> user = userNamedIn(body, response);
        if (!user)
            return;
        const QJsonValue document = body.value(QStringLiteral("document"));
        if (const QString problem = guidanceProblem(document); !problem.isEmpty()) {
            sendError(response, 400, problem);
            return;
        }
        const qint64 id =
            m_store.enqueueCommand(user->id, QStringLiteral("push-guidance"), document.toObject(), unixNow());
        if (id < 0)
            throw std::runtime_error("command not stored");
        sendJson(response, 202, QJsonObject{{QStringLiteral("queued"), id}, {QStringLiteral("userId"), user->id}});
    });

    adminPost("/admin/api/guidance", [this](const QJsonObject &body, httplib::Response &response) {
        const std::optional<User> user = userNamedIn(body, response);
        if (!user)
            return;
        const QJsonValue document = body.value(QStringLiteral("document"));
        if (document.isNull()) {
            m_store.setGuidance(user->id, std::nullopt);
        } else if (const QString problem = guidanceProblem(document); !problem.isEmpty()) {
            sendError(response, 400, problem);
            return;
        } else {
            m_store.setGuidance(user->id, document.toObject());
        }
        sendJson(response, 200, QJsonObject{{QStringLiteral("userId"), user->id}});
    });
}

} // namespace zapum::devserver
