#pragma once

#include "store.h"

#include <QString>

#include <httplib.h>

#include <chrono>
#include <optional>

namespace zapum::devserver {

struct DevServerTimings {
    // How long a pairing code minted by the link page can be exchanged.
    std::chrono::milliseconds pairingLifetime{std::chrono::minutes(5)};
};

// The two listeners on 127.0.0.1: the JSON API the desktop calls, and the web side with the
// browser link page and the admin page. Nothing but loopback: the link page hands out sign-ins
// without asking for a password.
class DevServer {
public:
    DevServer(Store &store, DevServerTimings timings);

    // Port 0 picks a free port. On failure, a sentence for the person starting the server.
    bool listen(int apiPort, int webPort, QString *error);
    int apiPort() const { return m_apiPort; }
    int webPort() const { return m_webPort; }
    QString apiBase() const;
    QString webBase() const;

    // Serves on the calling thread and one more until stop().
    void run();
    void stop();

private:
    void addApiRoutes();
    void addWebRoutes();
    void addAdminRoutes();
    static void configure(httplib::Server &server, const char *name);

    std::optional<User> authenticate(const httplib::Request &request, httplib::Response &response);
    void answerWithNewSession(const User &user, const httplib::Request &request, httplib::Response &response);
    // The base URL the desktop reached us by, so the session it keeps points back here.
    QString apiBaseSeenBy(const httplib::Request &request) const;
    // Refuses requests that name another host, or come from another site's page.
    bool isOwnSiteRequest(const httplib::Request &request, httplib::Response &response) const;
    std::optional<User> userNamedIn(const QJsonObject &body, httplib::Response &response);

    Store &m_store;
    DevServerTimings m_timings;
    httplib::Server m_api;
    httplib::Server m_web;
    int m_apiPort = 0;
    int m_webPort = 0;
};

// Seconds since the Unix epoch, with fraction.
double unixNow();

} // namespace zapum::devserver
