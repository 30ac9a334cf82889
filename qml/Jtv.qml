import QtQuick 2.12
import NovalineScenes 1.0

// The TV guide of the playing channel, grouped by day; the running programme stands out.
Rectangle {
    id: root

    property alias list: jtvList
    // Set while the panel is open or opening.
    property bool open: false
    property alias mouseArea: jtvItemMouseArea

    color: "#1a1a1a"
    opacity: 0.8

    // The running programme at the top, fully below the pinned day header: when it is
    // the first of its day, its own header already stands above it.
    function showCurrent() {
        if (jtvModel.currentIndex < 0)
            return
        jtvList.positionViewAtIndex(jtvModel.currentIndex, ListView.Beginning)
        var row = jtvList.itemAtIndex(jtvModel.currentIndex)
        if (row)
            jtvList.contentY = Math.min(jtvList.contentY, row.y - jtvList.sectionHeight)
    }

    MouseArea {
        id: jtvItemMouseArea
        objectName: "jtvItemMouseArea"
        anchors.fill: parent
        hoverEnabled: true
        onClicked: resetFocus()

        ListView {
            id: jtvList
            objectName: "jtvList"

            property int sectionHeight: 45

            anchors.fill: parent
            // Room for the scroll bar at the right.
            anchors.rightMargin: 10
            model: jtvModel
            spacing: 2
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            // Nothing built ahead while the panel is closed: every channel change brings a
            // new guide, and rows nobody sees would be made for each.
            cacheBuffer: root.open ? 5000 : 0
            footer: Item { height: 10 }

            section.property: "jtvStartDate"
            section.criteria: ViewSection.FullString
            section.labelPositioning: ViewSection.InlineLabels | ViewSection.CurrentLabelAtStart
            section.delegate: Item {
                id: dayHeader
                objectName: "dayHeader"
                // Above the programme rows, so the pinned header covers those under it.
                z: 10
                width: jtvList.width
                height: jtvList.sectionHeight

                Rectangle {
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.top: parent.top
                    color: "#1a1a1a"
                    opacity: 0.9
                    height: SceneLogic.dayHeaderBackground(dayHeader.y - jtvList.contentY,
                                                           jtvList.sectionHeight)
                }

                Text {
                    id: weekday
                    objectName: "weekdayText"
                    anchors.left: parent.left
                    anchors.leftMargin: 20
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 10
                    font.family: "Tahoma"
                    font.pointSize: 16
                    font.bold: true
                    color: "white"
                    text: SceneLogic.weekdayTitle(section)
                }

                Text {
                    objectName: "dateText"
                    anchors.left: weekday.right
                    anchors.leftMargin: 10
                    anchors.baseline: weekday.baseline
                    font.family: "Tahoma"
                    font.pointSize: 12
                    font.bold: true
                    color: "#eeeeee"
                    text: SceneLogic.dayTitle(section)
                }
            }

            delegate: Item {
                objectName: "programmeRow"
                width: jtvList.width
                height: 20
                readonly property bool isCurrent: index === jtvModel.currentIndex
                readonly property color textColor: isCurrent ? "#afe2ff" : "#eeeeee"

                Text {
                    id: startText
                    anchors.left: parent.left
                    anchors.leftMargin: 20
                    anchors.verticalCenter: parent.verticalCenter
                    font.family: "Tahoma"
                    font.pointSize: 10
                    color: parent.textColor
                    text: SceneLogic.clockTime(model.jtvStartTime)
                }
                Text {
                    anchors.left: startText.right
                    anchors.leftMargin: 10
                    anchors.verticalCenter: parent.verticalCenter
                    font.family: "Tahoma"
                    font.pointSize: 12
                    color: parent.textColor
                    text: model.jtvTitle
                }
            }
        }

        ScrollBar {
            id: jtvScroll
            objectName: "jtvScroll"
            flickable: jtvList
        }
    }
}
