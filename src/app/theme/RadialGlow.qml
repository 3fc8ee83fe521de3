import QtQuick
import QtQuick.Shapes

// A colour fading to clear between two circles around one point, filling the item's rectangle
// with its corners rounded by `cornerRadius`.
Shape {
    id: root

    property color glowColor
    property real centreX
    property real centreY
    property real startRadius
    property real endRadius
    property real cornerRadius: 0

    readonly property real corner: Math.min(root.cornerRadius, root.width / 2, root.height / 2)

    ShapePath {
        strokeWidth: -1
        fillGradient: RadialGradient {
            centerX: root.centreX
            centerY: root.centreY
            centerRadius: root.endRadius
            focalX: root.centreX
            focalY: root.centreY
            focalRadius: root.startRadius
            GradientStop { position: 0; color: root.glowColor }
            GradientStop { position: 1; color: "transparent" }
        }
        startX: root.corner
        startY: 0
        PathLine { x: root.width - root.corner; y: 0 }
        PathArc { x: root.width; y: root.corner; radiusX: root.corner; radiusY: root.corner }
        PathLine { x: root.width; y: root.height - root.corner }
        PathArc { x: root.width - root.corner; y: root.height; radiusX: root.corner; radiusY: root.corner }
        PathLine { x: root.corner; y: root.height }
        PathArc { x: 0; y: root.height - root.corner; radiusX: root.corner; radiusY: root.corner }
        PathLine { x: 0; y: root.corner }
        PathArc { x: root.corner; y: 0; radiusX: root.corner; radiusY: root.corner }
    }
}
