import QtQuick
import QtQuick.Shapes

// A colour fading to clear between two circles around one point.
Shape {
    id: root

    property color glowColor
    property real centreX
    property real centreY
    property real startRadius
    property real endRadius

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
        startX: 0
        startY: 0
        PathLine { x: root.width; y: 0 }
        PathLine { x: root.width; y: root.height }
        PathLine { x: 0; y: root.height }
        PathLine { x: 0; y: 0 }
    }
}
