import QtQuick
import ZaPum.Companion

// The card above the bee while a conversation is under way: seven voice bars and the caption
// chip. Tapping it toggles push-to-talk.
Item {
    id: card
    objectName: "voiceCard"
    required property QtObject bee
    required property QtObject gesture
    property bool shown: false

    width: 240
    height: 112
    visible: opacity > 0
    opacity: 0
    property real slide: 12
    property real grow: 0.88

    transform: [
        Scale { origin.x: card.width / 2; origin.y: card.height; xScale: card.grow; yScale: card.grow },
        Translate { y: card.slide }
    ]

    states: State {
        name: "shown"
        when: card.shown
        PropertyChanges { target: card; opacity: 1; slide: 0; grow: 1 }
    }
    transitions: [
        Transition {
            to: "shown"
            NumberAnimation { properties: "opacity,slide,grow"; duration: 420; easing.type: Easing.OutBack; easing.overshoot: 0.5 }
        },
        Transition {
            from: "shown"
            SequentialAnimation {
                ParallelAnimation {
                    NumberAnimation { property: "opacity"; to: 0; duration: 240; easing.type: Easing.InOutQuad }
                    NumberAnimation { property: "slide"; to: 8; duration: 240; easing.type: Easing.InOutQuad }
                }
                PropertyAction { properties: "slide,grow" }
            }
        }
    ]

    Column {
        anchors.bottom: parent.bottom
        width: parent.width
        spacing: 6

        VoiceBars {
            objectName: "voiceBars"
            width: parent.width
            height: 60
            // Hidden while the screen is blanked or locked, which stops its frame timer.
            visible: card.visible && !card.bee.screenIdle
            stateKind: card.bee.stateKind
            reduceMotion: card.bee.reduceMotion
            amplitude: card.bee.amplitude
        }

        CaptionChip {
            x: 6
            width: parent.width - 12
            bee: card.bee
        }
    }

    MouseArea {
        anchors.fill: parent
        enabled: card.shown
        onClicked: {
            if (!card.gesture.dragged)
                card.bee.togglePushToTalk()
        }
    }
}
