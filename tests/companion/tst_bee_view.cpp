#include "app/app_notifications.h"
#include "companion/bee_view_logic.h"
#include "companion/bee_view_model.h"
#include "companion/voice_bars_item.h"
#include "foundation/settings_storage.h"
#include "platform/modifier_key_source.h"
#include "platform/linux/x11/xsettings.h"
#include "support/memory_secret_store.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QColor>
#include <QDataStream>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace zapum;
using Kind = VoiceBeeState::Kind;

Q_DECLARE_METATYPE(std::optional<QVariant>)

namespace {

const QString kHeard = QStringLiteral("what time is it in Lisbon");
const QString kSaid = QStringLiteral("It is a quarter past four.");

// An XSETTINGS property: byte order, serial and record count, then one record per setting (an
// int, a QByteArray string or a QColor).
QByteArray xsettingsProperty(bool bigEndian, const QList<std::pair<QByteArray, QVariant>> &records)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(bigEndian ? QDataStream::BigEndian : QDataStream::LittleEndian);
    const auto padded = [&out](const QByteArray &bytes) {
        out.writeRawData(bytes.constData(), int(bytes.size()));
        for (qsizetype i = bytes.size(); i % 4; ++i)
            out << quint8(0);
    };
    out << quint8(bigEndian) << quint8(0) << quint16(0) << quint32(7) << quint32(records.size());
    for (const auto &[name, value] : records) {
        const int type = value.typeId() == QMetaType::Int ? 0 : value.typeId() == QMetaType::QByteArray ? 1 : 2;
        out << quint8(type) << quint8(0) << quint16(name.size());
        padded(name);
        out << quint32(1);  // last-change serial
        if (type == 0) {
            out << value.toInt();
        } else if (type == 1) {
            out << quint32(value.toByteArray().size());
            padded(value.toByteArray());
        } else {
            out << quint64(0x7f7f7f7f7f7f7f7f);  // four 16-bit channels
        }
    }
    return data;
}

// What a bee view reads and announces through, with private settings.
struct Stores {
    explicit Stores(const QString &settingsPath) : storage(settingsPath) {}
    SettingsStorage storage;
    test::MemorySecretStore secrets;
    VoiceKeychain keychain{secrets};
    VoiceSettingsStore voice{storage, keychain};
    VoiceAmplitudePublisher amplitude;
    AppNotifications notifications;
};

QList<double> barHeights(Kind kind, double seconds, const QList<float> &levels, bool reduceMotion = false)
{
    QList<double> heights;
    for (int i = 0; i < kVoiceBarCount; ++i)
        heights << voiceBarHeight(kind, i, seconds, levels, reduceMotion);
    return heights;
}

}  // namespace

