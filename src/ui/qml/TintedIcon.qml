import QtQuick
import QtQuick.Layouts

// One of our SVG icons, drawn in the given colour.
Image {
    property string name
    property color color: "black"
    property int size: 16
    readonly property string hex: color.toString().substring(1)
    source: name ? "image://zapumicon/" + name + "/" + hex : ""
    sourceSize: Qt.size(size * 2, size * 2)
    width: size
    height: size
    Layout.preferredWidth: size
    Layout.preferredHeight: size
    smooth: true
}
