import QtQuick
import QtQuick.Layouts

// The guidance popover: who is signed in, and two tabs — typed questions and the guidance
// checklist. It only reads the model and asks it to act.
Rectangle {
    id: popover
    required property QtObject model
    required property QtObject bee

    property int selectedTab: 0  // 0 = Ask, 1 = Activity

    width: 380
    height: Math.min(column.implicitHeight, 560)
    color: theme.window
    border.color: theme.hairline
    border.width: 1

    Accessible.role: Accessible.Pane
    Accessible.name: "Guidance"

    PopoverTheme { id: theme }

    function dismiss() { popover.bee.popoverOpen = false }

    // Each showing starts like a fresh popover: on the Ask tab, with an empty field in focus.
    function prepareToShow() {
        selectedTab = 0
        askTab.reset()
    }

    Shortcut {
        sequences: [StandardKey.Cancel]
        context: Qt.WindowShortcut
        onActivated: popover.dismiss()
    }

    ColumnLayout {
        id: column
        width: parent.width
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 14
            Layout.rightMargin: 14
            Layout.topMargin: 12
            Layout.bottomMargin: 6
            spacing: 6

            TintedIcon {
                visible: popover.model.showsLinkedIcon
                name: "signed-in"
                color: theme.secondary
                size: 14
            }
            Text {
                objectName: "header"
                Layout.fillWidth: true
                text: popover.model.headerText
                elide: Text.ElideRight
                font.pixelSize: theme.caption
                color: theme.secondary
                Accessible.role: Accessible.StaticText
                Accessible.name: popover.model.headerAccessibleLabel
            }
            IconButton {
                objectName: "closeButton"
                name: "close"
                color: theme.tertiary
                accessibleName: "Close"
                onClicked: popover.dismiss()
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            spacing: 0
            Repeater {
                model: ["Ask", "Activity"]
                delegate: Item {
                    id: tab
                    required property string modelData
                    required property int index
                    readonly property bool selected: popover.selectedTab === index
                    objectName: "tab" + modelData
                    Layout.fillWidth: true
                    implicitHeight: tabLabel.implicitHeight + 14
                    Accessible.role: Accessible.PageTab
                    Accessible.name: modelData
                    Accessible.selected: selected
                    Text {
                        id: tabLabel
                        anchors.centerIn: parent
                        text: tab.modelData
                        font.pixelSize: theme.subheadline
                        font.weight: tab.selected ? Font.DemiBold : Font.Normal
                        color: tab.selected ? theme.primary : theme.secondary
                    }
                    Rectangle {
                        anchors.bottom: parent.bottom
                        width: parent.width
                        height: 2
                        color: theme.accent
                        opacity: tab.selected ? 1 : 0
                        Behavior on opacity { NumberAnimation { duration: 180; easing.type: Easing.InOutQuad } }
                    }
                    MouseArea {
                        anchors.fill: parent
                        onClicked: popover.selectedTab = tab.index
                    }
                }
            }
        }

        Divider { Layout.fillWidth: true }

        Item {
            Layout.fillWidth: true
            implicitHeight: popover.selectedTab === 0 ? askTab.implicitHeight : activityTab.implicitHeight

            AskTab {
                id: askTab
                width: parent.width
                model: popover.model
                theme: theme
                visible: opacity > 0
                opacity: popover.selectedTab === 0 ? 1 : 0
                Behavior on opacity { NumberAnimation { duration: 180 } }
                onVisibleChanged: if (visible) focusField()
            }
            ActivityTab {
                id: activityTab
                width: parent.width
                model: popover.model
                theme: theme
                visible: opacity > 0
                opacity: popover.selectedTab === 1 ? 1 : 0
                Behavior on opacity { NumberAnimation { duration: 180 } }
                onPrimaryActionTaken: popover.dismiss()
            }
        }
    }
}
