import QtQuick 2.12
import NovalineScenes 1.0

// Slim scroll bar at the right of a flickable. The handle always follows the content;
// dragging it or clicking the groove moves the content.
Item {
    id: root

    property Flickable flickable
    readonly property real contentRange: flickable ? flickable.contentHeight - flickable.height : 0
    readonly property real trackLength: groove.height - handle.height
    readonly property bool scrollable: flickable ? flickable.contentHeight > flickable.height : false
    property alias handleItem: handle

    width: 6
    // Nothing to show on a collapsed view (the guide panel lies flat on the control bar).
    visible: flickable ? flickable.height > 2 : false
    anchors.left: flickable ? flickable.right : undefined
    anchors.leftMargin: 2
    anchors.top: flickable ? flickable.top : undefined
    anchors.bottom: flickable ? flickable.bottom : undefined
    anchors.topMargin: 1
    anchors.bottomMargin: 1

    Rectangle {
        id: track
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        width: 2
        radius: 1
        color: Qt.rgba(0.5, 0.5, 0.5, 0.85)

        // The track swallows clicks meant for what lies under it.
        MouseArea { anchors.fill: parent }
    }

    MouseArea {
        id: groove
        objectName: "scrollGroove"
        anchors.fill: parent
        anchors.margins: 1
        visible: root.scrollable
        onClicked: flickable.contentY = flickable.originY
                   + SceneLogic.contentForGrooveClick(mouse.y, height, root.contentRange)

        Rectangle {
            id: handle
            objectName: "scrollHandle"
            anchors.horizontalCenter: parent.horizontalCenter
            width: 4
            radius: 2
            color: "white"
            height: Math.max(20, flickable.visibleArea.heightRatio * groove.height)
            y: SceneLogic.handleForContent(flickable.contentY - flickable.originY, root.contentRange,
                                           root.trackLength)
            opacity: (flickable.moving || groove.pressed || dragArea.pressed) ? 0.65 : 0.35
            Behavior on opacity { NumberAnimation { duration: 150 } }

            MouseArea {
                id: dragArea
                anchors.fill: parent
                property real grabY: 0
                onPressed: grabY = mouse.y
                onPositionChanged: {
                    if (!pressed)
                        return
                    var p = mapToItem(groove, mouse.x, mouse.y)
                    var y = Math.max(0, Math.min(p.y - grabY, root.trackLength))
                    flickable.contentY = flickable.originY
                            + SceneLogic.contentForHandle(y, root.contentRange, root.trackLength)
                }
            }
        }
    }
}
