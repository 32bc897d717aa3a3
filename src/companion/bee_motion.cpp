#include "companion/bee_motion.h"

#include <QColor>
#include <QQmlListReference>
#include <QVector3D>
#include <QtQml/qqml.h>
#include <QtQuick3D/QQuick3DObject>

#include <algorithm>
#include <numbers>

namespace zapum {

namespace {

// Whether a model's first material lets light through: in our bee, that is the wings.
bool isTranslucentModel(QObject *node)
{
    QQmlListReference materials(node, "materials");
    if (!materials.isValid() || materials.count() == 0)
        return false;
    QObject *material = materials.at(0);
    if (!material)
        return false;
    // PrincipledMaterial.Blend; a glTF "BLEND" material arrives with it and a base colour alpha < 1.
    constexpr int kBlend = 2;
    return material->property("alphaMode").toInt() == kBlend
           || material->property("baseColor").value<QColor>().alphaF() < 0.99f;
}

void collectModels(QQuick3DObject *object, QList<QQuick3DObject *> &models)
{
    for (QQuick3DObject *child : object->childItems()) {
        if (child->metaObject()->indexOfProperty("materials") >= 0)
            models.append(child);
        collectModels(child, models);
    }
}

}  // namespace

BeeMotion::BeeMotion(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BeeMotion::advance);
    m_clock.start();
    m_pose = beePose(m_kind, 0.0, m_reduceMotion);
}

void BeeMotion::registerQmlType()
{
    static const bool registered = [] {
        qmlRegisterType<BeeMotion>("ZaPum.Companion", 1, 0, "BeeMotion");
        return true;
    }();
    Q_UNUSED(registered);
}

void BeeMotion::setView(QQuickItem *view)
{
    if (view == m_view)
        return;
    if (m_view)
        disconnect(m_view, nullptr, this, nullptr);
    m_view = view;
    if (m_view) {
        connect(m_view, &QQuickItem::visibleChanged, this, &BeeMotion::updateRunning);
        connect(m_view, &QQuickItem::windowChanged, this, &BeeMotion::updateRunning);
    }
    Q_EMIT viewChanged();
    updateRunning();
}

void BeeMotion::setLoaded(bool loaded)
{
    if (loaded == m_loaded)
        return;
    m_loaded = loaded;
    Q_EMIT loadedChanged();
    updateRunning();
}

void BeeMotion::setScreenIdle(bool idle)
{
    if (idle == m_screenIdle)
        return;
    m_screenIdle = idle;
    Q_EMIT screenIdleChanged();
    updateRunning();
}

void BeeMotion::updateRunning()
{
    QQuickWindow *window = m_view ? m_view->window() : nullptr;
    if (window != m_window) {
        if (m_window)
            disconnect(m_window, nullptr, this, nullptr);
        m_window = window;
        if (m_window)
            connect(m_window, &QWindow::visibleChanged, this, &BeeMotion::updateRunning);
    }
    const bool running =
        m_loaded && !m_screenIdle && m_view && m_view->isVisible() && window && window->isVisible();
    if (running == m_running)
        return;
    m_running = running;
    Q_EMIT runningChanged();
    if (m_running)
        advance();
    else
        m_timer.stop();
}

void BeeMotion::setStateKind(int kind)
{
    const auto newKind = VoiceBeeState::Kind(std::clamp(kind, 0, int(VoiceBeeState::Kind::Error)));
    if (newKind == m_kind)
        return;
    m_kind = newKind;
    Q_EMIT stateKindChanged();
    if (m_running)
        advance();
}

void BeeMotion::setReduceMotion(bool reduce)
{
    if (reduce == m_reduceMotion)
        return;
    m_reduceMotion = reduce;
    Q_EMIT reduceMotionChanged();
    if (m_running)
        advance();
}

void BeeMotion::attach(QObject *modelRoot)
{
    for (const Wing &wing : std::as_const(m_wings))
        if (wing.node)
            wing.node->setProperty("rotation", wing.rest);
    m_wings.clear();
    if (auto *root = qobject_cast<QQuick3DObject *>(modelRoot)) {
        QList<QQuick3DObject *> models;
        collectModels(root, models);
        for (QQuick3DObject *model : std::as_const(models)) {
            if (!isTranslucentModel(model))
                continue;
            const double z = model->property("position").value<QVector3D>().z();
            m_wings.append({model, model->property("rotation").value<QQuaternion>(), z < 0 ? -1.0 : 1.0});
        }
    }
    Q_EMIT wingsChanged();
    applyWings();
}

void BeeMotion::advance()
{
    if (!m_running)
        return;
    const double seconds = double(m_clock.elapsed()) / 1000.0;
    const BeePose pose = beePose(m_kind, seconds, m_reduceMotion);
    if (!(pose == m_pose)) {
        m_pose = pose;
        ++m_frames;
        applyWings();
        Q_EMIT poseChanged();
    }
    const int next = beeNextFrameMs(m_kind, seconds, m_reduceMotion);
    if (next < 0)
        m_timer.stop();
    else
        m_timer.start(next);
}

void BeeMotion::applyWings()
{
    const float degrees = float(m_pose.wingRadians * 180.0 / std::numbers::pi);
    for (const Wing &wing : std::as_const(m_wings)) {
        if (!wing.node)
            continue;
        // Turned about the parent's long axis at the wing's root (the node's origin).
        const QQuaternion beat = QQuaternion::fromAxisAndAngle(1.0f, 0.0f, 0.0f, float(wing.side) * degrees);
        wing.node->setProperty("rotation", beat * wing.rest);
    }
}

}  // namespace zapum
