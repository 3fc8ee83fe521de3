import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// A web address the browser could not open, to open by hand: the address, selectable, in a
// field of its own, and a button that copies it (`copy`; "Copied" once `copied`).
RowLayout {
    id: root

    property string address
    property string addressName
    property bool copied: false
    signal copy

    spacing: 12

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: 44
        radius: 12
        color: Theme.paper
        border.color: Theme.rule
        TextInput {
            objectName: root.objectName + "Address"
            anchors.fill: parent
            anchors.leftMargin: 14
            anchors.rightMargin: 14
            text: root.address
            readOnly: true
            selectByMouse: true
            clip: true
            autoScroll: false
            verticalAlignment: TextInput.AlignVCenter
            font: Theme.small
            color: Theme.ink
            Accessible.name: root.addressName
            Accessible.ignored: !visible
        }
    }
    SecondaryButton {
        objectName: root.objectName + "Copy"
        text: root.copied ? qsTr("Copied") : qsTr("Copy address")
        onClicked: root.copy()
    }
}
