import QtQuick

Rectangle {
    implicitHeight: 1
    color: Qt.rgba(0.5, 0.5, 0.5, 0.3)
}
