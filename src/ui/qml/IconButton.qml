import QtQuick

// A plain button that is only an icon.
Item {
    id: button
    property alias name: icon.name
    property alias color: icon.color
    property int size: 16
    property string accessibleName
    signal clicked()

    implicitWidth: size + 4
    implicitHeight: size + 4
    opacity: enabled ? 1 : 0.5
    Accessible.role: Accessible.Button
    Accessible.name: accessibleName
    Accessible.onPressAction: if (enabled) clicked()

    TintedIcon { id: icon; anchors.centerIn: parent; size: button.size }
    MouseArea {
        anchors.fill: parent
        enabled: button.enabled
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }
}
