#pragma once

#include "companion/bee_view_logic.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QTimer>

#include <array>

namespace zapum {

class VoiceAmplitudePublisher;

// A spring that eases a bar towards a new height (mass 1, stiffness 260, damping 20).
struct BarSpring {
    double position = 0.0;
    double velocity = 0.0;
    void step(double target, double seconds);
};

// The seven voice bars, painted as one item: one texture to composite instead of fourteen
// shadowed shapes, and a frame timer that runs only while something moves.
class VoiceBarsItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(int stateKind READ stateKind WRITE setStateKind NOTIFY stateKindChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(QObject *amplitude READ amplitude WRITE setAmplitude NOTIFY amplitudeChanged)

public:
    explicit VoiceBarsItem(QQuickItem *parent = nullptr);

    int stateKind() const { return int(m_kind); }
    void setStateKind(int kind);
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);
    QObject *amplitude() const;
    void setAmplitude(QObject *amplitude);

    // The heights currently drawn, for tests.
    std::array<double, kVoiceBarCount> heights() const { return m_heights; }

    void paint(QPainter *painter) override;

    static void registerQmlType();

Q_SIGNALS:
    void stateKindChanged();
    void reduceMotionChanged();
    void amplitudeChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    void advance();
    void updateRunning();
    bool moves() const;

    VoiceBeeState::Kind m_kind = VoiceBeeState::Kind::Idle;
    bool m_reduceMotion = false;
    QPointer<VoiceAmplitudePublisher> m_amplitude;
    QList<float> m_levels = QList<float>(kVoiceBarCount, 0.0f);
    std::array<double, kVoiceBarCount> m_heights{};
    std::array<BarSpring, kVoiceBarCount> m_springs{};
    QTimer m_frameTimer;
    QElapsedTimer m_clock;
    double m_lastFrame = 0.0;
};

}  // namespace zapum
