import QtQuick

// The background of full pages and sheets: ivory with a blush glow from the top right and a
// sage glow from the bottom left.
Rectangle {
    id: root

    color: Theme.ivory
    clip: true

    RadialGlow {
        anchors.fill: parent
        glowColor: Theme.withAlpha(Theme.blush, 0.3)
        centreX: root.width
        centreY: 0
        startRadius: 16
        endRadius: 720
    }
    RadialGlow {
        anchors.fill: parent
        glowColor: Theme.withAlpha(Theme.sage, 0.24)
        centreX: 0
        centreY: root.height
        startRadius: 16
        endRadius: 680
    }
}
