import QtQuick
import QtQuick.Layouts
import Lumora.Theme

// One numbered line of the empty room's explainer.
RowLayout {
    id: root

    property int number
    property string text

    spacing: 12

    Rectangle {
        Layout.alignment: Qt.AlignTop
        Layout.preferredWidth: 24
        Layout.preferredHeight: 24
        radius: 12
        color: Theme.withAlpha(Theme.ink, 0.08)
        Text {
            anchors.centerIn: parent
            text: root.number
            textFormat: Text.PlainText
            font: Theme.interfaceFont(12, Font.Bold)
            color: Theme.muted
            Accessible.ignored: true
        }
    }
    ReadableText {
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignVCenter
        text: root.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Theme.display(12, Font.Normal)
        color: Theme.muted
        Accessible.name: root.number + ". " + text
    }
}
