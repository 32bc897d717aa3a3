import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Typed questions: the answer (or why there is none) above, the question field below.
ColumnLayout {
    id: ask
    required property QtObject model
    required property QtObject theme
    spacing: 0

    function reset() { field.text = ""; focusField() }
    function focusField() { field.forceActiveFocus() }
    function submit() {
        if (ask.model.submit(field.text))
            field.text = ""
    }

    RowLayout {
        objectName: "thinking"
        visible: ask.model.askWorking
        Layout.leftMargin: 14
        Layout.rightMargin: 14
        Layout.topMargin: 10
        spacing: 8
        BusyIndicator { implicitWidth: 16; implicitHeight: 16; running: parent.visible }
        Text { text: "ZaPum is thinking…"; font.pixelSize: ask.theme.subheadline; color: ask.theme.secondary }
    }

    ScrollView {
        id: responseScroll
        visible: !ask.model.askWorking && ask.model.hasResponse
        Layout.fillWidth: true
        Layout.leftMargin: 14
        Layout.rightMargin: 14
        Layout.topMargin: 8
        Layout.bottomMargin: 8
        Layout.preferredHeight: Math.min(response.implicitHeight, 220)
        contentWidth: availableWidth
        ScrollBar.vertical.policy: response.implicitHeight > 220 ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded

        ColumnLayout {
            id: response
            width: responseScroll.availableWidth
            spacing: 8

            TextEdit {
                objectName: "answer"
                visible: !ask.model.responseIsError
                Layout.fillWidth: true
                text: ask.model.responseIsError ? "" : ask.model.responseText
                readOnly: true
                selectByMouse: true
                wrapMode: TextEdit.Wrap
                font.pixelSize: ask.theme.body
                color: ask.theme.primary
                selectionColor: ask.theme.accent
            }
            RowLayout {
                objectName: "error"
                visible: ask.model.responseIsError
                Layout.fillWidth: true
                spacing: 6
                TintedIcon { name: "warning"; color: ask.theme.failure; size: 14; Layout.alignment: Qt.AlignTop }
                Text {
                    Layout.fillWidth: true
                    text: ask.model.responseIsError ? ask.model.responseText : ""
                    wrapMode: Text.Wrap
                    font.pixelSize: ask.theme.subheadline
                    color: ask.theme.failure
                }
            }
            RowLayout {
                spacing: 8
                Button {
                    objectName: "copyButton"
                    text: "Copy"
                    flat: true
                    visible: !ask.model.responseIsError
                    font.pixelSize: ask.theme.caption
                    onClicked: ask.model.copyAnswer()
                }
                Button {
                    objectName: "askAgainButton"
                    text: "Ask again"
                    flat: true
                    font.pixelSize: ask.theme.caption
                    onClicked: { ask.model.askAgain(); ask.focusField() }
                }
            }
        }
    }

    Text {
        visible: !ask.model.askWorking && !ask.model.hasResponse
        Layout.leftMargin: 14
        Layout.rightMargin: 14
        Layout.topMargin: 10
        Layout.bottomMargin: 10
        text: "Ask ZaPum anything about your workspace…"
        font.pixelSize: ask.theme.caption
        color: ask.theme.secondary
    }

    Divider { Layout.fillWidth: true }

    RowLayout {
        objectName: "questionRow"
        Layout.fillWidth: true
        Layout.leftMargin: 10
        Layout.rightMargin: 10
        Layout.topMargin: 8
        Layout.bottomMargin: 8
        spacing: 8

        // One line to start, growing to four, then scrolling with the cursor.
        ScrollView {
            id: fieldScroll
            Layout.fillWidth: true
            Layout.preferredHeight: Math.min(field.implicitHeight,
                                             fontMetrics.lineSpacing * 4 + field.topPadding + field.bottomPadding)
            contentWidth: availableWidth
            FontMetrics { id: fontMetrics; font: field.font }

            TextArea {
                id: field
                objectName: "questionField"
                placeholderText: "Ask something…"
                wrapMode: TextEdit.Wrap
                font.pixelSize: ask.theme.subheadline
                background: null
                Accessible.name: "Question input"
                Keys.onReturnPressed: function(event) {
                    if (event.modifiers & Qt.ShiftModifier)
                        event.accepted = false  // a line break
                    else
                        ask.submit()
                }
                Keys.onEnterPressed: function(event) { ask.submit() }
                // Keep the line being typed in view.
                onCursorRectangleChanged: {
                    const flick = fieldScroll.contentItem
                    if (cursorRectangle.y < flick.contentY)
                        flick.contentY = cursorRectangle.y
                    else if (cursorRectangle.y + cursorRectangle.height > flick.contentY + flick.height)
                        flick.contentY = cursorRectangle.y + cursorRectangle.height - flick.height + bottomPadding
                }
            }
        }
        IconButton {
            objectName: "sendButton"
            readonly property bool ready: ask.model.canSend(field.text)
            name: "send"
            size: 20
            color: field.text.trim().length > 0 ? ask.theme.accent : ask.theme.secondary
            enabled: ready
            accessibleName: "Send question"
            onClicked: ask.submit()
            Layout.alignment: Qt.AlignBottom
        }
    }
}
