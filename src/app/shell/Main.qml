pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import Lumora.Shell
import Lumora.Theme

// The one window: the root view under a menu bar with the update check and the section
// commands.
ApplicationWindow {
    id: root

    required property ShellSession model
    required property UpdateChecker updates
    property url theoryURL
    readonly property alias content: content

    title: "Corvane"
    minimumWidth: 920
    minimumHeight: 680
    width: 920
    height: 680
    color: Theme.ivory
    palette.window: Theme.ivory
    palette.windowText: Theme.ink
    palette.base: Theme.paper
    palette.text: Theme.ink
    palette.button: Theme.paper
    palette.buttonText: Theme.ink
    palette.highlight: Theme.navy
    palette.highlightedText: Theme.paper

    menuBar: MenuBar {
        id: bar
        objectName: "menuBar"
        Accessible.name: qsTr("Menu bar")
        font: Theme.interfaceFont(13, Font.Normal)
        background: Rectangle {
            color: Theme.paper
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: Theme.rule
            }
        }
        delegate: MenuBarItem {
            id: barItem
            // The title without its mnemonic's marker, as it is drawn and read.
            readonly property string title: barItem.text.replace("&", "")
            // Its press opens its menu, as a click does. Under a sheet or a dialog, which the
            // bar lies under too, a screen reader does not meet it.
            Accessible.name: barItem.title
            Accessible.ignored: content.isCovered
            Accessible.onPressAction: barItem.triggered()
            font: Theme.interfaceFont(13, Font.Normal)
            contentItem: Text {
                text: barItem.title
                textFormat: Text.PlainText
                font: barItem.font
                color: Theme.ink
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                radius: 6
                color: barItem.highlighted ? Theme.sand : "transparent"
            }
        }
        ThemedMenu {
            objectName: "appMenu"
            // Alt with the mnemonic opens the menu, as a desktop application's does.
            title: qsTr("&Corvane")
            Action {
                objectName: "checkForUpdates"
                // A newer release found by a quiet check is named here until the user looks.
                text: root.updates.availableVersion.length > 0
                    ? qsTr("Update to Corvane %1…").arg(root.updates.availableVersion)
                    : qsTr("Check for Updates…")
                enabled: root.updates.configured
                onTriggered: {
                    root.updates.checkForUpdates()
                    updateDialog.open()
                }
            }
            MenuRule {}
            Action {
                text: qsTr("Quit Corvane")
                shortcut: "Ctrl+Q"
                onTriggered: {
                    if (quitQuestion.asksBeforeQuitting())
                        quitDialog.open()
                    else
                        Qt.quit()
                }
            }
        }
        ThemedMenu {
            objectName: "viewMenu"
            title: qsTr("&View")
            Action {
                objectName: "showConversation"
                text: qsTr("Conversation")
                shortcut: "Ctrl+1"
                onTriggered: content.section = Sections.sectionForNotification("showLumoraConversation")
            }
            Action {
                objectName: "showHistory"
                text: qsTr("History")
                shortcut: "Ctrl+2"
                onTriggered: content.section = Sections.sectionForNotification("showLumoraHistory")
            }
            Action {
                objectName: "showPeople"
                text: qsTr("People")
                shortcut: "Ctrl+3"
                onTriggered: content.section = Sections.sectionForNotification("showLumoraPeople")
            }
        }
    }

    // F10 opens the first menu of the bar, as on the desktop; the arrows go on from there.
    Shortcut {
        sequence: "F10"
        onActivated: {
            const first = bar.itemAt(0) as MenuBarItem
            if (first)
                first.triggered()
        }
    }

    ContentView {
        id: content
        objectName: "contentView"
        anchors.fill: parent
        model: root.model
        updates: root.updates
        theoryURL: root.theoryURL
    }
    UpdateDialog {
        id: updateDialog
        objectName: "updateDialog"
        updates: root.updates
    }

    // Quitting (the menu, or closing the window) during a conversation asks first; a choice
    // ends the run through the session, which does not close the window again.
    onClosing: close => {
        if (quitQuestion.asksBeforeQuitting()) {
            close.accepted = false
            quitDialog.open()
        }
    }
    QuitQuestion {
        id: quitQuestion
        room: root.model.room
        // The conversation ended while the user was asked: once it is saved the quit they asked
        // for goes ahead; unsaved, the question waits for their answer.
        onChanged: {
            if (quitDialog.opened && quitQuestion.quitsUnanswered()) {
                quitDialog.close()
                root.model.quit(true)
            }
        }
    }
    QuitDialog {
        id: quitDialog
        objectName: "quitDialog"
        question: quitQuestion
        onSaveChosen: root.model.quit(true)
        onDiscardChosen: root.model.quit(false)
    }
}
