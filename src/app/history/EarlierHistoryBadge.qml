import QtQuick

// A conversation of a partner workspace the user has left: it can be read, nothing more.
Badge {
    symbol: "book.closed"
    title: qsTr("Earlier history \u00b7 read only")
    tooltip: qsTr("You can read this. New conversations go to your history now.")
}
