import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// The flooding break: a dimmed room and a card that asks both partners to pause, with a ring
// that breathes in once and out over six seconds (still, at "breathe in", with reduce motion).
// Everything but "Pause & save" keeps the conversation going.
Item {
    id: root

    signal keepGoing
    signal finish

    property bool breatheIn: true
    property bool ringAnimates: false

    // Each showing starts breathing in, then breathes out once.
    function begin() {
        root.ringAnimates = false
        root.breatheIn = true
        root.ringAnimates = !Theme.reduceMotion
        if (!Theme.reduceMotion)
            root.breatheIn = false
    }
    onVisibleChanged: {
        if (root.visible)
            root.begin()
    }
    Component.onCompleted: {
        if (root.visible)
            root.begin()
    }
    CardFocus {
        card: root
        first: keepTalking
    }
    // A screen reader meets the card as a dialog that its headline names, over nothing else.
    Accessible.role: Accessible.Dialog
    Accessible.name: headline.text
    Accessible.description: body.text
    Accessible.ignored: !root.visible

    Rectangle {
        objectName: "breakBackdrop"
        anchors.fill: parent
        color: Theme.withAlpha(Theme.ink, 0.32)
        // Takes every press, so that nothing of the room under it is pressed too.
        MouseArea {
            anchors.fill: parent
            onClicked: root.keepGoing()
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
        objectName: "breakCard"
        anchors.centerIn: parent
        width: 560

        RowLayout {
            width: parent.width
            height: 16
            Item {
                Layout.fillWidth: true
            }
            ModalCloseButton {
                id: closeBreak
                objectName: "closeBreakButton"
                KeyNavigation.backtab: pauseAndSave
                Accessible.name: qsTr("Close break guidance")
                onClicked: root.keepGoing()
            }
        }
        TrackedLabel {
            caption: qsTr("the cycle is running hot")
        }
        ReadableText {
            id: headline
            objectName: "breakHeadline"
            width: parent.width
            text: qsTr("You’re both too activated to reach each other right now.")
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.display(28, Font.Medium)
            color: Theme.ink
        }
        ReadableText {
            id: body
            width: parent.width
            text: qsTr("When you’re flooded, the cycle takes over. Take twenty minutes apart to self-soothe, then come back toward each other on purpose.")
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.body
            color: Theme.muted
        }
        Item {
            width: parent.width
            height: 144
            Rectangle {
                id: ring
                objectName: "breathingRing"
                property real size: root.breatheIn ? 130 : 82
                anchors.centerIn: parent
                width: ring.size
                height: ring.size
                radius: ring.size / 2
                color: "transparent"
                border.width: 2
                border.color: Theme.withAlpha(Theme.information, 0.25)
                Behavior on size {
                    enabled: root.ringAnimates
                    NumberAnimation {
                        duration: root.breatheIn ? 4000 : 6000
                        easing.type: Easing.InOutQuad
                    }
                }
            }
            ReadableText {
                objectName: "breathingLabel"
                anchors.centerIn: parent
                text: root.breatheIn ? qsTr("breathe in") : qsTr("breathe out")
                textFormat: Text.PlainText
                font: Theme.displayItalic(12, Font.Normal)
                color: Theme.ink
            }
        }
        RowLayout {
            width: parent.width
            spacing: 12
            SecondaryButton {
                id: keepTalking
                objectName: "keepTalkingButton"
                text: qsTr("Keep talking")
                symbol: "arrow.right"
                Accessible.name: text
                onClicked: root.keepGoing()
            }
            Item {
                Layout.fillWidth: true
            }
            PrimaryButton {
                id: pauseAndSave
                objectName: "pauseAndSaveButton"
                KeyNavigation.tab: closeBreak
                text: qsTr("Pause & save")
                symbol: "pause.fill"
                Accessible.name: text
                onClicked: root.finish()
            }
        }
    }
    Shortcut {
        sequence: "Escape"
        enabled: root.visible
        onActivated: root.keepGoing()
    }
}
