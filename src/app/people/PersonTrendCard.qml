pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Lumora.People
import Lumora.Theme

// How one seat fared over the reviews stored on this computer: the trend line, then its share
// of the talk in each of the five newest.
EditorialCard {
    id: root

    required property string name
    required property personTrend trend
    required property color tint

    ReadableText {
        objectName: root.objectName + "Name"
        width: parent.width
        text: ThemeFonts.upperCased(root.name)
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font.family: Theme.interfaceFont(16, Font.Bold).family
        font.pixelSize: 16
        font.weight: Font.Bold
        font.letterSpacing: 2
        color: root.tint
        Accessible.name: root.name
    }
    ReadableText {
        objectName: root.objectName + "Line"
        width: parent.width
        text: root.trend.line
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Theme.interfaceFont(12, Font.Normal)
        color: Theme.muted
    }
    Rectangle {
        width: parent.width
        height: 1
        color: Theme.rule
        opacity: 0.3
    }
    Column {
        width: parent.width
        spacing: 10
        Repeater {
            model: root.trend.rows
            delegate: RowLayout {
                id: trendRow
                required property personTrendRow modelData
                objectName: "trendRow"
                width: parent ? parent.width : 0
                spacing: 10
                ReadableText {
                    Layout.preferredWidth: 96
                    text: trendRow.modelData.date
                    textFormat: Text.PlainText
                    font: Theme.small
                    color: Theme.ink
                }
                Item {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 8
                    Rectangle {
                        anchors.fill: parent
                        radius: 4
                        color: Theme.withAlpha(Theme.ink, 0.07)
                    }
                    Rectangle {
                        width: parent.width * trendRow.modelData.share
                        height: parent.height
                        radius: 4
                        color: root.tint
                    }
                }
                ReadableText {
                    Layout.preferredWidth: 36
                    horizontalAlignment: Text.AlignRight
                    text: trendRow.modelData.percent
                    textFormat: Text.PlainText
                    font: Theme.figures(12, Font.Medium)
                    color: root.tint
                }
            }
        }
    }
}
