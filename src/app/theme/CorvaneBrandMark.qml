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
    // A canvas rather than a Shape: the mark sits in popups too, which leave the window when they
    // close, and Qt 6.4's software renderer crashes on a Shape that comes back into one.
    Canvas {
        id: ring
        anchors.fill: parent
        onAvailableChanged: ring.requestPaint()
        onWidthChanged: ring.requestPaint()
        onHeightChanged: ring.requestPaint()
        onPaint: {
            const context = ring.getContext("2d");
            context.reset();
            context.strokeStyle = Theme.ivory;
            context.lineWidth = 22 * root.unit;
            context.lineCap = "round";
            context.beginPath();
            // An open ring around the centre, from the upper right round to the lower right.
            context.arc(128 * root.unit, 128 * root.unit, 60 * root.unit, -Math.PI / 4, Math.PI / 4, true);
            context.stroke();
        }
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
