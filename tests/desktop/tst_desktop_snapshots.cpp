#include "desktop/running_apps_snapshot.h"
#include "desktop/window_snapshot_reader.h"

#include <QTest>

using namespace zapum;

Q_DECLARE_METATYPE(zapum::WindowServerEntry)
Q_DECLARE_METATYPE(std::optional<zapum::DesktopWindowInfo>)
Q_DECLARE_METATYPE(QList<zapum::RunningApplication>)

namespace {

constexpr qint32 kOwnPid = 4242;

template <typename Change>
WindowServerEntry entryWith(Change change)
{
    WindowServerEntry entry{7, 0, 99, u"Mail"_qs, u"Inbox"_qs, {1.0, 2.0, 300.0, 200.0}};
    change(entry);
    return entry;
}

template <typename Change>
std::optional<DesktopWindowInfo> infoWith(Change change)
{
    DesktopWindowInfo info{7, 99, u"Mail"_qs, u"Inbox"_qs, QRectF(1, 2, 300, 200), 0};
    change(info);
    return info;
}

const auto unchanged = [](auto &) {};

QList<WindowServerEntry> ownedBy(const QStringList &owners)
{
    QList<WindowServerEntry> entries;
    for (qsizetype i = 0; i < owners.size(); ++i)
        entries.append(entryWith([&](WindowServerEntry &e) {
            e.number = i + 1;
            e.ownerName = owners[i];
        }));
    return entries;
}

}  // namespace

class TestDesktopSnapshots : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneWindowRecord_data()
    {
        QTest::addColumn<WindowServerEntry>("entry");
        QTest::addColumn<std::optional<DesktopWindowInfo>>("expected");
        using E = WindowServerEntry;
        using I = DesktopWindowInfo;
        const std::optional<I> dropped;

        QTest::newRow("complete") << entryWith(unchanged) << infoWith(unchanged);
        QTest::newRow("no window number") << entryWith([](E &e) { e.number.reset(); }) << dropped;
        QTest::newRow("number beyond 32 bits") << entryWith([](E &e) { e.number = 0x100000000LL; }) << dropped;
        QTest::newRow("negative number") << entryWith([](E &e) { e.number = -5; }) << dropped;
        QTest::newRow("layer -1") << entryWith([](E &e) { e.layer = -1; }) << dropped;
        QTest::newRow("layer kept") << entryWith([](E &e) { e.layer = 25; }) << infoWith([](I &i) { i.layer = 25; });
        QTest::newRow("no owner name") << entryWith([](E &e) { e.ownerName.reset(); })
                                       << infoWith([](I &i) { i.ownerName = QStringLiteral("?"); });
        QTest::newRow("only X and Y") << entryWith([](E &e) { e.bounds = {10.0, 20.0, {}, {}}; })
                                      << infoWith([](I &i) { i.bounds = QRectF(10, 20, 0, 0); });
        QTest::newRow("own window left out") << entryWith([](E &e) { e.ownerPid = kOwnPid; }) << dropped;
        QTest::newRow("no pid counts as 0 and stays") << entryWith([](E &e) { e.ownerPid.reset(); })
                                                      << infoWith([](I &i) { i.ownerPID = 0; });
    }

    void oneWindowRecord()
    {
        QFETCH(WindowServerEntry, entry);
        QFETCH(std::optional<DesktopWindowInfo>, expected);
        const auto windows = WindowSnapshotReader::fromEntries({entry}, kOwnPid, QLocale(QLocale::English));
        QCOMPARE(windows.size(), expected ? 1 : 0);
        if (expected)
            QCOMPARE(windows.first(), *expected);
    }

    void windowsSortByOwner_data()
    {
        QTest::addColumn<QStringList>("owners");  // in the window server's front-to-back order
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QList<quint32>>("expectedIds");

        const QLocale english(QLocale::English);
        QTest::newRow("case alone compares equal, stable")
            << QStringList{u"Mail"_qs, u"finder"_qs, u"Finder"_qs} << english << QList<quint32>{2, 3, 1};
        QTest::newRow("accents sort with their letter, in the C locale too")
            << QStringList{u"Zebra"_qs, u"Éclair"_qs, u"Dock"_qs} << QLocale::c() << QList<quint32>{3, 2, 1};
        QTest::newRow("missing owners sort as \"?\"") << QStringList{u"Mail"_qs, u"?"_qs} << english << QList<quint32>{2, 1};
    }

    void windowsSortByOwner()
    {
        QFETCH(QStringList, owners);
        QFETCH(QLocale, locale);
        QFETCH(QList<quint32>, expectedIds);

        QList<quint32> ids;
        for (const DesktopWindowInfo &window : WindowSnapshotReader::fromEntries(ownedBy(owners), kOwnPid, locale))
            ids.append(window.windowId);
        QCOMPARE(ids, expectedIds);
    }

    void appsFilterAndSort_data()
    {
        QTest::addColumn<QList<RunningApplication>>("apps");
        QTest::addColumn<QList<RunningAppSummary>>("expected");

        const auto app = [](qint32 pid, std::optional<QString> name,
                            ActivationPolicy policy = ActivationPolicy::Regular) {
            return RunningApplication{pid, policy, std::move(name), std::nullopt, false};
        };
        const auto summary = [](qint32 pid, const QString &name) {
            return RunningAppSummary{pid, name, std::nullopt, false};
        };

        QTest::newRow("upper case before lower case")
            << QList<RunningApplication>{app(1, u"calendar"_qs), app(2, u"Zoom"_qs)}
            << QList<RunningAppSummary>{summary(2, u"Zoom"_qs), summary(1, u"calendar"_qs)};
        QTest::newRow("nameless first, called app")
            << QList<RunningApplication>{app(1, u"Alpha"_qs), app(2, std::nullopt)}
            << QList<RunningAppSummary>{summary(2, u"app"_qs), summary(1, u"Alpha"_qs)};
        QTest::newRow("only regular apps")
            << QList<RunningApplication>{app(1, u"Panel"_qs, ActivationPolicy::Accessory),
                                         app(2, u"Agent"_qs, ActivationPolicy::BackgroundOnly), app(3, u"Mail"_qs)}
            << QList<RunningAppSummary>{summary(3, u"Mail"_qs)};
        QTest::newRow("scalar order beyond the basic plane")
            << QList<RunningApplication>{app(1, QStringLiteral("\U0001F41D")), app(2, QStringLiteral("\uFFFD"))}
            << QList<RunningAppSummary>{summary(2, QStringLiteral("\uFFFD")), summary(1, QStringLiteral("\U0001F41D"))};
    }

    void appsFilterAndSort()
    {
        QFETCH(QList<RunningApplication>, apps);
        QFETCH(QList<RunningAppSummary>, expected);
        QCOMPARE(RunningAppsSnapshot::fromApplications(apps), expected);
    }
};

QTEST_GUILESS_MAIN(TestDesktopSnapshots)
#include "tst_desktop_snapshots.moc"
