import QtQuick 2.12

// Volume slider: a knob on a two-coloured track. changed is emitted on user choices only.
RangeControl {
    id: root

    span: width - knob.width

    signal changed(real value)

    height: 10

    Rectangle {
        id: track
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        height: 2
        color: "transparent"

        Rectangle {
            anchors.left: parent.left
            width: knob.x + knob.width / 2
            height: parent.height
            radius: 3
            color: "#c7c7c7"
        }
        Rectangle {
            anchors.right: parent.right
            width: parent.width - (knob.x + knob.width / 2)
            height: parent.height
            radius: 3
            color: "#747474"
        }
    }

    MouseArea {
        id: trackArea
        objectName: "volumeTrackArea"
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            root.position = Math.max(0, Math.min(mouse.x, root.span))
            root.updateValue()
            root.changed(root.value)
        }
    }

    Rectangle {
        id: knob
        objectName: "volumeKnob"
        x: root.position
        width: 10
        height: 10
        radius: 15
        y: track.y - 4
        color: "#c7c7c7"
        opacity: 0.9

        MouseArea {
            id: knobArea
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            acceptedButtons: Qt.LeftButton
            property real pressX: 0
            onPressed: pressX = mouse.x
            onPositionChanged: {
                var nx = root.position + (mouse.x - pressX)
                if (nx > 0 && nx < root.span) {
                    root.position = nx
                    root.updateValue()
                }
            }
            onReleased: root.changed(root.value)
        }
    }
}
