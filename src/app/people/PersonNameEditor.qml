import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Lumora.Theme

// Where one seat's name is edited: the seat's caption and colour, the field, and Save. The
// field starts from the stored name each time the editor comes on screen and whenever the
// stored name changes; Save and Return hand on the text exactly as typed.
EditorialCard {
    id: root

    required property int side
    required property string name
    required property color tint
    signal save(string text)

    // The stored name, shown from its start: a name longer than the field would otherwise show
    // its end, cut at the front.
    function showName() {
        field.text = root.name
        field.cursorPosition = 0
    }
    onNameChanged: root.showName()
    onVisibleChanged: {
        if (root.visible)
            root.showName()
    }
    Component.onCompleted: root.showName()

    RowLayout {
        width: parent.width
        ReadableText {
            objectName: root.objectName + "Caption"
            Layout.fillWidth: true
            text: root.side === 0 ? qsTr("LEFT SEAT") : qsTr("RIGHT SEAT")
            font.family: Theme.label.family
            font.pixelSize: Theme.label.pixelSize
            font.weight: Theme.label.weight
            font.letterSpacing: 1.5
            color: root.tint
        }
        Rectangle {
            width: 9
            height: 9
            radius: 4.5
            color: root.tint
        }
    }
    TextField {
        id: field
        objectName: root.objectName + "Field"
        width: parent.width
        placeholderText: qsTr("Person %1").arg(root.side + 1)
        placeholderTextColor: Theme.withAlpha(Theme.muted, 0.7)
        font: Theme.display(26, Font.Medium)
        color: Theme.ink
        topPadding: 12
        bottomPadding: 12
        leftPadding: 0
        rightPadding: 0
        Accessible.name: root.side === 0 ? qsTr("Left seat name") : qsTr("Right seat name")
        Accessible.ignored: !visible
        // Where the typing goes shows as the theme's ring round the field.
        background: Item {
            Rectangle {
                anchors.left: parent.left
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                height: 1
                color: Theme.withAlpha(root.tint, 0.45)
            }
            FocusRing {
                objectName: "focusRing"
                visible: field.activeFocus
                controlRadius: 4
            }
        }
        onAccepted: root.save(field.text)
        // Left, it shows the name from its start again, wherever the cursor was.
        onActiveFocusChanged: {
            if (!field.activeFocus)
                field.ensureVisible(0)
        }
    }
    RowLayout {
        width: parent.width
        ReadableText {
            Layout.fillWidth: true
            text: qsTr("Stored only on this computer")
            font: Theme.small
            color: Theme.muted
        }
        SecondaryButton {
            objectName: root.objectName + "Save"
            text: qsTr("Save")
            onClicked: root.save(field.text)
        }
    }
}
