import QtQuick

// The standard content card: paper on a faint rule, filling the available width.
Item {
    id: root

    default property alias content: column.data
    property alias spacing: column.spacing

    implicitWidth: column.implicitWidth + 40
    implicitHeight: column.implicitHeight + 40

    Rectangle {
        anchors.fill: parent
        anchors.topMargin: 4
        anchors.bottomMargin: -4
        radius: 16
        color: Theme.withAlpha(Theme.navy, 0.05)
    }
    Rectangle {
        anchors.fill: parent
        radius: 16
        color: Theme.withAlpha(Theme.paper, 0.96)
        border.color: Theme.rule
        border.width: 1
    }
    Column {
        id: column
        x: 20
        y: 20
        width: root.width - 40
        spacing: 16
    }
}
