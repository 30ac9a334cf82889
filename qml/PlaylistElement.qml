import QtQuick 2.12
import QtGraphicalEffects 1.0
import NovalineScenes 1.0

// One playlist entry: bullet when playing, crawling title, heart for the favourites.
Rectangle {
    id: root

    property url url
    property string title: ""
    property string group: "ungrouped"
    property bool favourite: false
    property bool enableFavourites: false
    property bool selected: false
    property bool current: false
    readonly property bool hovered: entryArea.containsMouse
    readonly property bool heartShown: enableFavourites && heartState !== ""

    signal clicked()
    signal doubleClicked()
    signal liked()

    color: (selected || hovered) ? "#555555" : "transparent"

    // Heart look, first match wins: "channelHover", "hover", "infav", "infavhover", or
    // "" for no heart.
    readonly property string heartState: SceneLogic.heartState(entryArea.containsMouse,
                                                                heartArea.containsMouse, favourite)
    readonly property real heartLightness: heartState === "channelHover" ? 0.4
                                           : heartState === "infavhover" ? 0.8
                                           : heartState !== "" ? 0.6 : 0

    Text {
        objectName: "bullet"
        width: 10
        anchors.right: titleText.left
        anchors.rightMargin: 2
        anchors.verticalCenter: parent.verticalCenter
        font.family: "Tahoma"
        font.pixelSize: 16
        color: "#d8d8d8"
        text: root.current ? "•" : ""
        visible: root.current
    }

    RollCrawl {
        id: titleText
        objectName: "titleText"
        anchors.left: parent.left
        anchors.leftMargin: root.group === "ungrouped" ? 20 : 25
        anchors.right: parent.right
        anchors.rightMargin: root.heartShown ? 22 : (root.hovered ? 1 : 4)
        anchors.verticalCenter: parent.verticalCenter
        font.family: "Tahoma"
        font.pixelSize: 13
        color: (root.current || root.hovered) ? "#d8d8d8" : "#989898"
        text: root.title
        running: root.hovered
    }

    MouseArea {
        id: entryArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.clicked()
        onDoubleClicked: root.doubleClicked()

        MouseArea {
            id: heartArea
            objectName: "heartButton"
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.bottom: parent.bottom
            width: 19
            cursorShape: Qt.PointingHandCursor
            hoverEnabled: root.height > 0
            // Without favourites there is no heart to press.
            enabled: root.enableFavourites
            onClicked: root.liked()

            // The effect is built only while a heart is drawn, which keeps rows cheap.
            Loader {
                objectName: "heart"
                anchors.centerIn: parent
                width: 9
                height: 8
                active: root.heartShown
                sourceComponent: Item {
                    Image {
                        id: heartImage
                        anchors.fill: parent
                        source: "../images/heart.png"
                        // No shader effects on the software scene graph: a plain heart,
                        // as bright as the effect would make it.
                        visible: !SceneLogic.shaderEffects
                        opacity: Math.max(0.3, Math.min(1, 0.5 + root.heartLightness / 2))
                    }
                    Loader {
                        anchors.fill: parent
                        active: SceneLogic.shaderEffects
                        sourceComponent: Colorize {
                            source: heartImage
                            hue: 0
                            saturation: 0
                            lightness: root.heartLightness
                        }
                    }
                }
            }
        }
    }
}
