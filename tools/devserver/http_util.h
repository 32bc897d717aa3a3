#pragma once

#include <QJsonObject>
#include <QString>

#include <httplib.h>

#include <optional>

namespace zapum::devserver {

void sendJson(httplib::Response &response, int status, const QJsonObject &body);
// Every refusal carries one sentence under "error", the member the desktop reads out.
void sendError(httplib::Response &response, int status, const QString &message);

// The body as a JSON object, or nullopt after answering 400 with what is wrong.
std::optional<QJsonObject> jsonBody(const httplib::Request &request, httplib::Response &response);

QString header(const httplib::Request &request, const char *name);

// "localhost", "127.0.0.1" or "[::1]", with or without a port. Requests naming any other host
// reached us through a name that merely resolves here (DNS rebinding) and are refused where it
// matters.
bool isLoopbackAuthority(const QString &authority);

} // namespace zapum::devserver
