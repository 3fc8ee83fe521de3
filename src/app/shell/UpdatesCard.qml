import QtQuick
import QtQuick.Layouts
import Lumora.Shell
import Lumora.Theme

// The running version and the update check; five taps on the version show a quiet note.
EditorialCard {
    id: root

    required property string version
    required property string build
    required property UpdateChecker updates
    property int versionTapCount: 0
    property bool showQuietNote: false

    RowLayout {
        width: parent.width
        spacing: 8
        Icon {
            symbol: "arrow.triangle.2.circlepath.circle.fill"
            size: 28
            color: Theme.information
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4
            ReadableText {
                objectName: "versionTitle"
                Layout.fillWidth: true
                text: "Corvane " + root.version
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.display(24, Font.Medium)
                color: Theme.ink
                TapHandler {
                    onTapped: {
                        root.versionTapCount += 1
                        if (root.versionTapCount >= 5)
                            root.showQuietNote = true
                    }
                }
            }
            ReadableText {
                Layout.fillWidth: true
                text: "Build " + root.build + " · Signed automatic updates"
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Theme.small
                color: Theme.muted
            }
        }
    }
    ReadableText {
        width: parent.width
        text: qsTr("Corvane checks for trusted updates automatically. You can also check whenever you like.")
        wrapMode: Text.Wrap
        lineHeightMode: Text.FixedHeight
        lineHeight: font.pixelSize + 6
        font: Theme.small
        color: Theme.muted
    }
    Flow {
        width: parent.width
        spacing: 12
        SecondaryButton {
            objectName: "checkForUpdatesButton"
            text: qsTr("Check for Updates…")
            symbol: "arrow.down.circle"
            enabled: root.updates.configured
            onClicked: root.updates.checkForUpdates()
        }
        // The page opens only when asked: checks announce a newer release and no more.
        PrimaryButton {
            objectName: "openDownloadPageButton"
            visible: root.updates.availableVersion.length > 0
            text: qsTr("Open Download Page")
            onClicked: root.updates.openDownloadPage()
        }
    }
    Hint {
        objectName: "updateMessage"
        announced: true
        visible: root.updates.message.length > 0
        width: parent.width
        symbol: "info.circle"
        text: root.updates.message
        tint: Theme.ink
    }
    ReadableText {
        objectName: "updatesUnavailable"
        visible: !root.updates.configured
        width: parent.width
        text: qsTr("Update checking is enabled in signed release builds.")
        wrapMode: Text.Wrap
        font: Theme.small
        color: Theme.muted
    }
    ReadableText {
        id: quietNote
        objectName: "quietNote"
        visible: root.showQuietNote
        width: parent.width
        text: qsTr("A quiet place to turn toward each other.")
        wrapMode: Text.Wrap
        font.family: Theme.display(14, Font.Normal).family
        font.pixelSize: 14
        font.italic: true
        color: Theme.positive
        opacity: visible ? 1 : 0
        transform: Translate {
            y: quietNote.visible || Theme.reduceMotion ? 0 : 8
            Behavior on y {
                enabled: !Theme.reduceMotion
                NumberAnimation { duration: 250; easing.type: Easing.OutQuad }
            }
        }
        Behavior on opacity {
            enabled: !Theme.reduceMotion
            NumberAnimation { duration: 250 }
        }
    }
}
