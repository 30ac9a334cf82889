import QtQuick 2.12

// Seek bar along the top edge of the control bar. value changes only on user choices;
// the player's progress moves the played part through setBarX.
RangeControl {
    id: root

    init: 0
    readonly property bool hovered: barArea.containsMouse || knobArea.containsMouse || knobArea.pressed

    height: hovered ? 10 : 4
    Behavior on height { NumberAnimation { duration: 100 } }

    Rectangle {
        anchors.fill: parent
        color: "#616161"
    }

    Rectangle {
        id: activeBar
        objectName: "activeBar"
        anchors.left: parent.left
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        width: root.position
        color: "#2b9af9"
    }

    MouseArea {
        id: barArea
        objectName: "seekBarArea"
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            root.setBarX((root.max - root.min) / root.width * mouse.x)
            root.updateValue()
        }
    }

    Rectangle {
        id: knob
        objectName: "seekKnob"
        width: root.hovered ? 16 : 0
        height: width
        radius: width / 2
        color: "#e5e5e5"
        x: activeBar.width - width / 2
        anchors.verticalCenter: parent.verticalCenter
        Behavior on width { NumberAnimation { duration: 100 } }

        MouseArea {
            id: knobArea
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            acceptedButtons: Qt.LeftButton
            property real pressX: 0
            onPressed: pressX = mouse.x
            onPositionChanged: {
                if (!pressed)
                    return
                var nw = root.position + (mouse.x - pressX)
                if (nw > 0 && nw < root.width) {
                    root.position = nw
                    root.updateValue()
                }
            }
        }
    }
}
