import QtQuick
import QtQuick.Layouts

// One step of the checklist: done or pending, its title and, when there is one, a detail line.
RowLayout {
    id: row
    required property var step
    required property QtObject theme
    spacing: 10
    Accessible.role: Accessible.StaticText
    Accessible.name: (step.isDone ? "Done" : "Pending") + ", " + step.title + (step.detail ? ", " + step.detail : "")

    TintedIcon {
        Layout.alignment: Qt.AlignTop
        name: row.step.isDone ? "step-done" : "step-pending"
        color: row.step.isDone ? row.theme.done : row.theme.secondary
        size: 16
    }
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        Text {
            Layout.fillWidth: true
            text: row.step.title
            wrapMode: Text.Wrap
            font.pixelSize: row.theme.body
            font.weight: Font.Medium
            color: row.theme.primary
        }
        Text {
            Layout.fillWidth: true
            visible: text.length > 0
            text: row.step.detail || ""
            wrapMode: Text.Wrap
            font.pixelSize: row.theme.caption
            color: row.theme.secondary
        }
    }
}
