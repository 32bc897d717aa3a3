import QtQuick

// Colours and text sizes of the popover, from the desktop's palette.
QtObject {
    readonly property SystemPalette palette: SystemPalette { colorGroup: SystemPalette.Active }
    readonly property color window: palette.window
    readonly property color primary: palette.windowText
    readonly property color secondary: Qt.rgba(primary.r, primary.g, primary.b, 0.62)
    readonly property color tertiary: Qt.rgba(primary.r, primary.g, primary.b, 0.38)
    readonly property color hairline: Qt.rgba(primary.r, primary.g, primary.b, 0.16)
    readonly property color accent: palette.highlight
    readonly property color done: "#2e9d4f"
    readonly property color failure: "#d93025"
    readonly property int caption: 11
    readonly property int subheadline: 12
    readonly property int body: 13
}
