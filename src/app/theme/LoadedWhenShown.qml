import QtQuick

// Loads `file` the first time it shows and keeps it from then on: a part that most runs never
// show costs neither its items nor its QML types until then. `properties`, when given, is a
// function returning the item's first properties (Qt.binding values stay bound).
Loader {
    id: loader

    required property url file
    property var properties: null

    function loadIfShown() {
        if (loader.visible && loader.status === Loader.Null) {
            const first = loader.properties
            loader.setSource(loader.file, first ? first() : {})
        }
    }
    onVisibleChanged: loader.loadIfShown()
    Component.onCompleted: loader.loadIfShown()
}
