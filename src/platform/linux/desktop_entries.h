#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace zapum {

// What a running program tells us about itself, for finding its desktop entry.
struct AppHints {
    QString wmInstance;
    QString wmClass;
    QString processName;
};

struct AppIdentity {
    QString name;
    std::optional<QString> desktopFileId;  // e.g. "org.gnome.Calculator.desktop"

    bool operator==(const AppIdentity &) const = default;
};

// The installed applications' desktop entries, read once and again only when one of the
// application folders changed. Earlier folders win, like XDG_DATA_HOME over XDG_DATA_DIRS.
class DesktopEntryIndex {
public:
    explicit DesktopEntryIndex(QStringList applicationDirs = defaultApplicationDirs(),
                               QString localeName = defaultLocaleName());

    static QStringList defaultApplicationDirs();
    static QString defaultLocaleName();

    // Re-reads the entries when an application folder changed since the last look. Once per
    // listing is enough; identify() itself never looks at the folders again.
    void refreshIfChanged();

    // The app's name and desktop file id from the entry that matches, in this order: the
    // entry's StartupWMClass equals the window class; the desktop file id equals the window class
    // (ignoring case); the one entry that starts a program of the process's name. Without an
    // entry, the window class or the process name; nothing when all are unknown.
    std::optional<AppIdentity> identify(const AppHints &hints);

private:
    struct Entry {
        QString id;
        QString name;
    };

    void scan();
    void addFolder(const QString &folder, const QString &prefix, QSet<QString> &seen);
    const Entry *find(const AppHints &hints) const;

    QStringList m_dirs;
    QString m_localeName;
    QList<QDateTime> m_dirStamps;
    bool m_scanned = false;
    QList<Entry> m_entries;
    QHash<QString, qsizetype> m_byWmClass;
    QHash<QString, qsizetype> m_byIdStem;  // lower case, without ".desktop"
    QHash<QString, QList<qsizetype>> m_byProgram;
};

// The process's name: its command, or the program file it runs when the kernel's 15-character
// command was cut short. Empty when the process is gone or not ours to read.
QString processName(qint32 pid);

}  // namespace zapum
