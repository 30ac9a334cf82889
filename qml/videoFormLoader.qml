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
        visible: root.compositionEnabled && !SceneLogic.shaderEffects

        Rectangle {
            anchors.fill: parent
            anchors.margins: root.margin
            color: "black"
        }
    }

    Loader {
        id: mainShadow
        objectName: "mainShadow"
        anchors.fill: parent
        active: root.compositionEnabled && SceneLogic.shaderEffects
        sourceComponent: DropShadow {
            horizontalOffset: 1
            verticalOffset: 1
            radius: 12.0
            samples: 16
            color: "#000000"
            source: mainShadowWrapper
        }
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

        Spinner {
            id: loader
            objectName: "spinner"
            anchors.centerIn: parent
        }
    }

    Component.onCompleted: {
        viewer.setMinimumWidth(368 + 2 * margin)
        viewer.setMinimumHeight(276 + 2 * margin)
    }
}
