// The desktop as the app models it, over fakes: how windows and apps are named and listed (the
// snapshots, and the desktop entries that give an app its name), and the action mode store.
#include "desktop/action_mode_store.h"
#include "desktop/running_apps_snapshot.h"
#include "desktop/window_snapshot_reader.h"
#include "foundation/settings_storage.h"
#include "platform/linux/desktop_entries.h"
#include "support/fake_desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <memory>
#include <utime.h>

using namespace zapum;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(zapum::WindowServerEntry)
Q_DECLARE_METATYPE(std::optional<zapum::DesktopWindowInfo>)
Q_DECLARE_METATYPE(QList<zapum::RunningApplication>)
Q_DECLARE_METATYPE(zapum::AppHints)
Q_DECLARE_METATYPE(std::optional<zapum::AppIdentity>)

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

void writeEntry(const QString &folder, const QString &name, const QByteArray &body)
{
    QDir().mkpath(QFileInfo(folder + u'/' + name).path());
    QFile file(folder + u'/' + name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(body);
}

std::optional<AppIdentity> identity(const QString &name, const QString &id = {})
{
    return AppIdentity{name, id.isEmpty() ? std::nullopt : std::optional<QString>(id)};
}

QImage solidImage(int width, int height, qreal pixelRatio = 1.0)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setDevicePixelRatio(pixelRatio);
    return image;
}

}  // namespace

class TestDesktopModel : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString user() const { return m_root.filePath(QStringLiteral("user")); }
    QString system() const { return m_root.filePath(QStringLiteral("system")); }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStorage> m_settings;
    test::FakeWindowServer m_windows;
    test::FakeWorkspace m_workspace;
    test::FakeScreenCapture m_capture;
    test::FakeInputSynthesizer m_input;

    std::unique_ptr<ActionModeStore> makeStore(ActionModeStore::Timing timing = {})
    {
        return std::make_unique<ActionModeStore>(*m_settings, m_windows, m_workspace, m_capture, m_input, timing);
    }

