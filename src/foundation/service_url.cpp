#include "foundation/service_url.h"

#include "foundation/logging.h"

namespace zapum {

QUrl serviceBaseUrlFromEnvironment(const char *variable, const QUrl &fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    if (value.isEmpty())
        return fallback;
    const QUrl url(value, QUrl::StrictMode);
    const bool http = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (!url.isValid() || !http || url.host().isEmpty()) {
        // The value itself stays out of the log: a proxy URL may carry credentials.
        qCWarning(lcFoundation) << "Ignoring" << variable << "because it is not an http(s) URL";
        return fallback;
    }
    return url;
}

QUrl serviceEndpoint(const QUrl &baseUrl, const QString &relativePath)
{
    // QUrl::resolved() would drop the last segment of a prefix without a trailing slash, and
    // would read a colon in the first segment as a scheme, so the path is joined by hand.
    QUrl url = baseUrl;
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + relativePath);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

}  // namespace zapum
