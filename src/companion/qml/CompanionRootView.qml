import QtQuick

// The companion panel's content: the bee at the bottom, the voice card above it while a
// conversation is under way. The panel's size and place are the companion manager's business.
Item {
    id: root
    required property QtObject bee
    required property QtObject gesture

    BeeHitButton {
        id: beeButton
        bee: root.bee
        gesture: root.gesture
        width: root.bee.side
        height: root.bee.side
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
    }

    VoiceBarCard {
        bee: root.bee
        gesture: root.gesture
        shown: root.bee.active
        anchors.bottom: beeButton.top
        anchors.bottomMargin: 6
        anchors.horizontalCenter: parent.horizontalCenter
    }
}
