import QtQuick

// The bee itself: its 3D model (or the emoji when the model cannot be shown) under a click target
// that opens the guidance popover. Dragging anywhere on the panel moves it (the drag gesture
// watches the whole window), so a press that became a drag is not a click.
Item {
    id: button
    required property QtObject bee
    required property QtObject gesture

    Accessible.role: Accessible.Button
    Accessible.name: "ZaPum companion"
    Accessible.description: bee.talkHint

    Loader {
        id: content
        objectName: "beeContent"
        anchors.fill: parent
        // Chosen on the first layout with a size, and never the model again after a failure.
        readonly property bool useModel: button.bee.beeModelUrl.toString() !== ""
        active: button.width > 0
        source: useModel ? "BeeModelView.qml" : "EmojiBee.qml"
        onLoaded: {
            item.screenIdle = Qt.binding(() => button.bee.screenIdle)
            if (useModel) {
                item.stateKind = Qt.binding(() => button.bee.stateKind)
                item.reduceMotion = Qt.binding(() => button.bee.reduceMotion)
                // Later, not inside the failing view's own signal: the fallback replaces that view.
                item.failed.connect(reason => Qt.callLater(button.bee.reportBeeModelFailed, reason))
                item.modelUrl = button.bee.beeModelUrl
            }
        }
        onStatusChanged: {
            if (status === Loader.Error && useModel)
                button.bee.reportBeeModelFailed("the 3D view could not be created")
        }
    }

    MouseArea {
        anchors.fill: parent
        onClicked: {
            if (!button.gesture.dragged)
                button.bee.togglePopover()
        }
    }
}
