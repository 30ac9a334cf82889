import QtQuick 2.12
import NovalineScenes 1.0

// Volume slider: a knob on a two-coloured track. changed is emitted on user choices only.
Item {
    id: root

    property real min: 0
    property real max: 1
    property real value: min
    property real init: (min + max) / 2
    readonly property real span: width - knob.width
    property alias knobX: knob.x

    signal changed(real value)

    height: 10

    function setValue(v) {
        setBarX(SceneLogic.clamp(v, min, max))
        updateValue()
    }
    function setBarX(v) {
        if (min < max)
            knob.x = SceneLogic.barPosition(v, min, max, span)
    }
    function updateValue() {
        value = SceneLogic.valueAt(knob.x, min, max, span)
    }

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
            knob.x = SceneLogic.clamp(mouse.x, 0, root.span)
            root.updateValue()
            root.changed(root.value)
        }
    }

    Rectangle {
        id: knob
        objectName: "volumeKnob"
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
                var nx = knob.x + (mouse.x - pressX)
                if (SceneLogic.strictlyInside(nx, 0, root.span)) {
                    knob.x = nx
                    root.updateValue()
                }
            }
            onReleased: root.changed(root.value)
        }
    }

    Component.onCompleted: setValue(init)
}
