#include "platform/linux/desktop_entries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

namespace zapum {

namespace {

QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar ch = value[i];
        if (ch != u'\\' || i + 1 == value.size()) {
            out.append(ch);
            continue;
        }
        switch (value[++i].unicode()) {
        case 's': out.append(u' '); break;
        case 'n': out.append(u'\n'); break;
        case 't': out.append(u'\t'); break;
        case 'r': out.append(u'\r'); break;
        default: out.append(value[i]); break;
        }
    }
    return out;
}

// The program an Exec line starts, without its folder; "env VAR=value program" counts as program.
QString execProgram(const QString &exec)
{
    QStringList tokens;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar ch = exec[i];
        if (ch == u'"') {
            quoted = !quoted;
        } else if (ch == u'\\' && quoted && i + 1 < exec.size()) {
            current.append(exec[++i]);
        } else if (ch.isSpace() && !quoted) {
            if (!current.isEmpty())
                tokens.append(std::exchange(current, QString()));
        } else {
            current.append(ch);
        }
    }
    if (!current.isEmpty())
        tokens.append(current);
    qsizetype first = 0;
    if (tokens.value(0) == QLatin1String("env")) {
        first = 1;
        while (first < tokens.size() && tokens[first].contains(u'='))
            ++first;
    }
    return QFileInfo(tokens.value(first)).fileName();
}

struct ParsedEntry {
    QHash<QString, QString> values;
    bool valid = false;
};

ParsedEntry parseDesktopFile(const QString &path)
{
    ParsedEntry parsed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return parsed;
    bool inMainGroup = false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            if (inMainGroup)
                break;  // only the main group describes the application
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            parsed.valid = parsed.valid || inMainGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inMainGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!parsed.values.contains(key))
            parsed.values.insert(key, line.mid(equals + 1).trimmed());
    }
    return parsed;
}

QString localizedName(const QHash<QString, QString> &values, const QString &localeName)
{
    QStringList keys;
    if (!localeName.isEmpty()) {
        keys << QStringLiteral("Name[%1]").arg(localeName);
        const qsizetype underscore = localeName.indexOf(u'_');
        if (underscore > 0)
            keys << QStringLiteral("Name[%1]").arg(localeName.left(underscore));
    }
    keys << QStringLiteral("Name");
    for (const QString &key : keys) {
        const QString value = unescapeValue(values.value(key));
        if (!value.isEmpty())
            return value;
    }
    return {};
}

bool isTrue(const QString &value)
{
    return value == QLatin1String("true");
}

}  // namespace

DesktopEntryIndex::DesktopEntryIndex(QStringList applicationDirs, QString localeName)
    : m_dirs(std::move(applicationDirs)), m_localeName(std::move(localeName))
{
}

QStringList DesktopEntryIndex::defaultApplicationDirs()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList dirs{dataHome + QStringLiteral("/applications")};
    for (const QString &dir : dataDirs.split(u':', Qt::SkipEmptyParts))
        dirs.append(dir + QStringLiteral("/applications"));
    return dirs;
}

QString DesktopEntryIndex::defaultLocaleName()
{
    const QLocale locale;
    return locale.language() == QLocale::C ? QString() : locale.name();
}

void DesktopEntryIndex::refreshIfChanged()
{
    QList<QDateTime> stamps;
    stamps.reserve(m_dirs.size());
    for (const QString &dir : std::as_const(m_dirs))
        stamps.append(QFileInfo(dir).lastModified());
    if (m_scanned && stamps == m_dirStamps)
        return;
    m_dirStamps = stamps;
    scan();
}

void DesktopEntryIndex::scan()
{
    m_scanned = true;
    m_entries.clear();
    m_byWmClass.clear();
    m_byIdStem.clear();
    m_byProgram.clear();
    QSet<QString> seen;
    for (const QString &dir : std::as_const(m_dirs))
        addFolder(dir, QString(), seen);
}

