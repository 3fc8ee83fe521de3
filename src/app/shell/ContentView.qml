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
    // Whether History and People have been shown in this run (their pages are made then).
    property bool historyShown: false
    property bool peopleShown: false
    onSectionChanged: noteShownSection()

    function noteShownSection() {
        if (section === Sections.History)
            historyShown = true
        else if (section === Sections.People)
            peopleShown = true
    }
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
    Component.onCompleted: {
        noteShownSection()
        rules.appear()
    }

    // Coming back to the application refreshes the history from the server.
    Connections {
        target: Qt.application
        function onStateChanged(state) {
            if (state === Qt.ApplicationActive)
                root.model.synchronizeHistory(true)
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

            // The room draws its own header with the section buttons; its primary button opens
            // the setup sheet while the agreement or a sign-in is missing.
            ConversationRoomView {
                objectName: "conversationPage"
                model: root.model.room
                theoryURL: root.theoryURL
                onSectionChosen: chosen => root.section = chosen
                onSetupRequested: root.openSetup()
            }
            // History and People are made the first time they are shown and kept from then on:
            // the window opens on the room, and their cards, shadows and lists cost memory that
            // a run which never visits them should not pay.
            Item {
                Repeater {
                    model: root.historyShown ? 1 : 0
                    delegate: HistoryView {
                        objectName: "historyPage"
                        width: parent ? parent.width : 0
                        height: parent ? parent.height : 0
                        model: root.model.history
                        onGoToConversation: root.section = Sections.sectionForNotification("showLumoraConversation")
                    }
                }
            }
            Item {
                Repeater {
                    model: root.peopleShown ? 1 : 0
                    delegate: PeopleView {
                        objectName: "peoplePage"
                        width: parent ? parent.width : 0
                        height: parent ? parent.height : 0
                        model: root.model.people
                    }
                }
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

    ThemedPopup {
        id: setupSheet
        objectName: "setupSheet"
        width: 680
        minimumHeight: 560
        padding: 0
        onClosed: {
            if (rules.showSetup)
                setupFlow.close()
        }
        contentItem: SetupFlow {
            id: setupFlow
            objectName: "setupFlow"
            model: root.model
            onDismiss: rules.showSetup = false
        }
    }
    ThemedPopup {
        id: migrationSheet
        objectName: "migrationSheet"
        width: 640
        minimumHeight: 440
        padding: 0
        closePolicy: Popup.NoAutoClose
        // As tall as the offer: a repeater of at most one rather than a Loader, as for the
        // Account page.
        contentItem: Item {
            implicitHeight: childrenRect.height
            Repeater {
                model: rules.showMigrationOffer ? 1 : 0
                delegate: MigrationOffer {
                    objectName: "migrationOffer"
                    width: parent ? parent.width : 0
                    model: root.model
                    onDismiss: rules.showMigrationOffer = false
                }
            }
        }
    }
}
