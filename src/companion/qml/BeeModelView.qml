import QtQuick
import QtQuick3D
import QtQuick3D.AssetUtils
import ZaPum.Companion

// The bee drawn natively from its glTF model, on a transparent background. It takes no input:
// clicks and drags belong to the panel. Qt Quick draws a new frame only when BeeMotion changes the
// pose (paced, and only while the bee moves, the panel is shown and the screen is not blanked), so a resting bee costs nothing.
View3D {
    id: view
    objectName: "beeModelView"
    signal failed(string reason)
    property url modelUrl
    property int stateKind
    property bool reduceMotion
    property bool screenIdle
    readonly property alias motion: motion
    readonly property bool loaded: loader.status === RuntimeLoader.Success

    enabled: false
    camera: camera
    environment: SceneEnvironment {
        backgroundMode: SceneEnvironment.Transparent
        antialiasingMode: SceneEnvironment.MSAA
        antialiasingQuality: SceneEnvironment.Medium
    }

    BeeMotion {
        id: motion
        // The item holding the 3D view: a View3D does not announce when it joins a window.
        view: view.parent
        loaded: view.loaded
        stateKind: view.stateKind
        reduceMotion: view.reduceMotion
        screenIdle: view.screenIdle
    }

    // Framed from the model's bounds as seen from the camera (turned three-quarters towards it),
    // with room for the wings and the bob. The bounds are taken once, at rest, before the bee
    // moves: they follow the wings, and a bee framed mid-beat would stay smaller for good.
    readonly property real yaw: -26
    property vector3d low
    property vector3d high
    readonly property real yawRadians: yaw * Math.PI / 180
    readonly property real seenWidth: (high.x - low.x) * Math.abs(Math.cos(yawRadians))
                                      + (high.z - low.z) * Math.abs(Math.sin(yawRadians))
    readonly property real radius: Math.max(0.01, Math.max(seenWidth, high.y - low.y) / 2)
    readonly property real fov: 30
    readonly property real distance: radius * 1.04 / Math.tan(fov * Math.PI / 360) + radius * 0.3

    PerspectiveCamera {
        id: camera
        fieldOfView: view.fov
        clipNear: view.distance / 20
        clipFar: view.distance * 4
        position: Qt.vector3d(0, view.radius * 0.25, view.distance)
        eulerRotation.x: -Math.atan2(view.radius * 0.25, view.distance) * 180 / Math.PI
    }

    // A key light from above, behind the camera's right shoulder, a soft fill from the left, and
    // enough ambient light that the black stripes keep their shape.
    DirectionalLight {
        eulerRotation: Qt.vector3d(-40, 210, 0)
        brightness: 2.2
        ambientColor: Qt.rgba(0.45, 0.43, 0.4, 1)
    }
    DirectionalLight {
        eulerRotation: Qt.vector3d(-10, 110, 0)
        brightness: 0.6
    }

    Node {
        eulerRotation.y: view.yaw
        eulerRotation.z: motion.tilt
        y: motion.lift * view.radius

        RuntimeLoader {
            id: loader
            source: view.modelUrl
            position: Qt.vector3d(-(view.low.x + view.high.x) / 2, -(view.low.y + view.high.y) / 2,
                                  -(view.low.z + view.high.z) / 2)
            // Once the loader has built the model's nodes, which is after it reports the status.
            onStatusChanged: Qt.callLater(view.settle)
            onBoundsChanged: Qt.callLater(view.settle)
        }
    }

    function settle() {
        if (loader.status === RuntimeLoader.Error) {
            view.failed(loader.errorString)
            return
        }
        const bounds = loader.bounds
        const framed = !high.fuzzyEquals(low)
        if (loader.status !== RuntimeLoader.Success || framed || bounds.maximum.fuzzyEquals(bounds.minimum))
            return
        low = bounds.minimum
        high = bounds.maximum
        motion.attach(loader)
    }
    Component.onCompleted: Qt.callLater(view.settle)
}
