#include "options.h"

#include <QCommandLineParser>
#include <QDir>

namespace zapum::devserver {
namespace {

std::optional<int> portValue(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

QString defaultDataFile()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/ZaPum/devserver.sqlite3");
}

ParsedOptions parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A local stand-in for the ZaPum backend: the desktop API and the browser link and admin pages, "
                       "on 127.0.0.1 only."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption apiPort(QStringLiteral("api-port"), QStringLiteral("Port of the API (0 = any free port)."),
                                     QStringLiteral("port"), QStringLiteral("4001"));
    const QCommandLineOption webPort(QStringLiteral("web-port"),
                                     QStringLiteral("Port of the link and admin pages (0 = any free port)."),
                                     QStringLiteral("port"), QStringLiteral("3100"));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("SQLite data file (default %1).").arg(defaultDataFile()),
                                  QStringLiteral("file"));
    const QCommandLineOption devEmail(QStringLiteral("dev-email"),
                                      QStringLiteral("E-mail of the user made at first start."),
                                      QStringLiteral("email"), QStringLiteral("dev@zapum.local"));
    const QCommandLineOption tokenFile(QStringLiteral("dev-token-file"),
                                       QStringLiteral("Write the first user's sign-in token to this file instead of "
                                                      "printing it."),
                                       QStringLiteral("file"));
    const QCommandLineOption pairingTtl(QStringLiteral("pairing-ttl"),
                                        QStringLiteral("Seconds a browser pairing code stays valid."),
                                        QStringLiteral("seconds"), QStringLiteral("300"));
    parser.addOptions({help, apiPort, webPort, data, devEmail, tokenFile, pairingTtl});

    ParsedOptions result;
    const auto fail = [&result](const QString &message) {
        result.message = message + QStringLiteral("\nTry zapum-devserver --help.");
        result.exitCode = 2;
        return result;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        // Without a QCoreApplication the parser cannot know the program's name.
        result.message =
            parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("zapum-devserver"));
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().constFirst()));

    Options options;
    const std::optional<int> api = portValue(parser.value(apiPort));
    const std::optional<int> web = portValue(parser.value(webPort));
    if (!api || !web)
        return fail(QStringLiteral("A port is a number from 0 to 65535."));
    if (*api != 0 && *api == *web)
        return fail(QStringLiteral("The API and the web pages need different ports."));
    options.apiPort = *api;
    options.webPort = *web;
    options.dataFile = parser.isSet(data) ? parser.value(data) : defaultDataFile();
    options.devEmail = parser.value(devEmail).trimmed();
    if (!options.devEmail.contains(QLatin1Char('@')))
        return fail(QStringLiteral("--dev-email needs an e-mail address."));
    options.devTokenFile = parser.value(tokenFile);
    bool ok = false;
    const double seconds = parser.value(pairingTtl).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 24 * 3600)
        return fail(QStringLiteral("--pairing-ttl is a number of seconds, above 0 and at most a day."));
    options.pairingLifetime = std::chrono::milliseconds(qint64(seconds * 1000));
    result.options = options;
    return result;
}

} // namespace zapum::devserver