class TestBeeView : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void chipShowsTheWordsThatFitTheState()
    {
        const auto chip = [](const VoiceBeeState &state, const QString &heard, const QString &said,
                             const std::optional<QString> &storedError = std::nullopt) {
            return chipText({state, heard, said, storedError});
        };
        QCOMPARE(chip(VoiceBeeState::listening(), QString(), kSaid), QString());  // nothing heard yet: the label
        QCOMPARE(chip(VoiceBeeState::thinking(), kHeard, QString()), kHeard);
        QCOMPARE(chip(VoiceBeeState::idle(), kHeard, kSaid), kSaid);
        QCOMPARE(chip(VoiceBeeState::idle(), kHeard, QString()), kHeard);
        const QString key = QStringLiteral("Add an Anthropic key in Settings \u2192 Voice.");
        QCOMPARE(chip(VoiceBeeState::error(key), kHeard, kSaid, u"older"_qs), key);
        QCOMPARE(chip(VoiceBeeState::error(QString()), kHeard, kSaid, u"Microphone unavailable"_qs),
                 u"Microphone unavailable"_qs);
        QCOMPARE(chip(VoiceBeeState::error(QString()), kHeard, kSaid), QString());
        QCOMPARE(statusLabel(Kind::Idle, modifier_keys::kRightControl), QStringLiteral("HOLD RIGHT CTRL TO TALK"));
    }

    void barHeightsFollowStateAndLevels()
    {
        const QList<float> loud{0.2f, 0.4f, 0.6f, 1.0f, 0.6f, 0.4f, 0.2f}, silent(kVoiceBarCount, 0.0f);
        const QList<double> floor(kVoiceBarCount, 8.0);
        QCOMPARE(barHeights(Kind::Speaking, 1.0, silent), floor);
        QCOMPARE(barHeights(Kind::Error, 4.2, loud), floor);
        QCOMPARE(barHeights(Kind::Speaking, 3.0, {}), floor);

        // Listening and speaking follow the levels, not the clock; louder is taller.
        const QList<double> listening = barHeights(Kind::Listening, 3.0, loud);
        QCOMPARE(barHeights(Kind::Speaking, 9.0, loud), listening);
        const QList<float> quieter{0.1f, 0.2f, 0.3f, 0.5f, 0.3f, 0.2f, 0.1f};
        const QList<double> lower = barHeights(Kind::Listening, 3.0, quieter);
        for (int i = 0; i < kVoiceBarCount; ++i)
            QVERIFY2(listening[i] > lower[i] && lower[i] > 8.0, qPrintable(QString::number(i)));
        // A bar past the end of the levels reads the last one.
        QCOMPARE(voiceBarHeight(Kind::Listening, 6, 0, {0.1f, 0.2f, 0.5f}, false),
                 voiceBarHeight(Kind::Listening, 6, 0, {0.1f, 0.2f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, false));

        // Reduced motion: one still bell, whatever the state, the time or the levels.
        const QList<double> bell = barHeights(Kind::Listening, 3.0, loud, true);
        QCOMPARE(barHeights(Kind::Thinking, 0.7, silent, true), bell);
        QCOMPARE(barHeights(Kind::Error, 0.7, silent, true), bell);
        QCOMPARE(bell[3], 24.0);
        QVERIFY(bell[0] < bell[2] && bell[2] < bell[3] && bell[0] == bell[6]);

        // Without levels, idle ripples between 4 and 8 and thinking waves between 10 and 48.
        QVERIFY(barHeights(Kind::Idle, 0.0, silent) != barHeights(Kind::Idle, 0.25, silent));
        for (double t = 0.0; t < 3.0; t += 0.01) {
            for (int i = 0; i < kVoiceBarCount; ++i) {
                const double idle = voiceBarHeight(Kind::Idle, i, t, {}, false);
                const double thinking = voiceBarHeight(Kind::Thinking, i, t, {}, false);
                QVERIFY(idle >= 4.0 - 1e-9 && idle <= 8.0 + 1e-9);
                QVERIFY(thinking >= 10.0 - 1e-9 && thinking <= 48.0 + 1e-9);
            }
        }
    }

    void springSettlesOnTheLevel()
    {
        BarSpring spring{8.0, 0.0};
        double peak = 0.0;
        for (int frame = 0; frame < 60; ++frame) {  // one second at 60 frames
            spring.step(40.0, 1.0 / 60.0);
            peak = std::max(peak, spring.position);
        }
        QVERIFY(qAbs(spring.position - 40.0) < 0.2);
        // Damping ratio 0.62: an 8 % overshoot of the 32-point step, a lively but short bounce.
        QVERIFY2(peak > 40.0 + 32.0 * 0.06 && peak < 40.0 + 32.0 * 0.10, qPrintable(QString::number(peak)));
    }

    void modelAnnouncesChanges()
    {
        Stores s(m_dir.filePath(QStringLiteral("announce.json")));
        int pushes = 0;
        BeeViewModel bee(s.storage, s.voice, s.amplitude, s.notifications, [&pushes] { ++pushes; }, {},
                         [] { return true; });
        QSignalSpy voiceChanged(&s.notifications, &AppNotifications::voiceStateChanged);
        QSignalSpy popover(&s.notifications, &AppNotifications::popoverVisibilityChanged);
        QSignalSpy chip(&bee, &BeeViewModel::chipChanged);

        QCOMPARE(bee.active(), false);
        QCOMPARE(bee.side(), 72.0);
        QCOMPARE(bee.reduceMotion(), true);
        s.voice.setBeeState(VoiceBeeState::listening());
        QCOMPARE(bee.active(), true);
        s.voice.setLastTranscript(kHeard);
        QCOMPARE(bee.chipText(), kHeard);
        QVERIFY(chip.count() >= 2);
        // A new error is a change even from another error.
        s.voice.setBeeState(VoiceBeeState::error(QStringLiteral("one")));
        s.voice.setBeeState(VoiceBeeState::error(QStringLiteral("two")));
        QCOMPARE(voiceChanged.count(), 3);

        bee.togglePopover();
        bee.togglePopover();
        bee.setPopoverOpen(false);  // already closed: nothing to say
        QCOMPARE(popover.count(), 2);
        QCOMPARE(popover.at(0).at(0).toBool(), true);
        QCOMPARE(popover.at(1).at(0).toBool(), false);

        bee.togglePushToTalk();
        QCOMPARE(pushes, 1);

        s.storage.setValue(QStringLiteral("ZaPumCompanionSide"), 30.0);
        QSignalSpy side(&bee, &BeeViewModel::sideChanged);
        Q_EMIT s.notifications.companionLayoutChanged();
        QCOMPARE(side.count(), 1);
        QCOMPARE(bee.side(), 48.0);
    }

    void beePageNeedsTheModelBesideItAndTheWebEngine()
    {
        QTemporaryDir dir;
        QFile page(dir.filePath(QStringLiteral("bee-viewer.html"))), model(dir.filePath(QStringLiteral("bee-runtime.glb")));
        QVERIFY(page.open(QIODevice::WriteOnly) && model.open(QIODevice::WriteOnly));
        QCOMPARE(chooseBeePage(dir.path(), true).page, QUrl::fromLocalFile(page.fileName()));
        const BeePageChoice engineLate = chooseBeePage(dir.path(), false);
        QVERIFY(engineLate.page.isEmpty() && !engineLate.reason.isEmpty());
        QVERIFY(model.remove());
        const BeePageChoice noModel = chooseBeePage(dir.path(), true);
        QVERIFY(noModel.page.isEmpty() && !noModel.reason.isEmpty());
    }

    void pageFailureFallsBackForGood()
    {
        Stores s(m_dir.filePath(QStringLiteral("fallback.json")));
        const QUrl page = QUrl::fromLocalFile(QStringLiteral("/opt/zapum/bee/bee-viewer.html"));
        BeeViewModel bee(s.storage, s.voice, s.amplitude, s.notifications, {}, {page, {}}, {});
        QSignalSpy changed(&bee, &BeeViewModel::beePageUrlChanged);
        QCOMPARE(bee.beePageUrl(), page);
        bee.reportBeePageFailed(QStringLiteral("load failed"));
        bee.reportBeePageFailed(QStringLiteral("renderer ended"));
        QVERIFY(bee.beePageUrl().isEmpty());
        QCOMPARE(changed.count(), 1);
        bee.togglePushToTalk();  // no callback wired: nothing happens
    }

    void xsettings_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<std::optional<QVariant>>("value");
        const QByteArray name("Gtk/EnableAnimations");
        const std::pair<QByteArray, QVariant> theme{"Net/ThemeName", QByteArray("Adwaita")};
        const std::optional<QVariant> none;
        QTest::newRow("off, little endian") << xsettingsProperty(false, {theme, {name, 0}}) << std::optional<QVariant>(0);
        QTest::newRow("on, big endian, after a colour")
            << xsettingsProperty(true, {{"Gtk/Colour", QColor(Qt::gray)}, {name, 1}}) << std::optional<QVariant>(1);
        QTest::newRow("not published") << xsettingsProperty(false, {{"Net/DoubleClickTime", 400}}) << none;
        QTest::newRow("bad byte order") << QByteArray("\x05\0\0\0", 4) << none;
        QTest::newRow("truncated value") << xsettingsProperty(false, {{name, 0}}).chopped(2) << none;
    }
    void xsettings()
    {
        QFETCH(QByteArray, property);
        QTEST(readXSetting(property, "Gtk/EnableAnimations"), "value");
    }

    void gtkIni()
    {
        QCOMPARE(gtkIniEnablesAnimations(u"[Settings]\n  gtk-enable-animations = 0\n"_qs), std::optional<bool>(false));
        QCOMPARE(gtkIniEnablesAnimations(u"gtk-enable-animations=false\ngtk-enable-animations=true"_qs),
                 std::optional<bool>(true));  // the last one wins
        QCOMPARE(gtkIniEnablesAnimations(u"[Settings]\ngtk-theme-name=Adwaita\n"_qs), std::nullopt);
        QCOMPARE(gtkIniEnablesAnimations(u"gtk-enable-animations=maybe\n"_qs), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestBeeView)
#include "tst_bee_view.moc"
