#include "app/app_notifications.h"
#include "companion/bee_view_logic.h"
#include "companion/bee_view_model.h"
#include "companion/voice_bars_item.h"
#include "foundation/settings_storage.h"
#include "platform/linux/x11/xsettings.h"
#include "support/memory_secret_store.h"
#include "voice/voice_amplitude_publisher.h"
#include "voice/voice_keychain.h"
#include "voice/voice_settings_store.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace zapum;
using Kind = VoiceBeeState::Kind;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(std::optional<QVariant>)

namespace {

const QString kHeard = QStringLiteral("what time is it in Lisbon");
const QString kSaid = QStringLiteral("It is a quarter past four.");

// An XSETTINGS property: byte order, serial, then one record per setting.
class XSettingsWriter {
public:
    explicit XSettingsWriter(bool bigEndian = false) : m_bigEndian(bigEndian)
    {
        m_data.append(char(bigEndian ? 1 : 0));
        m_data.append(3, '\0');
        u32(7);  // serial
        u32(0);  // count, patched as records are added
    }
    XSettingsWriter &integer(const QByteArray &name, qint32 value)
    {
        header(0, name);
        u32(quint32(value));
        return bump();
    }
    XSettingsWriter &string(const QByteArray &name, const QByteArray &value)
    {
        header(1, name);
        u32(quint32(value.size()));
        padded(value);
        return bump();
    }
    XSettingsWriter &colour(const QByteArray &name)
    {
        header(2, name);
        m_data.append(8, '\x7f');
        return bump();
    }
    QByteArray bytes() const { return m_data; }

private:
    void u32(quint32 v)
    {
        char buf[4];
        if (m_bigEndian)
            qToBigEndian(v, buf);
        else
            qToLittleEndian(v, buf);
        m_data.append(buf, 4);
    }
    void padded(const QByteArray &bytes)
    {
        m_data.append(bytes);
        m_data.append((4 - bytes.size() % 4) % 4, '\0');
    }
    void header(char type, const QByteArray &name)
    {
        m_data.append(type);
        m_data.append('\0');
        char len[2];
        if (m_bigEndian)
            qToBigEndian(quint16(name.size()), len);
        else
            qToLittleEndian(quint16(name.size()), len);
        m_data.append(len, 2);
        padded(name);
        u32(1);  // last-change serial
    }
    XSettingsWriter &bump()
    {
        ++m_count;
        char buf[4];
        if (m_bigEndian)
            qToBigEndian(m_count, buf);
        else
            qToLittleEndian(m_count, buf);
        m_data.replace(8, 4, QByteArray(buf, 4));
        return *this;
    }

    bool m_bigEndian;
    QByteArray m_data;
    quint32 m_count = 0;
};

// What a bee view reads and announces through, with private settings.
struct Stores {
    explicit Stores(const QString &settingsPath) : storage(settingsPath) {}
    SettingsStorage storage;
    test::MemorySecretStore secrets;
    VoiceKeychain keychain{secrets};
    VoiceSettingsStore voice{storage, keychain};
    VoiceAmplitudePublisher amplitude;
    AppNotifications notifications;

    struct Parts {
        SettingsStorage &storage;
        VoiceSettingsStore &voice;
        VoiceAmplitudePublisher &amplitude;
        AppNotifications &notifications;
    };
    Parts parts() { return {storage, voice, amplitude, notifications}; }
};

}  // namespace

