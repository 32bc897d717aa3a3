import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// The click confirmation toast: what is about to happen, how long until it does, and a way out.
// Everything it shows comes from `countdown` (a ToastCountdown).
Item {
    id: toast

    property QtObject countdown

    width: 320
    height: 96

    // The panel itself: a dark heads-up surface, like the system's own HUD windows.
    Rectangle {
        anchors.fill: parent
        radius: 10
        color: "#e6202124"
        border.color: "#40ffffff"
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 14
        spacing: 8

        Text {
            objectName: "actionText"
            Layout.fillWidth: true
            text: toast.countdown ? toast.countdown.action : ""
            color: "#ffffff"
            font.pixelSize: 13
            font.weight: Font.Medium
            elide: Text.ElideRight
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            ProgressBar {
                id: progressBar
                objectName: "progressBar"
                Layout.fillWidth: true
                from: 0
                to: 1
                value: toast.countdown ? toast.countdown.progress : 0
                background: Rectangle {
                    implicitHeight: 4
                    radius: 2
                    color: "#40ffffff"
                }
                contentItem: Item {
                    implicitHeight: 4
                    Rectangle {
                        width: progressBar.visualPosition * parent.width
                        height: parent.height
                        radius: 2
                        color: "#4c9aff"
                    }
                }
            }

            Text {
                objectName: "secondsLabel"
                text: toast.countdown ? toast.countdown.secondsLabel : ""
                color: "#a0a4ab"
                font.pixelSize: 11
                font.family: "monospace"
            }
        }

        RowLayout {
            Layout.fillWidth: true

            Item {
                Layout.fillWidth: true
            }

            Button {
                id: cancelButton
                objectName: "cancelButton"
                text: "Cancel"
                font.pixelSize: 12
                topPadding: 2
                bottomPadding: 2
                leftPadding: 14
                rightPadding: 14
                focusPolicy: Qt.NoFocus
                onClicked: toast.countdown.cancel()

                contentItem: Text {
                    text: cancelButton.text
                    font: cancelButton.font
                    color: "#ffffff"
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    implicitHeight: 20
                    radius: 5
                    color: cancelButton.down ? "#2a2b2f" : (cancelButton.hovered ? "#55575d" : "#45474c")
                    border.color: "#30ffffff"
                }
            }
        }
    }

    // Reaches the toast only if it ever has the keyboard; while another app has it, the owner
    // of the toast watches Escape on the desktop instead.
    Shortcut {
        sequence: "Escape"
        onActivated: toast.countdown.cancel()
    }
}
