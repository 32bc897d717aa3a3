import QtQuick

// The bee itself: its web page (or the emoji when the page cannot be shown) under a click target
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
        // Chosen on the first layout with a size, and never the page again after a failure.
        readonly property bool usePage: button.bee.beePageUrl.toString() !== ""
        active: button.width > 0
        source: usePage ? "BeeWebView.qml" : "EmojiBee.qml"
        onLoaded: {
            if (usePage) {
                item.pageUrl = button.bee.beePageUrl
                item.failed.connect(button.bee.reportBeePageFailed)
            }
        }
        onStatusChanged: {
            if (status === Loader.Error && usePage)
                button.bee.reportBeePageFailed("the web view could not be created")
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
