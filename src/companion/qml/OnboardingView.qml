import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import "qrc:/zapum/ui"

// The welcome walkthrough: three pages that cross-fade, page dots, and Back / Continue / Get started.
Pane {
    id: root
    required property QtObject manager
    // A StartAtLoginStore, offered on the last page; absent in views built without one.
    property QtObject startAtLogin: null
    property int page: 0
    readonly property var steps: manager.steps

    width: 520
    height: 440
    padding: 0
    focus: true

    PopoverTheme { id: theme }

    function goBack() { page = manager.pageAfterKey(page, true) }
    function goForward() {
        if (manager.isLastPage(page))
            manager.finish()
        else
            page = manager.pageAfterKey(page, false)
    }

    Keys.onEscapePressed: goBack()
    Keys.onReturnPressed: goForward()
    Keys.onEnterPressed: goForward()

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Item { Layout.fillHeight: true }

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 240
            Repeater {
                model: root.steps
                delegate: ColumnLayout {
                    required property var modelData
                    required property int index
                    anchors.centerIn: parent
                    width: parent.width - 64
                    spacing: 12
                    opacity: index === root.page ? 1 : 0
                    visible: opacity > 0
                    Behavior on opacity { NumberAnimation { duration: 250; easing.type: Easing.InOutQuad } }

                    Text {
                        visible: modelData.isEmoji
                        Layout.alignment: Qt.AlignHCenter
                        text: modelData.icon
                        font.pixelSize: 64
                    }
                    TintedIcon {
                        visible: !modelData.isEmoji
                        Layout.alignment: Qt.AlignHCenter
                        name: modelData.isEmoji ? "" : modelData.icon
                        size: 56
                        color: theme.accent
                    }
                    Label {
                        Layout.fillWidth: true
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        text: modelData.title
                        font.pixelSize: 20
                        font.weight: Font.DemiBold
                        objectName: "pageTitle" + index
                    }
                    Label {
                        Layout.fillWidth: true
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        text: modelData.body
                        color: theme.secondary
                    }
                }
            }
        }

        Row {
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 16
            spacing: 8
            Repeater {
                model: root.steps.length
                delegate: Rectangle {
                    required property int index
                    width: 8; height: 8; radius: 4
                    color: index === root.page ? theme.accent : theme.secondary
                    opacity: index === root.page ? 1 : 0.35
                }
            }
        }

        Item { Layout.preferredHeight: 20 }

        // The last page offers to come back after every log-in; off until the person turns it on.
        Switch {
            objectName: "onboardingStartAtLoginSwitch"
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 8
            // Its room is kept on every page, so the pages above do not jump when it appears.
            visible: root.startAtLogin !== null
            enabled: root.manager.isLastPage(root.page)
            opacity: enabled ? 1 : 0
            Behavior on opacity { NumberAnimation { duration: 250; easing.type: Easing.InOutQuad } }
            // Return and Escape stay with the walkthrough's buttons.
            focusPolicy: Qt.NoFocus
            text: "Start ZaPum when I log in"
            checked: root.startAtLogin !== null && root.startAtLogin.enabled
            onToggled: root.startAtLogin.enabled = checked
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            Layout.bottomMargin: 28
            Button {
                objectName: "backButton"
                text: "Back"
                visible: root.manager.showsBack(root.page)
                onClicked: root.goBack()
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "forwardButton"
                text: root.manager.isLastPage(root.page) ? "Get started" : "Continue"
                highlighted: true
                onClicked: root.goForward()
            }
        }
    }
}
