import QtQuick
import QtQuick.Controls
import Lumora.History
import Lumora.Theme

// An entry's actions: hide it from this user's view or show it again (only for what the
// account holds), then delete it, titled by what deleting it would do now.
Menu {
    id: root

    required property HistoryModel model
    required property string entryID
    required property int backup
    required property bool isHidden
    readonly property int visibility: HistoryTexts.visibilityItem(root.backup, root.isHidden)
    // Asked again each time the menu opens: it follows the pairing state.
    property int deletionKind: HistoryModel.Immediate

    signal requestDelete

    onAboutToShow: root.deletionKind = root.model.deletionKind(root.entryID)
    // A screen reader names the menu as the button that opens it.
    Binding {
        target: root.contentItem ? root.contentItem.parent : null
        property: "Accessible.name"
        value: qsTr("More actions for this conversation")
    }
    font: Theme.interfaceFont(13, Font.Normal)
    topPadding: 6
    bottomPadding: 6

    background: Rectangle {
        implicitWidth: 220
        radius: 8
        color: Theme.paper
        border.color: Theme.rule
    }
    ActionItem {
        objectName: "showInHistoryItem"
        visible: root.visibility === HistoryTexts.ShowItem
        height: visible ? implicitHeight : 0
        text: qsTr("Show in my history")
        onTriggered: root.model.unhide(root.entryID)
    }
    ActionItem {
        objectName: "hideItem"
        visible: root.visibility === HistoryTexts.HideItem
        height: visible ? implicitHeight : 0
        text: qsTr("Hide from my view")
        ToolTip.visible: hovered
        ToolTip.text: qsTr("Only you stop seeing it. Your partner's history does not change.")
        ToolTip.delay: 500
        onTriggered: root.model.hide(root.entryID)
    }
    MenuSeparator {
        visible: root.visibility !== HistoryTexts.NoVisibilityItem
        height: visible ? implicitHeight : 0
        topPadding: 4
        bottomPadding: 4
        leftPadding: 14
        rightPadding: 14
        contentItem: Rectangle {
            implicitHeight: 1
            color: Theme.rule
        }
    }
    ActionItem {
        objectName: "deleteItem"
        destructive: true
        text: HistoryTexts.deleteItemTitle(root.deletionKind)
        onTriggered: root.requestDelete()
    }
}
