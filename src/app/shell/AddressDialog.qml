import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// A page no browser could open, offered to open by hand: a title, a sentence, the address with
// its Copy button, and Close. It opens while `address` holds one; Close or Escape lets it go
// (`closed`).
ThemedPopup {
    id: root

    property string title
    accessibleName: root.title
    property string message
    property string address
    property bool copied: false
    signal copy

    width: 520
    onAddressChanged: {
        root.copied = false
        if (root.address.length > 0)
            root.open()
        else
            root.close()
    }

    contentItem: ColumnLayout {
        spacing: 16
        ReadableText {
            Layout.fillWidth: true
            text: root.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.display(22, Font.Medium)
            color: Theme.ink
        }
        Hint {
            announced: true
            text: root.message
            textFont: Theme.body
            tint: Theme.ink
        }
        AddressToCopy {
            objectName: root.objectName
            Layout.fillWidth: true
            address: root.address
            addressName: qsTr("Page address")
            copied: root.copied
            onCopy: root.copy()
        }
        PrimaryButton {
            objectName: root.objectName + "Close"
            Layout.alignment: Qt.AlignRight
            text: qsTr("Close")
            onClicked: root.close()
        }
    }
}
