import QtQuick

// The product's mark, or the first letter of its name when the image is not there.
Item {
    id: root

    property real size: 32
    property bool isDecorative: false

    implicitWidth: root.size
    implicitHeight: root.size
    width: root.size
    height: root.size
    Accessible.ignored: root.isDecorative
    Accessible.name: "Corvane"

    Image {
        id: mark
        anchors.fill: parent
        source: "qrc:/Lumora/Theme/CorvaneMark.svg"
        fillMode: Image.PreserveAspectFit
        sourceSize.width: root.size * 2
        sourceSize.height: root.size * 2
        smooth: true
        visible: status === Image.Ready
    }
    Text {
        anchors.centerIn: parent
        visible: mark.status !== Image.Ready
        text: "C"
        textFormat: Text.PlainText
        font: Theme.display(root.size, Font.Medium)
        color: Theme.ink
    }
}
