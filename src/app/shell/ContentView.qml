pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Rooms
import Lumora.Shell
import Lumora.Theme

// The root of the window: the header bar on every section but Conversation, the page of the
// current section, and the setup and migration sheets. While a sheet or a dialog is open over
// it, a screen reader meets only that.
CoveredContent {
    id: root

    required property ShellSession model
    property UpdateChecker updates
    property url theoryURL
    property int section: Sections.Conversation
    onSectionChanged: noteShownSection()
    dialogs: Overlay.overlay

    // Loads the page of the section shown where it is not there yet; the Account page goes
    // when another section is shown.
    function noteShownSection() {
        if (section === Sections.History && historyPage.status === Loader.Null) {
            historyPage.setSource("qrc:/Lumora/History/HistoryView.qml",
                { objectName: "historyPage", model: root.model.history })
        } else if (section === Sections.People && peoplePage.status === Loader.Null) {
            peoplePage.setSource("qrc:/Lumora/People/PeopleView.qml",
                { objectName: "peoplePage", model: root.model.people })
        }
        if (section === Sections.Account)
            accountPage.setSource("qrc:/Lumora/Shell/AccountPage.qml",
                { account: root.model.account, updates: root.updates })
        else if (accountPage.status !== Loader.Null)
            accountPage.source = ""
    }
    // The scrolling keys that no control took (the header bar has the keyboard, or nothing has)
    // scroll the page shown, as a browser scrolls its page.
    focus: true
    Keys.onPressed: event => {
        const page = root.section === Sections.Conversation ? conversationPage
                   : root.section === Sections.History ? historyPage.item
                   : root.section === Sections.People ? peoplePage.item
                   : root.section === Sections.Account ? accountPage.item : null
        if (page && page.scroller)
            event.accepted = page.scroller.scrollByKey(event.key, event.modifiers)
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
    // Close button would. What they show is loaded by address the first time they open (the
    // migration offer each time), so that a run which never opens them does not load it.
    Connections {
        target: rules
        function onShowSetupChanged() {
            if (rules.showSetup) {
                if (setupFlow.status === Loader.Null)
                    setupFlow.setSource("qrc:/Lumora/Shell/SetupFlow.qml", { objectName: "setupFlow", model: root.model })
                setupSheet.open()
            } else {
                setupSheet.close()
            }
        }
        function onShowMigrationOfferChanged() {
            if (rules.showMigrationOffer) {
                migrationOffer.setSource("qrc:/Lumora/Shell/MigrationOffer.qml",
                    { objectName: "migrationOffer", model: root.model })
                migrationSheet.open()
            } else {
                migrationSheet.close()
                migrationOffer.source = ""
            }
        }
    }
    Connections {
        target: setupFlow.item
        function onDismiss() {
            rules.showSetup = false
        }
    }
    Connections {
        target: migrationOffer.item
        function onDismiss() {
            rules.showMigrationOffer = false
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

        // The header bar, loaded by address the first time a section other than the room shows.
        LoadedWhenShown {
            id: headerBar
            objectName: "headerBar"
            Layout.fillWidth: true
            visible: root.section !== Sections.Conversation
            file: "qrc:/Lumora/Shell/NativeNavigation.qml"
            properties: () => ({
                    section: Qt.binding(() => root.section)
                })
        }
        StackLayout {
            objectName: "pages"
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: root.section

            // The room draws its own header with the section buttons; its primary button opens
            // the setup sheet while the agreement or a sign-in is missing.
            ConversationRoomView {
                id: conversationPage
                objectName: "conversationPage"
                model: root.model.room
                onSectionChosen: chosen => root.section = chosen
                onTheoryChosen: root.model.openWebPage(root.theoryURL)
                onSetupRequested: root.openSetup()
            }
            // History and People are loaded the first time they are shown and kept from then
            // on; Account is loaded anew each time it is shown, so that its view state starts
            // over. The window opens on the room: by address rather than by type, a run that
            // never visits these pages pays neither for their items nor for their types.
            Loader {
                id: historyPage
            }
            Loader {
                id: peoplePage
            }
            Loader {
                id: accountPage
                objectName: "accountPage"
            }
        }
    }
    Connections {
        target: headerBar.item
        function onSectionChosen(chosen: int) {
            root.section = chosen
        }
        function onTheoryChosen() {
            root.model.openWebPage(root.theoryURL)
        }
    }
    Connections {
        target: historyPage.item
        function onGoToConversation() {
            root.section = Sections.sectionForNotification("showLumoraConversation")
        }
    }
    Connections {
        target: accountPage.item
        function onGoToConversation() {
            root.section = Sections.sectionForNotification("showLumoraConversation")
        }
    }

    ThemedPopup {
        id: setupSheet
        objectName: "setupSheet"
        accessibleName: qsTr("Welcome to Corvane")
        width: 680
        minimumHeight: 560
        padding: 0
        // As the flow's Close button: an open browser sign-in attempt ends with the sheet.
        onClosed: {
            if (rules.showSetup) {
                root.model.cancelAppleAuthorization()
                rules.showSetup = false
            }
        }
        contentItem: Loader {
            id: setupFlow
        }
    }
    // A page no browser could show (the theory guide): its address, to open by hand.
    AddressDialog {
        objectName: "unopenedPageDialog"
        title: qsTr("No browser opened the page")
        message: qsTr("Corvane could not open your browser. Copy the address and open it in a browser.")
        address: root.model.unopenedPage
        onCopy: copied = root.model.copyUnopenedPage()
        onClosed: root.model.dismissUnopenedPage()
    }
    ThemedPopup {
        id: migrationSheet
        objectName: "migrationSheet"
        accessibleName: qsTr("Your earlier conversations")
        width: 640
        minimumHeight: 440
        padding: 0
        closePolicy: Popup.NoAutoClose
        // As tall as the offer, or as the window allows: its list of conversations then scrolls.
        contentItem: Item {
            implicitHeight: migrationOffer.implicitHeight
            Loader {
                id: migrationOffer
                anchors.fill: parent
            }
        }
    }
}
