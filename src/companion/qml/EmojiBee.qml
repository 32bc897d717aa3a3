import QtQuick

// The bee when its model cannot be shown: the honeybee emoji bobbing 3 points up and down, 0.75 s
// each way. Stepped 20 times a second rather than on every display frame: a bob this small looks
// the same, and the idle companion stays cheap.
Item {
    id: fallback
    objectName: "emojiBee"
    property real bob: -3
    // Set while the screen is blanked or locked: the bob waits, as no one sees it.
    property bool screenIdle
    readonly property real started: Date.now()

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        y: (fallback.height - height) / 2 + fallback.bob
        text: "\uD83D\uDC1D"
        font.family: "Noto Color Emoji"
        font.pixelSize: 40
    }

    // Ease-in-ease-out (cubic Bézier 0.42, 0, 0.58, 1) over each 0.75 s leg, up then down.
    function eased(p) {
        // Solve x(s) = p for the curve parameter s by a few Newton steps, then return y(s).
        let s = p
        for (let i = 0; i < 6; ++i) {
            const x = 3 * (1 - s) * (1 - s) * s * 0.42 + 3 * (1 - s) * s * s * 0.58 + s * s * s
            const dx = 3 * (1 - s) * (1 - s) * 0.42 + 6 * (1 - s) * s * (0.58 - 0.42) + 3 * s * s * (1 - 0.58)
            if (dx === 0)
                break
            s = Math.min(1, Math.max(0, s - (x - p) / dx))
        }
        return 3 * (1 - s) * s * s + s * s * s
    }

    Timer {
        interval: 50
        repeat: true
        running: fallback.visible && !fallback.screenIdle
        onTriggered: {
            const t = ((Date.now() - fallback.started) / 750) % 2
            const leg = t < 1 ? t : 2 - t
            fallback.bob = -3 + 6 * fallback.eased(leg)
        }
    }
}
