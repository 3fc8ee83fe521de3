import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The code this user has just made, shown once, with copying and leaving it.
Column {
    id: root

    required property AccountSession account
    property bool didCopyCode: false
    signal copied
    signal done

    spacing: 16

    ReadableText {
        width: parent.width
        text: qsTr("Give this code to your partner")
        wrapMode: Text.Wrap
        font: Theme.display(24, Font.Medium)
        color: Theme.ink
    }
    Rectangle {
        objectName: "codeBox"
        width: parent.width
        implicitHeight: code.implicitHeight + 24
        height: implicitHeight
        radius: 12
        color: Theme.withAlpha(Theme.sand, 0.6)
        Accessible.role: Accessible.StaticText
        Accessible.name: root.account.inviteCodeAccessibleName
        Accessible.ignored: !visible
        TextEdit {
            id: code
            objectName: "inviteCode"
            x: 20
            y: 12
            width: parent.width - 40
            text: root.account.inviteCode
            textFormat: TextEdit.PlainText
            readOnly: true
            selectByMouse: true
            font: Theme.tabular(28, 2)
            color: Theme.ink
            selectionColor: Theme.navy
            selectedTextColor: Theme.paper
        }
    }
    RowLayout {
        spacing: 12
        PrimaryButton {
            objectName: "copyCodeButton"
            text: root.didCopyCode ? qsTr("Copied") : qsTr("Copy code")
            onClicked: {
                if (root.account.copyInviteCode())
                    root.copied()
            }
        }
        SecondaryButton {
            objectName: "inviteDoneButton"
            text: qsTr("Done")
            onClicked: root.done()
        }
    }
    ReadableText {
        objectName: "inviteExpiry"
        width: parent.width
        text: root.account.inviteExpiry
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: font.pixelSize + 6
        font: Theme.small
        color: Theme.muted
    }
}