class TestBeeView : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void chip_data()
    {
        QTest::addColumn<VoiceBeeState>("state");
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<std::optional<QString>>("storedError");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");

        const std::optional<QString> none;
        QTest::newRow("listening, nothing heard yet")
            << VoiceBeeState::listening() << QString() << kSaid << none << QString() << QStringLiteral("LISTENING");
        QTest::newRow("listening shows what was heard")
            << VoiceBeeState::listening() << kHeard << kSaid << none << kHeard << QStringLiteral("LISTENING");
        QTest::newRow("thinking keeps the question")
            << VoiceBeeState::thinking() << kHeard << QString() << none << kHeard << QStringLiteral("THINKING");
        QTest::newRow("speaking shows the reply")
            << VoiceBeeState::speaking() << kHeard << kSaid << none << kSaid << QStringLiteral("SPEAKING");
        QTest::newRow("idle prefers the reply")
            << VoiceBeeState::idle() << kHeard << kSaid << none << kSaid << QStringLiteral("HOLD \u2325 TO TALK");
        QTest::newRow("idle falls back to the transcript")
            << VoiceBeeState::idle() << kHeard << QString() << none << kHeard << QStringLiteral("HOLD \u2325 TO TALK");
        QTest::newRow("error with its message")
            << VoiceBeeState::error(QStringLiteral("Add an Anthropic key in Settings \u2192 Voice."))
            << kHeard << kSaid << std::optional<QString>(QStringLiteral("older"))
            << QStringLiteral("Add an Anthropic key in Settings \u2192 Voice.") << QStringLiteral("ERROR");
        QTest::newRow("error without a message uses the stored one")
            << VoiceBeeState::error(QString()) << kHeard << kSaid
            << std::optional<QString>(QStringLiteral("Microphone unavailable")) << QStringLiteral("Microphone unavailable")
            << QStringLiteral("ERROR");
        QTest::newRow("error with nothing at all shows the label")
            << VoiceBeeState::error(QString()) << kHeard << kSaid << none << QString() << QStringLiteral("ERROR");
    }
    void chip()
    {
        QFETCH(VoiceBeeState, state);
        QFETCH(QString, transcript);
        QFETCH(QString, reply);
        QFETCH(std::optional<QString>, storedError);
        QFETCH(QString, text);
        QFETCH(QString, label);
        QCOMPARE(chipText({state, transcript, reply, storedError}), text);
        QCOMPARE(statusLabel(state.kind()), label);
    }

    void colours_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QColor>("caption");
        QTest::addColumn<QColor>("stroke");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<double>("maxHeight");
        const QColor white70 = QColor::fromRgbF(1, 1, 1, 0.7f);
        const QColor white15 = QColor::fromRgbF(1, 1, 1, 0.15f);
        const QColor words = QColor::fromRgbF(1, 1, 1, 0.95f);
        QTest::newRow("idle") << int(Kind::Idle) << white70 << white15 << words << 42.0;
        QTest::newRow("listening") << int(Kind::Listening) << QColor::fromRgbF(1, 0.84f, 0.36f)
                                   << QColor::fromRgbF(1, 0.84f, 0.36f, 0.35f) << words << 42.0;
        QTest::newRow("thinking") << int(Kind::Thinking) << white70 << white15 << words << 42.0;
        QTest::newRow("speaking") << int(Kind::Speaking) << QColor::fromRgbF(1, 1, 1, 0.92f)
                                  << QColor::fromRgbF(1, 1, 1, 0.25f) << words << 42.0;
        QTest::newRow("error") << int(Kind::Error) << QColor::fromRgbF(1, 0.48f, 0.48f)
                               << QColor::fromRgbF(1, 0.48f, 0.48f, 0.6f) << QColor::fromRgbF(1, 0.55f, 0.55f) << 54.0;
    }
    void colours()
    {
        QFETCH(int, kind);
        QFETCH(QColor, caption);
        QFETCH(QColor, stroke);
        QFETCH(QColor, text);
        QFETCH(double, maxHeight);
        const CardColours c = cardColours(Kind(kind));
        QCOMPARE(c.caption, caption);
        QCOMPARE(c.chipStroke, stroke);
        QCOMPARE(c.chipText, text);
        QCOMPARE(chipMaxHeight(Kind(kind)), maxHeight);
    }

    void barStyles_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("index");
        QTest::addColumn<QColor>("fill");
        QTest::addColumn<double>("inner");
        QTest::addColumn<double>("outer");
        const QColor amber = QColor::fromRgbF(0.96f, 0.66f, 0.10f);
        QTest::newRow("idle edge, dimmed, no glow") << int(Kind::Idle) << 0 << QColor::fromRgbF(0.96f, 0.66f, 0.10f, 0.4f)
                                                    << 0.0 << 0.0;
        QTest::newRow("listening middle is white") << int(Kind::Listening) << 3 << QColor(Qt::white) << 5.0 << 8.5;
        QTest::newRow("thinking") << int(Kind::Thinking) << 6 << amber << 3.5 << 5.95;
        QTest::newRow("speaking") << int(Kind::Speaking) << 1 << QColor::fromRgbF(1, 0.76f, 0.18f) << 8.0 << 13.6;
        QTest::newRow("error is red everywhere") << int(Kind::Error) << 3 << QColor::fromRgbF(1, 0.32f, 0.32f) << 9.0 << 15.3;
    }
    void barStyles()
    {
        QFETCH(int, kind);
        QFETCH(int, index);
        QFETCH(QColor, fill);
        QFETCH(double, inner);
        QFETCH(double, outer);
        const BarStyle style = voiceBarStyle(Kind(kind), index);
        QCOMPARE(style.fill, fill);
        QCOMPARE(style.innerGlowRadius, inner);
        QCOMPARE(style.outerGlowRadius, outer);
    }

    void barHeights_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QList<float>>("levels");
        QTest::addColumn<QList<double>>("heights");

        const QList<float> loud{0.2f, 0.4f, 0.6f, 1.0f, 0.6f, 0.4f, 0.2f};
        const QList<float> silent(7, 0.0f);
        auto w = [](int i) { return std::exp(-(i - 3.0) * (i - 3.0) / 5.0); };
        QList<double> bell, listening, thinking, idle, idleLater;
        for (int i = 0; i < 7; ++i) {
            bell << 16.0 + 8.0 * w(i);
            listening << 8.0 + 52.0 * double(loud[i]) * (0.55 + 0.75 * w(i));
            // At t = 0 the thinking wave and the idle ripple are pure functions of the bar index.
            thinking << 10.0 + 38.0 * (0.5 + 0.5 * w(i)) * (0.15 + 0.7 * (0.5 + 0.5 * std::sin(-0.55 * i)));
            idle << 4.0 + 4.0 * (0.5 + 0.5 * std::sin(0.3 * i));
            idleLater << 4.0 + 4.0 * (0.5 + 0.5 * std::sin(0.3 * i + 0.55 * M_PI / 2.0));  // a quarter second on
        }
        QTest::newRow("idle ripple") << int(Kind::Idle) << false << 0.0 << silent << idle;
        QTest::newRow("idle ripple moves") << int(Kind::Idle) << false << 0.25 << silent << idleLater;
        QTest::newRow("listening follows the levels") << int(Kind::Listening) << false << 3.0 << loud << listening;
        QTest::newRow("speaking follows the levels") << int(Kind::Speaking) << false << 9.0 << loud << listening;
        QTest::newRow("silence lies at 8") << int(Kind::Speaking) << false << 1.0 << silent << QList<double>(7, 8.0);
        QTest::newRow("thinking wave") << int(Kind::Thinking) << false << 0.0 << silent << thinking;
        QTest::newRow("error lies flat") << int(Kind::Error) << false << 4.2 << loud << QList<double>(7, 8.0);
        QTest::newRow("reduce motion: still bell while listening") << int(Kind::Listening) << true << 3.0 << loud << bell;
        QTest::newRow("reduce motion: still bell while thinking") << int(Kind::Thinking) << true << 0.7 << silent << bell;
        QTest::newRow("reduce motion: still bell in an error") << int(Kind::Error) << true << 0.7 << silent << bell;
    }
    void barHeights()
    {
        QFETCH(int, kind);
        QFETCH(bool, reduceMotion);
        QFETCH(double, seconds);
        QFETCH(QList<float>, levels);
        QFETCH(QList<double>, heights);
        for (int i = 0; i < 7; ++i) {
            const double h = voiceBarHeight(Kind(kind), i, seconds, levels, reduceMotion);
            QVERIFY2(qAbs(h - heights[i]) < 1e-9, qPrintable(QStringLiteral("bar %1: %2 instead of %3").arg(i).arg(h).arg(heights[i])));
        }
    }

    void barRangesOverTime_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::newRow("idle ripples between 4 and 8") << int(Kind::Idle) << 4.0 << 8.0;
        QTest::newRow("thinking stays between 10 and 48") << int(Kind::Thinking) << 10.0 << 48.0;
    }
    void barRangesOverTime()
    {
        QFETCH(int, kind);
        QFETCH(double, low);
        QFETCH(double, high);
        for (double t = 0.0; t < 3.0; t += 0.01)
            for (int i = 0; i < 7; ++i) {
                const double h = voiceBarHeight(Kind(kind), i, t, {}, false);
                QVERIFY(h >= low - 1e-9 && h <= high + 1e-9);
            }
    }

    void barBeyondTheLevelsReadsTheLast()
    {
        const QList<float> three{0.1f, 0.2f, 0.5f};
        QCOMPARE(voiceBarHeight(Kind::Listening, 6, 0, three, false),
                 voiceBarHeight(Kind::Listening, 2, 0, QList<float>{0.1f, 0.2f, 0.5f}, false) - 52.0 * 0.5 * 0.75
                     * (std::exp(-1.0 / 5.0) - std::exp(-9.0 / 5.0)));
        QCOMPARE(voiceBarHeight(Kind::Speaking, 3, 0, {}, false), 8.0);
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
        Stores stores(m_dir.filePath(QStringLiteral("announce.json")));
        auto [storage, voice, amplitude, notifications] = stores.parts();
        int pushes = 0;
        BeeViewModel bee(storage, voice, amplitude, notifications, [&pushes] { ++pushes; }, {}, [] { return true; });

        QSignalSpy voiceChanged(&notifications, &AppNotifications::voiceStateChanged);
        QSignalSpy popover(&notifications, &AppNotifications::popoverVisibilityChanged);
        QSignalSpy chip(&bee, &BeeViewModel::chipChanged);

        QCOMPARE(bee.active(), false);
        QCOMPARE(bee.side(), 72.0);
        QCOMPARE(bee.reduceMotion(), true);
        voice.setBeeState(VoiceBeeState::listening());
        QCOMPARE(voiceChanged.count(), 1);
        QCOMPARE(bee.active(), true);
        QCOMPARE(bee.statusLabel(), QStringLiteral("LISTENING"));
        voice.setLastTranscript(kHeard);
        QCOMPARE(bee.chipText(), kHeard);
        QVERIFY(chip.count() >= 2);
        // A new error is a change even from another error.
        voice.setBeeState(VoiceBeeState::error(QStringLiteral("one")));
        voice.setBeeState(VoiceBeeState::error(QStringLiteral("two")));
        QCOMPARE(voiceChanged.count(), 3);

        bee.togglePopover();
        bee.togglePopover();
        bee.setPopoverOpen(false);  // already closed: nothing to say
        QCOMPARE(popover.count(), 2);
        QCOMPARE(popover.at(0).at(0).toBool(), true);
        QCOMPARE(popover.at(1).at(0).toBool(), false);

        bee.togglePushToTalk();
        QCOMPARE(pushes, 1);

        storage.setValue(QStringLiteral("ZaPumCompanionSide"), 30.0);
        QSignalSpy side(&bee, &BeeViewModel::sideChanged);
        Q_EMIT notifications.companionLayoutChanged();
        QCOMPARE(side.count(), 1);
        QCOMPARE(bee.side(), 48.0);
    }

    void beePage_data()
    {
        QTest::addColumn<bool>("page");
        QTest::addColumn<bool>("model");
        QTest::addColumn<bool>("engineReady");
        QTest::addColumn<bool>("shown");
        QTest::newRow("page and model") << true << true << true << true;
        QTest::newRow("no page") << false << true << true << false;
        QTest::newRow("no model beside it") << true << false << true << false;
        QTest::newRow("web engine not set up") << true << true << false << false;
    }
    void beePage()
    {
        QFETCH(bool, page);
        QFETCH(bool, model);
        QFETCH(bool, engineReady);
        QFETCH(bool, shown);
        QTemporaryDir dir;
        auto touch = [&dir](const char *name) {
            QFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        };
        if (page)
            touch("bee-viewer.html");
        if (model)
            touch("bee-runtime.glb");
        const BeePageChoice choice = chooseBeePage(dir.path(), engineReady);
        QCOMPARE(!choice.page.isEmpty(), shown);
        QCOMPARE(choice.reason.isEmpty(), shown);
        if (shown)
            QCOMPARE(choice.page, QUrl::fromLocalFile(dir.filePath(QStringLiteral("bee-viewer.html"))));
    }

    void pageFailureFallsBackForGood()
    {
        Stores stores(m_dir.filePath(QStringLiteral("fallback.json")));
        auto [storage, voice, amplitude, notifications] = stores.parts();
        const QUrl page = QUrl::fromLocalFile(QStringLiteral("/opt/zapum/bee/bee-viewer.html"));
        BeeViewModel bee(storage, voice, amplitude, notifications, {}, {page, {}}, {});
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
        QTest::newRow("off, little endian")
            << XSettingsWriter().string("Net/ThemeName", "Adwaita").integer(name, 0).bytes()
            << std::optional<QVariant>(QVariant(0));
        QTest::newRow("on, big endian, after a colour")
            << XSettingsWriter(true).colour("Gtk/Colour").integer(name, 1).bytes() << std::optional<QVariant>(QVariant(1));
        QTest::newRow("not published") << XSettingsWriter().integer("Net/DoubleClickTime", 400).bytes()
                                       << std::optional<QVariant>();
        QTest::newRow("empty property") << QByteArray() << std::optional<QVariant>();
        QTest::newRow("bad byte order") << QByteArray("\x05\0\0\0", 4) << std::optional<QVariant>();
        QByteArray truncated = XSettingsWriter().integer(name, 0).bytes();
        truncated.chop(2);
        QTest::newRow("truncated value") << truncated << std::optional<QVariant>();
        QByteArray hugeString = XSettingsWriter().string("Net/ThemeName", "Adwaita").integer(name, 0).bytes();
        hugeString[36] = '\xff';  // the string's length: after the 12-byte header, 4, the name, the serial
        hugeString[37] = '\xff';
        QTest::newRow("string longer than the property") << hugeString << std::optional<QVariant>();
        QByteArray unknownType = XSettingsWriter().integer("Other", 3).integer(name, 0).bytes();
        unknownType[12] = 9;
        QTest::newRow("unknown type stops the walk") << unknownType << std::optional<QVariant>();
    }
    void xsettings()
    {
        QFETCH(QByteArray, property);
        QFETCH(std::optional<QVariant>, value);
        QCOMPARE(readXSetting(property, "Gtk/EnableAnimations"), value);
    }

    void gtkIni_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<bool>>("enabled");
        QTest::newRow("false") << QStringLiteral("[Settings]\ngtk-enable-animations=false\n") << std::optional<bool>(false);
        QTest::newRow("0 with spaces") << QStringLiteral("[Settings]\n  gtk-enable-animations = 0\n")
                                       << std::optional<bool>(false);
        QTest::newRow("true") << QStringLiteral("[Settings]\ngtk-enable-animations=true") << std::optional<bool>(true);
        QTest::newRow("last one wins") << QStringLiteral("gtk-enable-animations=0\ngtk-enable-animations=1\n")
                                       << std::optional<bool>(true);
        QTest::newRow("absent") << QStringLiteral("[Settings]\ngtk-theme-name=Adwaita\n") << std::optional<bool>();
        QTest::newRow("nonsense value") << QStringLiteral("gtk-enable-animations=maybe\n") << std::optional<bool>();
    }
    void gtkIni()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<bool>, enabled);
        QCOMPARE(gtkIniEnablesAnimations(text), enabled);
    }
};

QTEST_GUILESS_MAIN(TestBeeView)
#include "tst_bee_view.moc"
