import QtQuick

// The background of full pages and sheets: ivory with a blush glow from the top right and a
// sage glow from the bottom left. A sheet rounds its corners with `radius` and draws its
// `outline` over the glows.
Rectangle {
    id: root

    property color outline: "transparent"

    color: Theme.ivory

    RadialGlow {
        anchors.fill: parent
        cornerRadius: root.radius
        glowColor: Theme.withAlpha(Theme.blush, 0.3)
        centreX: root.width
        centreY: 0
        startRadius: 16
        endRadius: 720
    }
    RadialGlow {
        anchors.fill: parent
        cornerRadius: root.radius
        glowColor: Theme.withAlpha(Theme.sage, 0.24)
        centreX: 0
        centreY: root.height
        startRadius: 16
        endRadius: 680
    }
    Rectangle {
        anchors.fill: parent
        radius: root.radius
        color: "transparent"
        border.color: root.outline
        visible: root.outline.a > 0
    }
}
