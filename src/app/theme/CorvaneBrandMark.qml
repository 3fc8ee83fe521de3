import QtQuick
import Lumora.Theme

// The product's mark, drawn at any size: an open ivory ring on navy with two dots, the two
// partners.
Item {
    id: root

    property real size: 32
    property bool isDecorative: false
    readonly property real unit: root.size / 256

    implicitWidth: root.size
    implicitHeight: root.size
    width: root.size
    height: root.size
    Accessible.ignored: root.isDecorative || !root.visible
    Accessible.name: "Corvane"

    Rectangle {
        x: 8 * root.unit
        y: 8 * root.unit
        width: 240 * root.unit
        height: 240 * root.unit
        radius: 56 * root.unit
        color: Theme.navy
    }
    // The open ring from plain items, which are there in the first frame the mark is in (a
    // canvas paints a frame or two later; a Shape crashes Qt 6.4's software renderer once a
    // popup holding it closes and opens again): a whole ring, the navy wedge that opens it to
    // the right, and the round ends.
    Rectangle {
        x: (128 - 71) * root.unit
        y: (128 - 71) * root.unit
        width: 142 * root.unit
        height: 142 * root.unit
        radius: width / 2
        color: "transparent"
        border.color: Theme.ivory
        border.width: 22 * root.unit
    }
    Rectangle {
        id: opening

        // A square turned by 45 degrees with one corner at the centre: its two sides from there
        // run at 45 degrees above and below, where the ring ends.
        x: 128 * root.unit + (Math.SQRT2 - 1) * opening.width / 2
        y: 128 * root.unit - opening.height / 2
        width: 74 * root.unit
        height: 74 * root.unit
        rotation: 45
        color: Theme.navy
    }
    Rectangle {
        x: (128 + 60 * Math.SQRT1_2 - 11) * root.unit
        y: (128 - 60 * Math.SQRT1_2 - 11) * root.unit
        width: 22 * root.unit
        height: 22 * root.unit
        radius: width / 2
        color: Theme.ivory
    }
    Rectangle {
        x: (128 + 60 * Math.SQRT1_2 - 11) * root.unit
        y: (128 + 60 * Math.SQRT1_2 - 11) * root.unit
        width: 22 * root.unit
        height: 22 * root.unit
        radius: width / 2
        color: Theme.ivory
    }
    Rectangle {
        x: (176 - 14) * root.unit
        y: (128 - 14) * root.unit
        width: 28 * root.unit
        height: 28 * root.unit
        radius: width / 2
        color: Theme.sage
    }
    Rectangle {
        x: (128 - 14) * root.unit
        y: (128 - 14) * root.unit
        width: 28 * root.unit
        height: 28 * root.unit
        radius: width / 2
        color: Theme.blush
    }
}
