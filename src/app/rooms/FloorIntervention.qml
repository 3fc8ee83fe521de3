import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// The floor-hold prompt: a small floating card asking the partner who has talked for two
// minutes (or three, `isFinal`) to make room for the other, named `name`.
Item {
    id: root

    property string name
    property bool isFinal
    signal dismiss

    implicitWidth: 360
    implicitHeight: column.implicitHeight + 32

    CardFocus {
        card: root
        first: floorButton
    }
    // Over the room rather than instead of it: a screen reader hears it as a notification that
    // its headline names, said as it comes to show (the first time, as its loader makes it, Qt
    // Quick says so itself).
    Accessible.role: Accessible.Notification
    Accessible.name: headline.text
    Accessible.description: guidance.text
    Accessible.ignored: !root.visible

    Announcement {
        item: root
        text: headline.text
    }

    // Where shaders run, the card floats on its blurred shadow; the software renderer has none,
    // and there a plain soft shadow gives it its edge over the transcript. Its outline gives
    // it one on both.
    SoftShadow {
        objectName: "floorPlainShadow"
        visible: !card.layer.enabled
        radius: 16
    }
    Rectangle {
        id: card
        objectName: "floorCard"
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.paper, 0.99)
        border.color: Theme.rule
        border.width: 1
        // The shadow (a blur shader compiled at run time, a texture) exists only while it shows.
        layer.enabled: root.visible && Shadows.overlay !== null && GraphicsInfo.api !== GraphicsInfo.Software
        layer.effect: Shadows.overlay
        // A press on the card is the card's own: the room under it is not pressed.
        MouseArea {
            anchors.fill: parent
            onWheel: wheel => wheel.accepted = true
        }
    }
    ColumnLayout {
        id: column
        x: 16
        y: 16
        width: root.width - 32
        spacing: 12

        RowLayout {
            Layout.fillWidth: true
            Layout.preferredHeight: 16
            Item {
                Layout.fillWidth: true
            }
            ModalCloseButton {
                id: closeFloor
                objectName: "closeFloorButton"
                KeyNavigation.backtab: floorButton
                Accessible.name: qsTr("Dismiss floor guidance")
                onClicked: root.dismiss()
            }
        }
        TrackedLabel {
            caption: qsTr("make space in the cycle")
        }
        ReadableText {
            id: headline
            objectName: "floorHeadline"
            Layout.fillWidth: true
            text: root.isFinal ? qsTr("The extra minute is up.") : qsTr("You’ve held the floor for two minutes.")
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.display(20, Font.DemiBold)
            color: Theme.ink
        }
        ReadableText {
            id: guidance
            objectName: "floorGuidance"
            Layout.fillWidth: true
            text: root.isFinal ? qsTr("Turn toward %1’s response.").arg(root.name)
                               : qsTr("Name the softer truth underneath, then pause so %1 can reach back.").arg(root.name)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.small
            color: Theme.muted
        }
        PrimaryButton {
            id: floorButton
            objectName: "floorButton"
            KeyNavigation.tab: closeFloor
            text: root.isFinal ? qsTr("Pass the floor") : qsTr("One minute to reach underneath")
            symbol: root.isFinal ? "arrow.right" : "timer"
            Accessible.name: text
            onClicked: root.dismiss()
        }
    }
    Shortcut {
        sequence: "Escape"
        enabled: root.visible
        onActivated: root.dismiss()
    }
}