private Q_SLOTS:
    void oneWindowRecord_data()
    {
        QTest::addColumn<WindowServerEntry>("entry");
        QTest::addColumn<std::optional<DesktopWindowInfo>>("expected");
        using E = WindowServerEntry;
        using I = DesktopWindowInfo;
        const std::optional<I> dropped;

        QTest::newRow("complete") << entryWith(unchanged) << infoWith(unchanged);
        QTest::newRow("number beyond 32 bits") << entryWith([](E &e) { e.number = 0x100000000LL; }) << dropped;
        QTest::newRow("layer -1") << entryWith([](E &e) { e.layer = -1; }) << dropped;
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
    }

    void windowsSortByOwner()
    {
        QFETCH(QStringList, owners);
        QFETCH(QLocale, locale);

        QList<WindowServerEntry> entries;
        for (qsizetype i = 0; i < owners.size(); ++i)
            entries.append({i + 1, 0, 99, owners[i], {}, {}});
        QList<quint32> ids;
        for (const DesktopWindowInfo &window : WindowSnapshotReader::fromEntries(entries, kOwnPid, locale))
            ids.append(window.windowId);
        QTEST(ids, "expectedIds");
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
        QTEST(RunningAppsSnapshot::fromApplications(apps), "expected");
    }

    void initTestCase()
    {
        writeEntry(system(), u"mail.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Mail\nExec=mailer\n");
        writeEntry(user(), u"mail.desktop"_qs, "[Desktop Entry]\nType=Application\nName=My Mail\n");
        writeEntry(system(), u"org.example.Viewer.desktop"_qs,
                   "# comment\n[Desktop Entry]\nType=Application\nName=Viewer\nName[de]=Betrachter\n"
                   "StartupWMClass=viewer-main\nExec=viewer %U\n\n[Desktop Action New]\nName=New Window\n");
        writeEntry(system(), u"vendor/tool.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Vendor Tool\n");
        writeEntry(system(), u"hidden.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Hidden App\n");
        writeEntry(user(), u"hidden.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Hidden App\nHidden=true\n");
        writeEntry(system(), u"calc.desktop"_qs,
                   "[Desktop Entry]\nType=Application\nName=Calculator\nExec=env LANG=C \"/usr/bin/gcalc\" --x\n");
        writeEntry(system(), u"py-a.desktop"_qs, "[Desktop Entry]\nType=Application\nName=A\nExec=python3 a.py\n");
        writeEntry(system(), u"py-b.desktop"_qs, "[Desktop Entry]\nType=Application\nName=B\nExec=python3 b.py\n");
    }

    void identify_data()
    {
        QTest::addColumn<AppHints>("hints");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<std::optional<AppIdentity>>("expected");

        const QString viewerId = QStringLiteral("org.example.Viewer.desktop");
        const auto row = [](const char *name, const AppHints &hints, const std::optional<AppIdentity> &expected,
                            const QString &locale = {}) { QTest::newRow(name) << hints << locale << expected; };
        row("StartupWMClass", {{}, u"viewer-main"_qs, {}}, identity(u"Viewer"_qs, viewerId));
        row("localized name", {{}, u"viewer-main"_qs, {}}, identity(u"Betrachter"_qs, viewerId), u"de_DE"_qs);
        row("file id from a subfolder", {u"vendor-tool"_qs, u"Other"_qs, {}},
            identity(u"Vendor Tool"_qs, u"vendor-tool.desktop"_qs));
        row("user folder wins", {{}, u"mail"_qs, u"mailer"_qs}, identity(u"My Mail"_qs, u"mail.desktop"_qs));
        row("hidden entry hides the system one", {{}, u"hidden"_qs, {}}, identity(u"hidden"_qs));
        row("program through env and quotes", {{}, {}, u"gcalc"_qs}, identity(u"Calculator"_qs, u"calc.desktop"_qs));
        row("program of several entries", {{}, {}, u"python3"_qs}, identity(u"python3"_qs));
        row("class before instance", {u"inst"_qs, u"Cls"_qs, u"proc"_qs}, identity(u"Cls"_qs));
        row("nothing known", {}, std::nullopt);
    }

    void identify()
    {
        QFETCH(AppHints, hints);
        QFETCH(QString, locale);

        DesktopEntryIndex index({user(), system(), m_root.filePath(QStringLiteral("missing"))}, locale);
        QTEST(index.identify(hints), "expected");
    }

    void newEntriesArePickedUp()
    {
        QTemporaryDir folder;
        // Dated an hour back, so the new entry changes the folder's time stamp however soon it comes.
        const utimbuf anHourAgo{std::time(nullptr) - 3600, std::time(nullptr) - 3600};
        QCOMPARE(::utime(QFile::encodeName(folder.path()).constData(), &anHourAgo), 0);
        DesktopEntryIndex index({folder.path()}, QString());
        QCOMPARE(index.identify({{}, u"late"_qs, {}}), identity(u"late"_qs));
        writeEntry(folder.path(), u"late.desktop"_qs, "[Desktop Entry]\nType=Application\nName=Late App\n");
        QCOMPARE(index.identify({{}, u"late"_qs, {}}), identity(u"late"_qs));
        index.refreshIfChanged();
        QCOMPARE(index.identify({{}, u"late"_qs, {}}), identity(u"Late App"_qs, u"late.desktop"_qs));
    }

    void processNames()
    {
        // Longer than the kernel's 15 characters, so the command line has to complete it.
        QCOMPARE(processName(qint32(QCoreApplication::applicationPid())), QStringLiteral("tst_desktop_model"));
        QCOMPARE(processName(0), QString());
        QCOMPARE(processName(std::numeric_limits<qint32>::max()), QString());
    }

    void init()
    {
        m_settings.reset();
        QFile::remove(m_dir.filePath(QStringLiteral("settings.json")));
        m_settings = std::make_unique<SettingsStorage>(m_dir.filePath(QStringLiteral("settings.json")));
        m_windows = {};
        m_workspace = {};
        m_capture = {};
        m_input = {};
    }

    void switchingOnRefreshesAndOffKeepsSnapshots()
    {
        m_windows.entries = {{1, 0, qint32(QCoreApplication::applicationPid()), {}, {}, {}}, {2, 0, 77, {}, {}, {}}};
        m_workspace.apps = {{77, ActivationPolicy::Regular, QStringLiteral("Mail"), std::nullopt, true}};
        m_input.trusted = false;
        auto store = makeStore();
        QCOMPARE(store->accessibilityGranted(), false);
        QCOMPARE(store->windows().size(), 0);  // no snapshot until one is asked for
        m_input.trusted = true;

        // Switching on re-reads the permissions and lists everything but our own windows.
        store->setEnabled(true);
        QCOMPARE(m_settings->storedBool(settings_keys::kActionModeEnabled), std::optional<bool>(true));
        QCOMPARE(store->accessibilityGranted(), true);
        QCOMPARE(store->windows().size(), 1);
        QCOMPARE(store->windows().first().windowId, 2u);
        QCOMPARE(store->runningApps().size(), 1);
        const auto refreshed = store->lastWindowsRefresh();
        QVERIFY(refreshed.has_value());

        m_windows.entries.clear();
        m_workspace.apps.clear();
        store->setEnabled(false);
        QCOMPARE(store->windows().size(), 1);
        QCOMPARE(store->runningApps().size(), 1);
        QCOMPARE(store->lastWindowsRefresh(), refreshed);
    }

    void capture_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QImage>("grabbed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QSize>("snapshotSize");  // of the stored image; the earlier one when kept

        QTest::newRow("action mode off") << false << solidImage(8, 6) << ActionModeStore::kTurnOnFirst << QSize(3, 3);
        QTest::newRow("captured, pixels count as points on a dense screen")
            << true << solidImage(8, 6, 2.0) << ActionModeStore::kCaptured << QSize(8, 6);
        QTest::newRow("refused keeps the old image")
            << true << QImage() << QStringLiteral("Capture refused here.") << QSize(3, 3);
    }

    void capture()
    {
        QFETCH(bool, enabled);
        QFETCH(QImage, grabbed);
        QFETCH(QSize, snapshotSize);

        auto store = makeStore();
        store->setEnabled(true);
        m_capture.image = solidImage(3, 3);
        store->captureMainDisplay();
        store->setEnabled(enabled);
        m_capture.image = grabbed;

        store->captureMainDisplay();
        QTEST(store->statusMessage().value_or(QString()), "message");
        QVERIFY(store->lastSnapshot().has_value());
        QCOMPARE(store->lastSnapshot()->size(), snapshotSize);
        QCOMPARE(store->lastSnapshot()->deviceIndependentSize(), QSizeF(snapshotSize));
        if (!enabled)
            QCOMPARE(m_capture.captures, 1);
    }

    void click_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("trustedAtRefresh");
        QTest::addColumn<bool>("trustedNow");
        QTest::addColumn<bool>("posted");

        QTest::newRow("action mode off") << false << true << true << false;
        QTest::newRow("trusted only since the last refresh") << true << false << true << false;
        QTest::newRow("trust withdrawn since the last refresh") << true << true << false << false;
        QTest::newRow("on and trusted") << true << true << true << true;
    }

    void click()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, trustedAtRefresh);
        QFETCH(bool, trustedNow);
        QFETCH(bool, posted);
        m_settings->setValue(settings_keys::kActionModeEnabled, enabled);
        m_input.trusted = trustedAtRefresh;
        auto store = makeStore();
        m_input.trusted = trustedNow;

        const QPointF point(640.5, -3.25);
        QCOMPARE(store->performLeftClick(point), posted);
        QCOMPARE(m_input.clicks, posted ? QList<QPointF>{point} : QList<QPointF>{});
        QCOMPARE(store->statusMessage(), std::nullopt);
    }

    void eachRequestRereadsPermissionsLater()
    {
        m_input.trusted = false;
        auto store = makeStore({.permissionRecheckDelay = 80ms});
        const int checksBefore = m_input.trustChecks;

        store->requestScreenCaptureAccess();
        store->requestAccessibilityAccess();
        m_input.trusted = true;
        QCOMPARE(m_capture.requests, 1);
        QCOMPARE(m_input.requests, 1);
        QCOMPARE(store->accessibilityGranted(), false);
        QTRY_COMPARE_WITH_TIMEOUT(m_input.trustChecks - checksBefore, 2, 2000);
        QCOMPARE(store->accessibilityGranted(), true);

        store->requestAccessibilityAccess();
        store.reset();  // a pending re-read must not touch a store that is gone
        // A store made later re-reads later too: once it has, the gone store's time has passed.
        m_input.trusted = false;
        auto later = makeStore({.permissionRecheckDelay = 80ms});
        later->requestAccessibilityAccess();
        m_input.trusted = true;
        QTRY_VERIFY(later->accessibilityGranted());
        QCOMPARE(m_input.trustChecks - checksBefore, 4);  // the two above, and the later store's two
    }
};

QTEST_GUILESS_MAIN(TestDesktopModel)
#include "tst_desktop_model.moc"
