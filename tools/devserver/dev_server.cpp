#include "dev_server.h"

#include "http_util.h"

#include <QDateTime>

#include <cstdio>
#include <sys/socket.h>
#include <thread>

namespace zapum::devserver {
namespace {

constexpr auto kLoopback = "127.0.0.1";
// Far above any guidance document or memory; keeps a runaway client from filling memory.
constexpr size_t kMaxBody = 1024 * 1024;

QString errorSentence(int status)
{
    switch (status) {
    case 404: return QStringLiteral("No such endpoint.");
    case 413: return QStringLiteral("The request body is larger than this server accepts.");
    case 416: return QStringLiteral("The requested range is not available.");
    default: return QStringLiteral("The request failed with HTTP %1.").arg(status);
    }
}

} // namespace

double unixNow()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

DevServer::DevServer(Store &store, DevServerTimings timings) : m_store(store), m_timings(timings)
{
    configure(m_api, "api");
    configure(m_web, "web");
    addApiRoutes();
    addWebRoutes();
    addAdminRoutes();
}

void DevServer::configure(httplib::Server &server, const char *name)
{
    server.set_payload_max_length(kMaxBody);
    // httplib's default also sets SO_REUSEPORT, which lets a second server bind the same port and
    // quietly take half of the requests. A port in use must be an error instead.
    server.set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            sendError(response, response.status, errorSentence(response.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler([](const httplib::Request &, httplib::Response &response, std::exception_ptr) {
        sendError(response, 500, QStringLiteral("The server failed while answering; see its log."));
    });
    // Paths only: queries and bodies can carry pairing codes and tokens.
    server.set_logger([name](const httplib::Request &request, const httplib::Response &response) {
        std::fprintf(stderr, "%s %s %s %d\n", name, request.method.c_str(), request.path.c_str(), response.status);
    });
}

bool DevServer::listen(int apiPort, int webPort, QString *error)
{
    const auto bindOne = [error](httplib::Server &server, int port, const char *flag) {
        const int bound =
            port == 0 ? server.bind_to_any_port(kLoopback) : (server.bind_to_port(kLoopback, port) ? port : -1);
        if (bound <= 0)
            *error =
                QStringLiteral("Cannot listen on %1:%2 (is another server using it?). Choose another port with %3.")
                    .arg(QLatin1String(kLoopback))
                    .arg(port)
                    .arg(QLatin1String(flag));
        return bound;
    };
    m_apiPort = bindOne(m_api, apiPort, "--api-port");
    if (m_apiPort <= 0)
        return false;
    m_webPort = bindOne(m_web, webPort, "--web-port");
    return m_webPort > 0;
}

QString DevServer::apiBase() const
{
    return QStringLiteral("http://localhost:%1").arg(m_apiPort);
}
QString DevServer::webBase() const
{
    return QStringLiteral("http://localhost:%1").arg(m_webPort);
}

void DevServer::run()
{
    std::thread web([this] { m_web.listen_after_bind(); });
    m_api.listen_after_bind();
    web.join();
}

void DevServer::stop()
{
    m_api.stop();
    m_web.stop();
}

QString DevServer::apiBaseSeenBy(const httplib::Request &request) const
{
    const QString host = header(request, "Host");
    return isLoopbackAuthority(host) ? QStringLiteral("http://") + host.toLower() : apiBase();
}

std::optional<User> DevServer::authenticate(const httplib::Request &request, httplib::Response &response)
{
    const QString authorization = header(request, "Authorization");
    const QLatin1String scheme("Bearer ");
    if (!authorization.startsWith(scheme, Qt::CaseInsensitive)) {
        response.set_header("WWW-Authenticate", "Bearer");
        sendError(response, 401,
                  QStringLiteral("This endpoint needs the header Authorization: Bearer <access token>."));
        return std::nullopt;
    }
    std::optional<User> user = m_store.userByAccessToken(authorization.mid(scheme.size()));
    if (!user) {
        response.set_header("WWW-Authenticate", "Bearer error=\"invalid_token\"");
        sendError(response, 401, QStringLiteral("The access token is not valid here. Sign in again."));
    }
    return user;
}

} // namespace zapum::devserver
