import QtQuick

// The bee when its page cannot be shown: the honeybee emoji bobbing 3 points up and down.
Item {
    id: fallback
    objectName: "emojiBee"
    property real bob: -3

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        y: (fallback.height - height) / 2 + fallback.bob
        text: "\uD83D\uDC1D"
        font.family: "Noto Color Emoji"
        font.pixelSize: 40
    }

    SequentialAnimation on bob {
        loops: Animation.Infinite
        NumberAnimation { from: -3; to: 3; duration: 750; easing.type: Easing.Bezier; easing.bezierCurve: [0.42, 0, 0.58, 1, 1, 1] }
        NumberAnimation { from: 3; to: -3; duration: 750; easing.type: Easing.Bezier; easing.bezierCurve: [0.42, 0, 0.58, 1, 1, 1] }
    }
}
