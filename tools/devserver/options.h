#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace zapum::devserver {

struct Options {
    int apiPort = 4001;
    int webPort = 3100;
    QString dataFile; // default: under the user's XDG data folder
    QString devEmail = QStringLiteral("dev@zapum.local");
    QString devTokenFile; // when set, the first user's token goes here (0600) instead of stdout
    std::chrono::milliseconds pairingLifetime{std::chrono::minutes(5)};
};

struct ParsedOptions {
    std::optional<Options> options; // absent: print `message` and exit
    QString message;
    int exitCode = 0;
};

ParsedOptions parseOptions(const QStringList &arguments);

// $XDG_DATA_HOME/ZaPum/devserver.sqlite3, falling back to ~/.local/share as XDG says.
QString defaultDataFile();

} // namespace zapum::devserver
