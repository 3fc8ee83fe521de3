import QtQuick
import Lumora.Theme

// A soft shadow under a floating card, drawn with plain items (which every renderer draws):
// two faint layers of ink, the lower one narrower. Placed first in the card, it fills the card
// with the card's `radius`.
Item {
    id: root

    property real radius: 12

    anchors.fill: parent

    Rectangle {
        anchors.fill: parent
        anchors.margins: 8
        anchors.bottomMargin: -8
        radius: root.radius
        color: Theme.withAlpha(Theme.ink, 0.05)
    }
    Rectangle {
        anchors.fill: parent
        anchors.margins: 2
        anchors.bottomMargin: -3
        radius: root.radius
        color: Theme.withAlpha(Theme.ink, 0.06)
    }
}