void DesktopEntryIndex::addFolder(const QString &folder, const QString &prefix, QSet<QString> &seen)
{
    const QFileInfoList infos =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable, QDir::Name);
    for (const QFileInfo &info : infos) {
        if (info.isDir()) {
            addFolder(info.filePath(), prefix + info.fileName() + u'-', seen);
            continue;
        }
        if (!info.fileName().endsWith(QLatin1String(".desktop")))
            continue;
        const QString id = prefix + info.fileName();
        if (seen.contains(id))
            continue;  // an earlier folder has this id, and a hidden entry there hides this one
        seen.insert(id);
        const ParsedEntry parsed = parseDesktopFile(info.filePath());
        const QHash<QString, QString> &v = parsed.values;
        if (!parsed.valid || v.value(QStringLiteral("Type")) != QLatin1String("Application")
            || isTrue(v.value(QStringLiteral("Hidden")))) {
            continue;
        }
        const QString name = localizedName(v, m_localeName);
        if (name.isEmpty())
            continue;
        const qsizetype index = m_entries.size();
        m_entries.append({id, name});
        const QString wmClass = v.value(QStringLiteral("StartupWMClass"));
        if (!wmClass.isEmpty() && !m_byWmClass.contains(wmClass))
            m_byWmClass.insert(wmClass, index);
        const QString stem = id.chopped(int(qstrlen(".desktop"))).toLower();
        if (!m_byIdStem.contains(stem))
            m_byIdStem.insert(stem, index);
        // A terminal program runs inside a terminal emulator, which owns the windows.
        const QString program = execProgram(unescapeValue(v.value(QStringLiteral("Exec"))));
        if (!program.isEmpty() && !isTrue(v.value(QStringLiteral("Terminal"))))
            m_byProgram[program].append(index);
    }
}

const DesktopEntryIndex::Entry *DesktopEntryIndex::find(const AppHints &hints) const
{
    for (const QString &cls : {hints.wmClass, hints.wmInstance}) {
        if (!cls.isEmpty() && m_byWmClass.contains(cls))
            return &m_entries[m_byWmClass.value(cls)];
    }
    for (const QString &cls : {hints.wmClass, hints.wmInstance}) {
        if (!cls.isEmpty() && m_byIdStem.contains(cls.toLower()))
            return &m_entries[m_byIdStem.value(cls.toLower())];
    }
    // Several entries starting the same program (an interpreter, a launcher) say nothing.
    const QList<qsizetype> byProgram = m_byProgram.value(hints.processName);
    return byProgram.size() == 1 ? &m_entries[byProgram.first()] : nullptr;
}

std::optional<AppIdentity> DesktopEntryIndex::identify(const AppHints &hints)
{
    if (!m_scanned)
        refreshIfChanged();
    if (const Entry *entry = find(hints))
        return AppIdentity{entry->name, entry->id};
    for (const QString &name : {hints.wmClass, hints.wmInstance, hints.processName}) {
        if (!name.isEmpty())
            return AppIdentity{name, std::nullopt};
    }
    return std::nullopt;
}

QString processName(qint32 pid)
{
    if (pid <= 0)
        return {};
    const QString base = QStringLiteral("/proc/%1/").arg(pid);
    QFile commFile(base + QStringLiteral("comm"));
    if (!commFile.open(QIODevice::ReadOnly))
        return {};
    const QString comm = QString::fromLocal8Bit(commFile.readAll()).trimmed();
    // The kernel keeps 15 characters; the program named on the command line has the rest.
    constexpr qsizetype kCommLength = 15;
    if (comm.size() < kCommLength)
        return comm;
    QFile cmdline(base + QStringLiteral("cmdline"));
    if (!cmdline.open(QIODevice::ReadOnly))
        return comm;
    const QString program = QFileInfo(QString::fromLocal8Bit(cmdline.readAll().split('\0').value(0))).fileName();
    return program.startsWith(comm) ? program : comm;
}

}  // namespace zapum
