import QtQuick 2.12
import QtGraphicalEffects 1.0
import NovalineScenes 1.0

// Root scene: shows up at once with the window chrome and a spinner, then loads the
// player scene in the background. The player scene sees shadowSize and
// compositionEnabled by name through this root.
Item {
    id: root
    objectName: "loaderRoot"

    property int shadowSize: 10
    // The root's own property hides the context property of the same name, so the
    // context value is read through the scene helper.
    property bool compositionEnabled: SceneLogic.rootContextProperty("compositionEnabled") === true
    readonly property int margin: compositionEnabled ? shadowSize : 1
    readonly property alias loaded: formLoader.isLoaded

    Rectangle {
        id: background
        objectName: "background"
        anchors.fill: parent
        color: "black"
        visible: !root.compositionEnabled
    }

    Item {
        id: mainShadowWrapper
        objectName: "mainShadowWrapper"
        anchors.fill: parent
        // Drawn plainly where shader effects are missing (software scene graph).
        visible: root.compositionEnabled && GraphicsInfo.api === GraphicsInfo.Software

        Rectangle {
            anchors.fill: parent
            anchors.margins: root.margin
            color: "black"
        }
    }

    DropShadow {
        id: mainShadow
        objectName: "mainShadow"
        anchors.fill: parent
        horizontalOffset: 1
        verticalOffset: 1
        radius: 12.0
        samples: 16
        color: "#000000"
        source: mainShadowWrapper
        visible: root.compositionEnabled && !mainShadowWrapper.visible
        enabled: visible
    }

    Rectangle {
        id: videoArea
        objectName: "videoArea"
        anchors.fill: parent
        anchors.margins: viewer.isFullscreen ? 0 : root.margin
        color: "black"

        Loader {
            id: formLoader
            objectName: "formLoader"
            property bool isLoaded: status === Loader.Ready
            anchors.fill: parent
            asynchronous: true
            focus: true
            source: "videoForm.qml"
            onLoaded: {
                loader.visible = false
                viewer.formLoaded = true
            }
        }

        Image {
            id: loader
            objectName: "spinner"
            width: 50
            height: 50
            anchors.centerIn: parent
            source: "../images/loader.png"
            cache: false
            rotation: 0

            SequentialAnimation on rotation {
                running: loader.visible
                loops: Animation.Infinite
                PropertyAnimation { from: 0; to: 40; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 40; to: 80; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 80; to: 120; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 120; to: 160; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 160; to: 200; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 200; to: 240; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 240; to: 280; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 280; to: 320; duration: 0 }
                PauseAnimation { duration: 50 }
                PropertyAnimation { from: 320; to: 360; duration: 0 }
                PauseAnimation { duration: 50 }
            }
        }
    }

    Component.onCompleted: {
        viewer.setMinimumWidth(368 + 2 * margin)
        viewer.setMinimumHeight(276 + 2 * margin)
    }
}
