import QtQuick 2.12

// Group header of the playlist; the "ungrouped" group shows no title.
Rectangle {
    id: root

    property string title: "ungrouped"
    signal clicked()

    color: area.containsMouse ? "#555555" : "transparent"

    Text {
        anchors.left: parent.left
        anchors.leftMargin: 9
        anchors.verticalCenter: parent.verticalCenter
        font.family: "Tahoma"
        font.pixelSize: 13
        color: "#d8d8d8"
        text: root.title === "ungrouped" ? "" : root.title
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
    }
}
