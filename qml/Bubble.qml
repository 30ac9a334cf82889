import QtQuick 2.12
import NovalineScenes 1.0

// Tool tip over a control: a light box with a pointer towards the target.
Item {
    id: root

    property alias text: label.text
    property real pointerX: 0

    visible: false
    width: box.width
    height: box.height
    z: 100

    function show(target, text) {
        label.text = text
        var corner = target.mapToItem(root.parent, 0, 0)
        var place = SceneLogic.bubblePlacement(corner.x, corner.y, root.parent.width, box.width,
                                               target.width, root.childrenRect.height)
        root.x = place.x
        root.y = place.y
        root.pointerX = place.pointerX
        root.visible = true
    }
    function hide() {
        root.visible = false
    }

    Rectangle {
        id: pointer
        width: 10
        height: 10
        x: root.pointerX
        y: box.height - 5
        rotation: 45
        color: "#d8d8d8"
    }

    Rectangle {
        id: box
        width: label.implicitWidth + 10
        height: label.implicitHeight + 10
        radius: 2
        color: "#d8d8d8"

        Text {
            id: label
            objectName: "bubbleText"
            anchors.centerIn: parent
        }
    }
}
