#include "desktop/action_mode_store.h"
#include "foundation/settings_storage.h"
#include "support/fake_desktop.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace zapum;
using namespace std::chrono_literals;

namespace {

QImage solidImage(int width, int height, qreal pixelRatio = 1.0)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setDevicePixelRatio(pixelRatio);
    return image;
}

}  // namespace

class TestActionModeStore : public QObject {
    Q_OBJECT

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
        m_capture.access = false;
        auto store = makeStore();
        QCOMPARE(store->accessibilityGranted(), false);
        QCOMPARE(store->accessibilityNote(), QStringLiteral("Not trusted here."));
        QCOMPARE(store->screenCaptureNote(), QStringLiteral("Capture refused here."));
        QCOMPARE(store->windows().size(), 0);  // no snapshot until one is asked for
        m_input.trusted = true;

        // Switching on re-reads the permissions and lists everything but our own windows.
        store->setEnabled(true);
        QCOMPARE(m_settings->storedBool(settings_keys::kActionModeEnabled), std::optional<bool>(true));
        QCOMPARE(store->accessibilityNote(), QString());
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
        QTest::addColumn<int>("accessChecks");     // permission reads after construction

        QTest::newRow("action mode off") << false << solidImage(8, 6) << ActionModeStore::kTurnOnFirst << QSize(3, 3)
                                         << 0;
        QTest::newRow("captured, pixels count as points on a dense screen")
            << true << solidImage(8, 6, 2.0) << ActionModeStore::kCaptured << QSize(8, 6) << 0;
        QTest::newRow("refused keeps the old image")
            << true << QImage() << QStringLiteral("Capture refused here.") << QSize(3, 3) << 1;
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
        const int checksBefore = m_capture.accessChecks;

        store->captureMainDisplay();
        QTEST(store->statusMessage().value_or(QString()), "message");
        QVERIFY(store->lastSnapshot().has_value());
        QCOMPARE(store->lastSnapshot()->size(), snapshotSize);
        QCOMPARE(store->lastSnapshot()->deviceIndependentSize(), QSizeF(snapshotSize));
        QTEST(m_capture.accessChecks - checksBefore, "accessChecks");
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

QTEST_GUILESS_MAIN(TestActionModeStore)
#include "tst_action_mode_store.moc"
