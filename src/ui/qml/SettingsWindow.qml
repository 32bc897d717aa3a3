import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The settings window: six tabs, each a form over the app's stores.
Pane {
    id: root
    required property QtObject settings     // SettingsViewModel
    required property QtObject account      // AccountViewModel
    required property QtObject environment  // EnvironmentStore
    required property QtObject guidance     // GuidanceService
    required property QtObject actionMode   // ActionModeStore
    required property QtObject voice        // VoiceSettingsStore
    property QtObject startAtLogin: null    // StartAtLoginStore

    width: 620
    height: 560
    padding: 12

    PopoverTheme { id: theme }

    component Section: GroupBox {
        Layout.fillWidth: true
    }
    component TabPage: ScrollView {
        id: page
        default property alias content: column.data
        contentWidth: availableWidth
        clip: true
        ColumnLayout {
            id: column
            width: page.availableWidth
            spacing: 12
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        TabBar {
            id: tabs
            objectName: "tabs"
            Layout.fillWidth: true
            Repeater {
                model: ["Account", "Connection", "Companion", "Assistant", "Action", "Voice"]
                TabButton { required property string modelData; text: modelData; objectName: "tab" + modelData }
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: tabs.currentIndex

            // Account
            TabPage {
                AccountView { Layout.fillWidth: true; account: root.account; showClose: false }
                Section {
                    title: "Sign-in checks"
                    ColumnLayout {
                        anchors.fill: parent
                        Caption { text: "• Set the API base URL in Connection first (for local development: http://localhost:4001)." }
                        Caption { text: "• Use the same email you want SaaS products to match." }
                        Caption { text: "• Token: against the local server (zapum-devserver), the token it printed for dev@zapum.local at its first start, or one its /admin page showed for a user you added." }
                        Caption { text: "• After sign-in, guidance and Ask send Authorization: Bearer with the session token from the API." }
                    }
                }
            }

            // Connection
            TabPage {
                Section {
                    title: "ZaPum API"
                    ColumnLayout {
                        anchors.fill: parent
                        Label { text: "Environment" }
                        RowLayout {
                            objectName: "environmentPicker"
                            spacing: 0
                            // Exclusive, so a click on the chosen segment keeps it chosen.
                            ButtonGroup { id: environmentGroup; exclusive: true }
                            Repeater {
                                model: root.environment.environmentNames
                                Button {
                                    required property string modelData
                                    text: modelData
                                    checkable: true
                                    ButtonGroup.group: environmentGroup
                                    checked: root.environment.current === modelData
                                    onClicked: root.environment.current = modelData
                                }
                            }
                        }
                        Label { text: "API base URL" }
                        TextField {
                            objectName: "apiBaseUrlField"
                            Layout.fillWidth: true
                            placeholderText: "API base URL"
                            text: root.environment.apiBaseUrl
                            onTextEdited: root.environment.apiBaseUrl = text
                        }
                        Caption {
                            text: "Changing the environment updates the URL while it still matches a preset. For the local development server the API is at http://localhost:4001."
                        }
                    }
                }
                Section {
                    title: "Guidance"
                    ColumnLayout {
                        anchors.fill: parent
                        Switch {
                            text: "Pause remote help"
                            checked: root.environment.isPaused
                            onToggled: root.environment.isPaused = checked
                        }
                        Caption { text: root.environment.lastSyncLabel }
                        RowLayout {
                            visible: root.guidance.lastError.length > 0
                            TintedIcon { name: "warning"; color: theme.failure; size: 12 }
                            Label {
                                Layout.fillWidth: true
                                wrapMode: Text.WordWrap
                                font.pixelSize: theme.caption
                                color: theme.failure
                                text: root.guidance.lastError
                            }
                        }
                        RowLayout {
                            Button {
                                objectName: "refreshGuidanceButton"
                                text: "Refresh guidance now"
                                onClicked: root.settings.refreshGuidanceNow()
                            }
                            BusyIndicator {
                                visible: root.guidance.isLoading
                                running: visible
                                Layout.preferredWidth: 18
                                Layout.preferredHeight: 18
                            }
                        }
                    }
                }
            }

            // Companion
            TabPage {
                Section {
                    title: "Placement"
                    ColumnLayout {
                        anchors.fill: parent
                        RowLayout {
                            Label { text: "Size" }
                            Label { text: "48"; color: theme.secondary }
                            Slider {
                                objectName: "sizeSlider"
                                Layout.fillWidth: true
                                from: 48; to: 96; stepSize: 4
                                snapMode: Slider.SnapAlways
                                value: root.settings.companionSide
                                onMoved: root.settings.companionSide = value
                            }
                            Label { text: "96"; color: theme.secondary }
                        }
                        Caption { text: root.settings.companionSideLine }
                        Switch {
                            objectName: "strollSwitch"
                            text: root.settings.strollLabel
                            checked: root.settings.patrolNearDock
                            onToggled: root.settings.patrolNearDock = checked
                        }
                        Button {
                            text: root.settings.centerLabel
                            onClicked: root.settings.centerAboveDock()
                        }
                        Button {
                            text: "Show welcome walkthrough again"
                            onClicked: root.settings.showOnboarding()
                        }
                    }
                }
                Section {
                    title: "Startup"
                    visible: root.startAtLogin !== null
                    ColumnLayout {
                        anchors.fill: parent
                        Switch {
                            objectName: "startAtLoginSwitch"
                            text: "Start ZaPum when I log in"
                            checked: root.startAtLogin !== null && root.startAtLogin.enabled
                            onToggled: root.startAtLogin.enabled = checked
                        }
                        Caption {
                            objectName: "startAtLoginError"
                            Layout.fillWidth: true
                            visible: text !== ""
                            color: theme.failure
                            text: root.startAtLogin !== null ? root.startAtLogin.error : ""
                        }
                    }
                }
                Section {
                    title: "Help"
                    Caption {
                        width: parent.width
                        text: root.settings.placementHelp
                    }
                }
            }

            // Assistant
            TabPage {
                Section {
                    title: "Ask tab"
                    ColumnLayout {
                        anchors.fill: parent
                        RowLayout {
                            Label { text: "OpenAI model" }
                            ComboBox {
                                objectName: "askModelPicker"
                                Layout.fillWidth: true
                                model: root.settings.askModelTitles
                                currentIndex: root.settings.askModelIndex
                                onActivated: index => root.settings.askModelIndex = index
                            }
                        }
                        Caption { text: "Answers run on your ZaPum API using the server OPENAI_API_KEY. The model you pick is sent on POST /v1/desktop/ask (allowlisted on the server)." }
                    }
                }
                Section {
                    title: "Credentials"
                    RowLayout {
                        width: parent.width
                        Label { text: "API key" }
                        Label { Layout.fillWidth: true; wrapMode: Text.WordWrap; color: theme.secondary; text: "Configured on the server (.env), not in this app." }
                    }
                }
            }

            // Action
            TabPage {
                Section {
                    title: "Overview"
                    ColumnLayout {
                        anchors.fill: parent
                        Switch {
                            objectName: "actionModeSwitch"
                            text: "Enable Action mode"
                            checked: root.actionMode.isEnabled
                            onToggled: root.actionMode.isEnabled = checked
                        }
                        Caption { text: "When enabled, ZaPum can list on-screen windows and running apps, capture the main display, and (with the XTEST extension) synthesize a left click. On X11 screen capture and clicks need no separate permission; on Wayland they are not available." }
                    }
                }
                Section {
                    title: "Permissions"
                    GridLayout {
                        width: parent.width
                        columns: 2
                        Label { text: "Screen Recording" }
                        Label { text: root.actionMode.screenCaptureGranted ? "Granted" : "Needed for snapshots"; color: theme.secondary }
                        Caption { Layout.columnSpan: 2; visible: text.length > 0; text: root.actionMode.screenCaptureNote }
                        Button { text: "Request access"; onClicked: root.actionMode.requestScreenCaptureAccess() }
                        Button { text: "Open Screen Recording settings"; onClicked: root.settings.openScreenRecordingSettings() }
                        Label { text: "Accessibility" }
                        Label { text: root.actionMode.accessibilityGranted ? "Trusted" : "Needed for clicks"; color: theme.secondary }
                        Caption { Layout.columnSpan: 2; visible: text.length > 0; text: root.actionMode.accessibilityNote }
                        Button { text: "Request trust…"; onClicked: root.actionMode.requestAccessibilityAccess() }
                        Button { text: "Open Accessibility settings"; onClicked: root.settings.openAccessibilitySettings() }
                        Caption { Layout.columnSpan: 2; visible: text.length > 0; text: root.settings.settingsNote }
                    }
                }
                Section {
                    title: "Screen"
                    ColumnLayout {
                        anchors.fill: parent
                        Button {
                            objectName: "captureButton"
                            text: "Capture main display"
                            enabled: root.actionMode.isEnabled
                            onClicked: root.actionMode.captureMainDisplay()
                        }
                        Image {
                            visible: root.settings.snapshotGeneration > 0
                            Layout.fillWidth: true
                            Layout.preferredHeight: visible ? 180 : 0
                            fillMode: Image.PreserveAspectFit
                            cache: false
                            source: visible ? "image://zapumsnapshot/" + root.settings.snapshotGeneration : ""
                            Accessible.name: "Last screen capture preview"
                        }
                        Caption { visible: text.length > 0; text: root.actionMode.statusMessage }
                    }
                }
                Section {
                    title: "Running apps"
                    ColumnLayout {
                        anchors.fill: parent
                        Button { text: "Refresh windows & apps"; onClicked: root.settings.refreshWindowsAndApps() }
                        Caption { visible: text.length > 0; text: root.settings.windowsRefreshLine }
                        Repeater {
                            model: root.settings.appRows
                            RowLayout {
                                required property var modelData
                                Layout.fillWidth: true
                                ColumnLayout {
                                    Layout.fillWidth: true
                                    spacing: 0
                                    Label { text: modelData.name }
                                    Caption { text: modelData.bundleId }
                                }
                                Caption { visible: modelData.isActive; Layout.fillWidth: false; text: "Active" }
                                Button {
                                    visible: !modelData.isActive
                                    text: "Activate"
                                    enabled: root.actionMode.isEnabled
                                    onClicked: root.settings.activateApp(modelData.pid)
                                }
                            }
                        }
                        Caption { visible: root.settings.appRows.length === 0; text: "No regular apps listed. Turn on Action mode and refresh." }
                    }
                }
                Section {
                    title: "On-screen windows"
                    ColumnLayout {
                        anchors.fill: parent
                        Repeater {
                            model: root.settings.windowRows
                            ColumnLayout {
                                required property var modelData
                                Layout.fillWidth: true
                                spacing: 0
                                Label { text: modelData.owner; font.bold: true }
                                Label { visible: modelData.title.length > 0; text: modelData.title; font.pixelSize: theme.subheadline }
                                Label { text: modelData.detail; font.pixelSize: 10; color: theme.secondary }
                            }
                        }
                        Caption { visible: root.settings.windowRows.length === 0; text: "No windows listed. Turn on Action mode and refresh." }
                        Caption { text: "Window metadata comes from the X server (EWMH client list). ZaPum excludes its own windows from the list." }
                    }
                }
            }

            // Voice
            TabPage {
                Section {
                    title: "Overview"
                    ColumnLayout {
                        anchors.fill: parent
                        Switch {
                            objectName: "voiceModeSwitch"
                            text: "Voice mode"
                            checked: root.voice.isEnabled
                            onToggled: root.voice.isEnabled = checked
                            ToolTip.visible: hovered
                            ToolTip.text: "Enables the hold-to-talk trigger and the bee's voice halo."
                        }
                        RowLayout {
                            Label { text: "Talk key" }
                            ComboBox {
                                objectName: "talkKeyPicker"
                                model: root.settings.talkKeyNames
                                currentIndex: root.settings.talkKeyIndex
                                onActivated: index => root.settings.talkKeyIndex = index
                            }
                        }
                        RowLayout {
                            Label { text: "Trigger" }
                            Label { objectName: "holdToTalkLine"; text: root.settings.holdToTalkLine; color: theme.secondary }
                        }
                        Label {
                            objectName: "talkKeyNote"
                            visible: text.length > 0
                            Layout.fillWidth: true
                            wrapMode: Text.WordWrap
                            font.pixelSize: theme.caption
                            color: "#c26a00"
                            text: root.settings.talkKeyNote
                        }
                        Caption { text: root.settings.talkHelpLine }
                    }
                }
                Section {
                    title: root.settings.secretsInFallbackFile ? "API keys (private file)" : "API keys (keyring)"
                    ColumnLayout {
                        anchors.fill: parent
                        Label {
                            visible: root.settings.secretsInFallbackFile
                            objectName: "fallbackWarning"
                            Layout.fillWidth: true
                            wrapMode: Text.WordWrap
                            font.pixelSize: theme.caption
                            color: "#c26a00"
                            text: "No Secret Service answered, so keys and your session are kept in a file only you can read instead of the keyring: " + root.settings.secretsFallbackPath
                        }
                        KeyRow {
                            settings: root.settings
                            title: "Anthropic API key"
                            account: "anthropic"
                            placeholder: "sk-ant-…"
                            present: root.voice.anthropicKeyPresent
                            storedText: "Anthropic key stored in the keyring."
                            missingText: "No Anthropic key. Voice commands won’t work."
                        }
                        KeyRow {
                            settings: root.settings
                            title: "ElevenLabs API key"
                            account: "elevenlabs"
                            placeholder: "sk_…"
                            present: root.voice.elevenLabsKeyPresent
                            storedText: "ElevenLabs key stored in the keyring."
                            missingText: "No ElevenLabs key — replies will be silent."
                        }
                    }
                }
                Section {
                    title: "Behavior"
                    ColumnLayout {
                        anchors.fill: parent
                        Label { text: "ElevenLabs voice id" }
                        TextField {
                            Layout.fillWidth: true
                            placeholderText: "ElevenLabs voice id"
                            text: root.voice.elevenLabsVoiceId
                            onEditingFinished: root.voice.elevenLabsVoiceId = text
                            ToolTip.visible: hovered
                            ToolTip.text: "Copy a voice id from the ElevenLabs voice library. The default is one of its preset voices."
                        }
                        Label { text: "Claude model" }
                        TextField {
                            Layout.fillWidth: true
                            placeholderText: "Claude model"
                            text: root.voice.claudeModel
                            onEditingFinished: root.voice.claudeModel = text
                        }
                        Switch {
                            text: "Confirm before every synthesized click (2s cancel)"
                            checked: root.voice.requireClickConfirmation
                            onToggled: root.voice.requireClickConfirmation = checked
                        }
                        Switch {
                            text: "Listen for the names of open apps and windows"
                            checked: root.voice.listenForScreenNames
                            onToggled: root.voice.listenForScreenNames = checked
                            ToolTip.visible: hovered
                            ToolTip.text: "Speech recognition expects the names on your screen, so \"switch to\" an app with an unusual name is heard right."
                        }
                        Switch {
                            objectName: "talkKeyInterruptsSwitch"
                            text: "Talk key interrupts the bee"
                            checked: root.voice.talkKeyInterrupts
                            onToggled: root.voice.talkKeyInterrupts = checked
                            ToolTip.visible: hovered
                            ToolTip.text: "Holding the talk key while the bee is thinking or speaking cuts it off and listens to you instead. Off: what you say then is dropped."
                        }
                    }
                }
                Section {
                    title: "Live status"
                    ColumnLayout {
                        anchors.fill: parent
                        Caption { text: "Halo color around the bee: red = listening, yellow = thinking, green = speaking, orange = error." }
                        RowLayout {
                            Label { text: root.settings.voiceStateLabel; font.pixelSize: theme.subheadline; font.weight: Font.Medium }
                            Button { text: "Talk now"; onClicked: root.settings.talkNow() }
                        }
                        RowLayout {
                            visible: root.voice.lastTranscript.length > 0
                            Label { text: "You said" }
                            Label { Layout.fillWidth: true; wrapMode: Text.WordWrap; text: root.voice.lastTranscript; color: theme.secondary }
                        }
                        RowLayout {
                            visible: root.voice.lastAssistantReply.length > 0
                            Label { text: "ZaPum replied" }
                            Label { Layout.fillWidth: true; wrapMode: Text.WordWrap; text: root.voice.lastAssistantReply; color: theme.secondary }
                        }
                        Label {
                            visible: root.voice.lastError.length > 0
                            font.pixelSize: theme.caption
                            color: theme.failure
                            text: "Error: " + root.voice.lastError
                        }
                    }
                }
            }
        }
    }
}
