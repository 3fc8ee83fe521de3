import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// The repeated cycle: a dimmed room and a card that names the loop, the analysis's reasons
// when it gave some, and a sentence to begin again with. Only "Step out of the loop"
// acknowledges it; the close button, the backdrop and Escape dismiss it.
Item {
    id: root

    // The analysis's words, shown as they came; empty when there are none.
    property string rationale
    property string opening
    signal dismiss
    signal acknowledge

    CardFocus {
        card: root
        first: stepOut
    }
    // A screen reader meets the card as a dialog that its headline names, over nothing else.
    Accessible.role: Accessible.Dialog
    Accessible.name: headline.text
    Accessible.description: body.text
    Accessible.ignored: !root.visible

    Rectangle {
        objectName: "cycleBackdrop"
        anchors.fill: parent
        color: Theme.withAlpha(Theme.ink, 0.32)
        // Takes every press, so that nothing of the room under it is pressed too.
        MouseArea {
            anchors.fill: parent
            onClicked: root.dismiss()
            onWheel: wheel => wheel.accepted = true
        }
    }
    // The card's paper, whole: the room under it does not show through. A press on the card
    // is the card's own, never a tap on the backdrop.
    Rectangle {
        anchors.fill: card
        radius: 16
        color: Theme.paper
        MouseArea {
            anchors.fill: parent
        }
    }
    EditorialCard {
        id: card
        objectName: "cycleCard"
        anchors.centerIn: parent
        width: 560

        RowLayout {
            width: parent.width
            height: 16
            Item {
                Layout.fillWidth: true
            }
            ModalCloseButton {
                id: closeCycle
                objectName: "closeCycleButton"
                KeyNavigation.backtab: stepOut
                Accessible.name: qsTr("Close repeated cycle guidance")
                onClicked: root.dismiss()
            }
        }
        TrackedLabel {
            caption: qsTr("the cycle is repeating")
        }
        ReadableText {
            id: headline
            objectName: "cycleHeadline"
            width: parent.width
            text: qsTr("The same loop may be taking over.")
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.display(28, Font.Medium)
            color: Theme.ink
        }
        ReadableText {
            id: body
            width: parent.width
            text: qsTr("You do not have to prove the point one more time. Name the softer feeling and the need underneath, then check whether it landed.")
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.body
            color: Theme.muted
        }
        ReadableText {
            objectName: "cycleRationale"
            visible: root.rationale.length > 0
            width: parent.width
            leftPadding: 8
            rightPadding: 8
            text: root.rationale
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.body
            color: Theme.muted
        }
        ReadableText {
            objectName: "cycleOpening"
            width: parent.width
            padding: 8
            text: root.opening
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.displayItalic(16, Font.Normal)
            color: Theme.ink
        }
        RowLayout {
            width: parent.width
            Item {
                Layout.fillWidth: true
            }
            PrimaryButton {
                id: stepOut
                objectName: "stepOutButton"
                KeyNavigation.tab: closeCycle
                text: qsTr("Step out of the loop")
                symbol: "arrow.turn.down.right"
                Accessible.name: text
                onClicked: root.acknowledge()
            }
        }
    }
    Shortcut {
        sequence: "Escape"
        enabled: root.visible
        onActivated: root.dismiss()
    }
}
