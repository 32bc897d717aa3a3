import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The guidance checklist and three categories that have nothing in them yet.
ColumnLayout {
    id: activity
    required property QtObject model
    required property QtObject theme
    property string selectedCategory: "workspace"
    signal primaryActionTaken()
    spacing: 0

    readonly property var categories: [
        { key: "workspace", label: "Workspace", icon: "workspace" },
        { key: "tasks", label: "Tasks", icon: "tasks",
          title: "No tasks yet",
          detail: "When ZaPum spots something you need to do across your workspace, it will show up here." },
        { key: "bookmarks", label: "Bookmarks", icon: "bookmarks",
          title: "No bookmarks",
          detail: "Pin important docs, dashboards, and URLs to jump back to them without hunting." },
        { key: "issues", label: "Issues", icon: "issues",
          title: "No open issues",
          detail: "Friction signals and errors your users hit will surface here so you can fix the path." }
    ]
    readonly property var current: categories.find(c => c.key === selectedCategory)

    RowLayout {
        Layout.leftMargin: 12
        Layout.rightMargin: 12
        Layout.topMargin: 8
        Layout.bottomMargin: 8
        spacing: 6
        Repeater {
            model: activity.categories
            delegate: Rectangle {
                id: chip
                required property var modelData
                readonly property bool selected: activity.selectedCategory === modelData.key
                readonly property color tint: selected ? activity.theme.accent : activity.theme.secondary
                objectName: "category-" + modelData.key
                implicitWidth: chipRow.implicitWidth + 20
                implicitHeight: chipRow.implicitHeight + 10
                radius: 6
                color: "transparent"
                border.width: 1
                border.color: selected ? Qt.rgba(activity.theme.accent.r, activity.theme.accent.g, activity.theme.accent.b, 0.35)
                                       : "transparent"
                Accessible.role: Accessible.Button
                Accessible.name: modelData.label + " activity"
                Accessible.selected: selected
                Row {
                    id: chipRow
                    anchors.centerIn: parent
                    spacing: 4
                    TintedIcon { name: chip.modelData.icon; color: chip.tint; size: 12; anchors.verticalCenter: parent.verticalCenter }
                    Text { text: chip.modelData.label; color: chip.tint; font.pixelSize: activity.theme.caption }
                }
                MouseArea { anchors.fill: parent; onClicked: activity.selectedCategory = chip.modelData.key }
            }
        }
    }

    Divider { Layout.fillWidth: true }

    ScrollView {
        id: guidanceScroll
        visible: activity.selectedCategory === "workspace"
        Layout.fillWidth: true
        Layout.preferredHeight: Math.min(guidance.implicitHeight, 340)
        contentWidth: availableWidth

        ColumnLayout {
            id: guidance
            objectName: "guidanceList"
            width: guidanceScroll.availableWidth
            spacing: 0

            ColumnLayout {
                Layout.margins: 14
                Layout.fillWidth: true
                spacing: 12

                ColumnLayout {
                    spacing: 2
                    Layout.fillWidth: true
                    Text {
                        objectName: "guidanceTitle"
                        Layout.fillWidth: true
                        text: activity.model.title
                        wrapMode: Text.Wrap
                        font.pixelSize: activity.theme.body
                        font.weight: Font.DemiBold
                        color: activity.theme.primary
                    }
                    Text {
                        Layout.fillWidth: true
                        text: activity.model.subtitle
                        wrapMode: Text.Wrap
                        font.pixelSize: activity.theme.subheadline
                        color: activity.theme.secondary
                    }
                }
                Divider { Layout.fillWidth: true }
                Repeater {
                    model: activity.model.steps
                    delegate: GuidanceStepRow {
                        required property var modelData
                        Layout.fillWidth: true
                        step: modelData
                        theme: activity.theme
                    }
                }
                Button {
                    objectName: "primaryAction"
                    visible: activity.model.hasPrimaryAction
                    text: activity.model.primaryActionLabel
                    highlighted: true
                    onClicked: {
                        activity.model.openPrimaryAction()
                        activity.primaryActionTaken()
                    }
                }
            }
        }
    }

    ColumnLayout {
        objectName: "emptyState"
        visible: activity.selectedCategory !== "workspace"
        Layout.fillWidth: true
        Layout.topMargin: 14
        Layout.bottomMargin: 14
        spacing: 6
        Accessible.role: Accessible.StaticText
        Accessible.name: activity.current && activity.current.title ? activity.current.title + ". " + activity.current.detail : ""

        Item { Layout.preferredHeight: 10 }
        TintedIcon {
            Layout.alignment: Qt.AlignHCenter
            name: activity.current ? activity.current.icon : ""
            color: activity.theme.tertiary
            size: 28
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: activity.current && activity.current.title ? activity.current.title : ""
            font.pixelSize: activity.theme.subheadline
            font.weight: Font.DemiBold
            color: activity.theme.secondary
        }
        Text {
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: activity.current && activity.current.detail ? activity.current.detail : ""
            font.pixelSize: activity.theme.caption
            color: activity.theme.tertiary
        }
        Item { Layout.preferredHeight: 10 }
    }
}
