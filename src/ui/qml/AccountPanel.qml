import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The floating account panel: the account view with its close button.
Pane {
    id: panel
    required property QtObject account
    signal closeRequested()

    width: 440
    height: 400
    padding: 16

    Flickable {
        anchors.fill: parent
        contentHeight: accountView.implicitHeight
        clip: true
        AccountView {
            id: accountView
            width: parent.width
            account: panel.account
            showClose: true
            onCloseRequested: panel.closeRequested()
        }
    }
}
