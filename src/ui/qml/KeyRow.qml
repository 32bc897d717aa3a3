import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// One API key in the settings window: a secret field with Save and Clear, and whether a key is
// stored. The typed key never leaves the field except through Save.
ColumnLayout {
    id: keyRow
    required property QtObject settings
    property string title
    property string account
    property string placeholder
    property bool present
    property string storedText
    property string missingText
    Layout.fillWidth: true

    PopoverTheme { id: theme }

    Label { text: keyRow.title }
    RowLayout {
        TextField {
            id: keyField
            objectName: keyRow.account + "KeyField"
            Layout.fillWidth: true
            echoMode: TextInput.Password
            placeholderText: keyRow.placeholder
        }
        Button {
            objectName: keyRow.account + "SaveButton"
            text: "Save"
            enabled: keyRow.settings.canSaveKey(keyField.text)
            onClicked: {
                if (!enabled)
                    return
                keyRow.settings.saveKey(keyRow.account, keyField.text)
                keyField.text = ""
            }
        }
        Button {
            objectName: keyRow.account + "ClearButton"
            text: "Clear"
            enabled: keyRow.present
            onClicked: keyRow.settings.clearKey(keyRow.account)
        }
    }
    RowLayout {
        TintedIcon { name: keyRow.present ? "step-done" : "warning"; color: keyRow.present ? theme.done : "#e08a00"; size: 12 }
        Caption { text: keyRow.present ? keyRow.storedText : keyRow.missingText }
    }
}
