import QtQuick
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
import Lumora.Theme

// A start or processing failure floating over the room until it is dismissed or replaced.
Item {
    id: root

    property string message
    signal dismiss

    implicitWidth: Math.min(680, row.implicitWidth + 32)
    implicitHeight: row.implicitHeight + 24

    Rectangle {
        id: card
        anchors.fill: parent
        radius: 12
        color: Theme.withAlpha(Theme.paper, 0.99)
        border.width: 1
        border.color: Theme.withAlpha(Theme.attention, 0.28)
        // The software renderer has no shaders: there the banner goes without its shadow. The
        // shadow (a blur shader compiled at run time, a texture) exists only while it shows.
        layer.enabled: root.visible && GraphicsInfo.api !== GraphicsInfo.Software
        layer.effect: DropShadow {
            transparentBorder: true
            color: Theme.withAlpha(Theme.ink, 0.1)
            radius: 18
            samples: 37
            horizontalOffset: 0
            verticalOffset: 8
        }
    }
    RowLayout {
        id: row
        x: 16
        y: 12
        width: root.width - 32
        spacing: 12

        Icon {
            symbol: "exclamationmark.circle.fill"
            size: 18
            color: Theme.attention
        }
        ReadableText {
            objectName: "bannerMessage"
            Layout.fillWidth: true
            Layout.minimumWidth: 120
            Layout.maximumWidth: 680 - 32 - 12 - 18 - 12 - 12 - 32
            text: root.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Theme.interfaceFont(13, Font.Medium)
            color: Theme.ink
        }
        Item {
            Layout.minimumWidth: 12
            Layout.fillWidth: true
        }
        SymbolButton {
            objectName: "dismissBannerButton"
            symbol: "xmark"
            size: 32
            Accessible.name: qsTr("Dismiss message")
            onClicked: root.dismiss()
        }
    }
}
