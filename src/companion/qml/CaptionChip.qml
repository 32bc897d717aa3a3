import QtQuick

// What was heard or is being said, scrolled so the newest words stay in view; the state's label
// when there are no words yet.
Item {
    id: chip
    required property QtObject bee
    readonly property bool showsLabel: bee.chipText.length === 0
    readonly property real textHeight: words.implicitHeight + 10

    height: showsLabel ? label.implicitHeight + 4 : Math.min(textHeight, bee.chipMaxHeight)

    Item {
        anchors.fill: parent
        opacity: chip.showsLabel ? 1 : 0
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.OutQuad } }

        Text {  // a soft shadow under the label
            x: label.x
            y: label.y + 1
            text: label.text
            font: label.font
            color: Qt.rgba(0, 0, 0, 0.6)
        }
        Text {
            id: label
            objectName: "statusLabel"
            anchors.centerIn: parent
            text: chip.bee.statusLabel
            color: chip.bee.captionColor
            font.pixelSize: 10
            font.weight: Font.DemiBold
            font.letterSpacing: 0.6
        }
    }

    Rectangle {
        id: bubble
        anchors.fill: parent
        radius: 14
        color: Qt.rgba(0.11, 0.11, 0.13, 0.78)
        border.color: chip.bee.chipStrokeColor
        border.width: 0.6
        opacity: chip.showsLabel ? 0 : 1
        scale: chip.showsLabel ? 0.96 : 1
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.OutQuad } }
        Behavior on scale { NumberAnimation { duration: 180; easing.type: Easing.OutQuad } }

        Flickable {
            id: scroller
            anchors.fill: parent
            clip: true
            contentWidth: width
            contentHeight: chip.textHeight
            boundsBehavior: Flickable.StopAtBounds
            interactive: false

            Text {
                id: words
                objectName: "chipText"
                x: 10
                y: 5
                width: scroller.width - 20
                wrapMode: Text.Wrap
                text: chip.bee.chipText
                color: chip.bee.chipTextColor
                font.pixelSize: 12
                font.weight: Font.Medium
            }

            // Keep the tail in view: at once when the chip appears, eased as words arrive.
            property bool animateScroll: false
            Behavior on contentY {
                enabled: scroller.animateScroll
                NumberAnimation { duration: 150; easing.type: Easing.OutQuad }
            }
            function showTail() { contentY = Math.max(0, contentHeight - height) }
            onContentHeightChanged: showTail()
            onHeightChanged: showTail()
        }
        onVisibleChanged: {
            scroller.animateScroll = false
            scroller.showTail()
            scroller.animateScroll = true
        }
    }
}
