#pragma once

#include <QString>
#include <QUrl>

namespace zapum {

// The base URL of an outside service: `fallback` unless the environment variable names another
// http(s) URL (a proxy, or a fake server in tests). An unusable value is ignored with a warning
// rather than breaking every request.
QUrl serviceBaseUrlFromEnvironment(const char *variable, const QUrl &fallback);

// `relativePath` under the base URL, keeping any path prefix the base URL has. The relative path
// is taken as it is; callers make sure it holds only the segments they mean.
QUrl serviceEndpoint(const QUrl &baseUrl, const QString &relativePath);

}  // namespace zapum
