#pragma once
// What /proc says about a process and its descendants, for the benchmarks that weigh the app.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>

#include <unistd.h>

namespace zapum::bench {

inline QByteArray readProc(qint64 pid, const char *file)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Fields of /proc/PID/stat after the command name, which may itself hold spaces.
inline QList<QByteArray> statFields(qint64 pid)
{
    const QByteArray stat = readProc(pid, "stat");
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}

// `root` and all its descendants.
inline QList<qint64> processTree(qint64 root)
{
    QHash<qint64, qint64> parentOf;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const auto fields = statFields(pid);
        if (fields.size() > 1)
            parentOf.insert(pid, fields[1].toLongLong());
    }
    QList<qint64> tree{root};
    for (qsizetype i = 0; i < tree.size(); ++i)
        for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it)
            if (it.value() == tree[i])
                tree.append(it.key());
    return tree;
}

// CPU seconds (user + system) a process has used so far.
inline double cpuSeconds(qint64 pid)
{
    const auto fields = statFields(pid);
    if (fields.size() < 13)
        return 0.0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// A "Key:   123 kB" line of a /proc status-like file, in kB.
inline double kilobytes(const QByteArray &text, const QByteArray &key)
{
    for (const QByteArray &line : text.split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toDouble();
    return 0.0;
}

}  // namespace zapum::bench
