import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Sign-in and who is signed in. The same view sits in the account panel (with "Close") and in the
// settings window's Account tab (without).
ColumnLayout {
    id: view
    required property QtObject account
    property bool showClose: false
    signal closeRequested()

    property string email: ""
    property bool showAdvanced: false

    spacing: 10

    PopoverTheme { id: theme }

    // The e-mail of the signed-in user is the natural default for the next sign-in.
    function takeSessionEmail() {
        if (account.isSignedIn)
            emailField.text = account.email
    }
    Component.onCompleted: takeSessionEmail()
    Connections {
        target: view.account
        function onSessionChanged() { view.takeSessionEmail() }
    }

    GroupBox {
        title: "ZaPum account"
        Layout.fillWidth: true

        ColumnLayout {
            anchors.fill: parent
            spacing: 8

            // Signed in
            GridLayout {
                visible: view.account.isSignedIn
                columns: 2
                columnSpacing: 12
                Label { text: "Signed in as"; color: theme.secondary }
                TextEdit {
                    objectName: "signedInEmail"
                    text: view.account.email; readOnly: true; selectByMouse: true; color: theme.primary
                }
                Label { text: "ZaPum user id"; color: theme.secondary }
                TextEdit {
                    text: view.account.userId; readOnly: true; selectByMouse: true; color: theme.primary
                    font.family: "monospace"
                }
            }
            Label {
                visible: view.account.isSignedIn && view.account.isLocalIdentity
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                font.pixelSize: theme.caption
                color: theme.secondary
                text: "Local identity only (no API URL). Link the same user id in your SaaS when you enable backend control."
            }
            Button {
                visible: view.account.isSignedIn
                objectName: "signOutButton"
                text: "Sign out"
                onClicked: {
                    view.account.signOut()
                    tokenField.text = ""
                }
            }

            // Signed out
            Label {
                visible: !view.account.isSignedIn
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                color: theme.secondary
                text: "Sign in with your ZaPum account in the browser — we'll use your existing web session if you already have one."
            }
            Button {
                visible: !view.account.isSignedIn
                objectName: "browserButton"
                enabled: !view.account.isBrowserSignInPending
                icon.source: view.account.isBrowserSignInPending ? "qrc:/zapum/icons/hourglass.svg" : "qrc:/zapum/icons/browser.svg"
                text: view.account.isBrowserSignInPending ? "Waiting for browser…" : "Continue with browser"
                highlighted: true
                onClicked: view.account.signInWithBrowser()
            }
            Button {
                visible: !view.account.isSignedIn
                objectName: "advancedToggle"
                flat: true
                font.pixelSize: theme.caption
                text: "Use email + token instead"
                onClicked: view.showAdvanced = !view.showAdvanced
            }
            ColumnLayout {
                visible: !view.account.isSignedIn && view.showAdvanced
                Layout.fillWidth: true
                TextField {
                    id: emailField
                    objectName: "emailField"
                    Layout.fillWidth: true
                    placeholderText: "Email"
                    inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase
                }
                TextField {
                    id: tokenField
                    objectName: "tokenField"
                    Layout.fillWidth: true
                    placeholderText: "Personal access token (or password)"
                    echoMode: TextInput.Password
                    onAccepted: tokenButton.clicked()
                }
                RowLayout {
                    Button {
                        id: tokenButton
                        objectName: "tokenButton"
                        text: "Sign in with token"
                        enabled: !view.account.isSigningIn && view.account.canSignInWithToken(emailField.text, tokenField.text)
                        onClicked: {
                            if (enabled)
                                view.account.signInWithToken(emailField.text, tokenField.text)
                        }
                    }
                    BusyIndicator {
                        visible: view.account.isSigningIn
                        running: visible
                        Layout.preferredWidth: 18
                        Layout.preferredHeight: 18
                    }
                }
            }
            Label {
                visible: !view.account.isSignedIn && view.account.signInError.length > 0
                objectName: "signInError"
                Layout.fillWidth: true
                wrapMode: Text.WordWrap
                font.pixelSize: theme.caption
                color: theme.failure
                text: view.account.signInError
            }
        }
    }

    Label {
        Layout.fillWidth: true
        wrapMode: Text.WordWrap
        font.pixelSize: theme.caption
        color: theme.secondary
        text: "Products you use can send help to this app only when their logged-in user is the same ZaPum user as on this computer."
    }
    Label {
        Layout.fillWidth: true
        wrapMode: Text.WordWrap
        font.pixelSize: theme.caption
        color: theme.secondary
        text: "If the browser doesn't open ZaPum automatically after sign-in, click the fallback link in the confirmation page."
    }
    Button {
        visible: view.showClose
        objectName: "closeButton"
        text: "Close"
        Layout.alignment: Qt.AlignRight
        onClicked: view.closeRequested()
    }
}
