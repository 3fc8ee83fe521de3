import QtQuick

// A button's symbol and title, centred in whatever room the button gives them.
Item {
    id: root

    property string symbol
    property string text
    property font font
    property color color

    implicitWidth: row.implicitWidth
    implicitHeight: row.implicitHeight

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 8
        Icon {
            symbol: root.symbol
            size: 18
            color: root.color
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: root.text
            textFormat: Text.PlainText
            font: root.font
            color: root.color
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
