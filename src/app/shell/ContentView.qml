pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.History
import Lumora.People
import Lumora.Rooms
import Lumora.Shell
import Lumora.Theme

// The root of the window: the header bar on every section but Conversation, the page of the
// current section, and the setup and migration sheets.
Item {
    id: root

    required property ShellSession model
    property UpdateChecker updates
    property url theoryURL
    property int section: Sections.Conversation
    readonly property alias showSetup: rules.showSetup
    readonly property alias showMigrationOffer: rules.showMigrationOffer

    function openSetup() {
        rules.showSetup = true
    }

    SheetRules {
        id: rules
        recordingAgreementAccepted: root.model.recordingAgreementAccepted
        needsMigrationOffer: root.model.needsMigrationOffer
    }
    // The sheets follow the rules; a sheet the user closes itself (Escape) is closed as its
    // Close button would.
    Connections {
        target: rules
        function onShowSetupChanged() {
            if (rules.showSetup)
                setupSheet.open()
            else
                setupSheet.close()
        }
        function onShowMigrationOfferChanged() {
            if (rules.showMigrationOffer)
                migrationSheet.open()
            else
                migrationSheet.close()
        }
    }
    Component.onCompleted: rules.appear()

    // Coming back to the application refreshes the history from the server.
    Connections {
        target: Qt.application
        function onStateChanged() {
            // qmllint disable type
            if (Qt.application.state === Qt.ApplicationActive)
                root.model.synchronizeHistory(true)
            // qmllint enable type
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        NativeNavigation {
            objectName: "headerBar"
            Layout.fillWidth: true
            visible: root.section !== Sections.Conversation
            section: root.section
            theoryURL: root.theoryURL
            onSectionChosen: chosen => root.section = chosen
        }
        StackLayout {
            objectName: "pages"
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: root.section

            // The room draws its own header with the section buttons.
            Item {
                objectName: "conversationPage"
                ConversationRoomView {
                    anchors.fill: parent
                    model: root.model.room
                }
                NativeNavigation {
                    width: parent.width
                    section: root.section
                    theoryURL: root.theoryURL
                    onSectionChosen: chosen => root.section = chosen
                }
            }
            HistoryView {
                objectName: "historyPage"
                model: root.model.history
            }
            PeopleView {
                objectName: "peoplePage"
                model: root.model.people
            }
            // Made anew each time the section is shown, so its view state starts over. A
            // repeater of at most one page rather than a Loader: Qt 6.4's Loader cannot make a
            // component bound to this file's scope.
            Item {
                objectName: "accountPage"
                Repeater {
                    model: root.section === Sections.Account ? 1 : 0
                    delegate: AccountPage {
                        width: parent ? parent.width : 0
                        height: parent ? parent.height : 0
                        account: root.model.account
                        updates: root.updates
                        onGoToConversation: root.section = Sections.sectionForNotification("showLumoraConversation")
                    }
                }
            }
        }
    }

    Popup {
        id: setupSheet
        objectName: "setupSheet"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: 680
        height: 560
        padding: 0
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape
        onClosed: {
            if (rules.showSetup)
                setupFlow.close()
        }
        Overlay.modal: Rectangle {
            color: Theme.withAlpha(Theme.navy, 0.28)
        }
        background: Rectangle {
            radius: 12
            color: Theme.ivory
            border.color: Theme.rule
        }
        contentItem: SetupFlow {
            id: setupFlow
            objectName: "setupFlow"
            model: root.model
            clip: true
            onDismiss: rules.showSetup = false
        }
    }
    Popup {
        id: migrationSheet
        objectName: "migrationSheet"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: 640
        height: 440
        padding: 0
        modal: true
        closePolicy: Popup.NoAutoClose
        Overlay.modal: Rectangle {
            color: Theme.withAlpha(Theme.navy, 0.28)
        }
        background: Rectangle {
            radius: 12
            color: Theme.ivory
            border.color: Theme.rule
        }
        contentItem: Item {
            Repeater {
                model: rules.showMigrationOffer ? 1 : 0
                delegate: MigrationOffer {
                    objectName: "migrationOffer"
                    width: parent ? parent.width : 0
                    height: parent ? parent.height : 0
                    model: root.model
                    onDismiss: rules.showMigrationOffer = false
                }
            }
        }
    }
}
