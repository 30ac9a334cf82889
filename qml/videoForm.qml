import QtQuick 2.12
import VLCQt 1.1
import MyTools 1.0
import NovalineScenes 1.0

// The player scene: the video, the channel texts over it, the overlay panels, and the
// keyboard and mouse handling of the picture.
Rectangle {
    id: root
    objectName: "videoForm"
    color: "black"
    clip: true
    focus: true

    readonly property bool inIptv: config.mode === Config.Iptv
    readonly property real volume: controls.volumeSlider.value
    // The crop ratio belongs to the channel (chosen for it, now or before): another
    // channel without a choice of its own goes back to the default.
    property bool cropPerChannel: false

    // Overlays: "hidden" or "normal", from where the pointer is and the full-screen timer.
    function toggleControls() {
        controls.state = SceneLogic.overlayState(viewer.isFullscreen, globalMouseArea.containsMouse,
                                                 controlsTimer.running, controls.containsMouse,
                                                 playlist.mouseArea.containsMouse)
    }

    function toggleJtv() {
        if (controls.state === "jtv") {
            controls.state = "normal"
        } else if (videoPlayer.state === Vlc.Playing) {
            // Opening first: the panel builds its rows only while open.
            controls.state = "jtv"
            jtvItem.showCurrent()
        }
    }

    function timeToString(ms) {
        return SceneLogic.timeToString(ms)
    }

    function resetFocus() {
        playlist.searchText.focus = false
        root.forceActiveFocus()
    }

    function changeVolume(delta) {
        controls.volumeSlider.setValue(controls.volumeSlider.value + delta)
        viewer.saveVolume(controls.volumeSlider.value)
    }

    Component.onCompleted: viewer.player = videoPlayer

    Connections {
        target: viewer
        // A volume asked for from outside the scene goes through the slider, which the
        // player is bound to.
        function onVolumeRequested(volume) {
            var v = Math.max(controls.volumeSlider.min, Math.min(volume, controls.volumeSlider.max))
            controls.volumeSlider.setBarX(v)
            controls.volumeSlider.value = v
            viewer.saveVolume(v)
        }
        function onCurrentItemChanged() {
            console.log("Current item changed")
            // An empty item marks no entry: its id must not put the bullet on a real one.
            var id = currentItem.empty ? -1 : currentItem.id
            if (playlist.currentId !== id)
                playlist.currentId = id
            if (!currentItem.empty) {
                if (videoPlayer.url.toString() !== currentItem.url.toString()) {
                    videoPlayer.httpUserAgent = currentItem.userAgent
                    videoPlayer.httpReferrer = currentItem.referrer
                    videoPlayer.url = currentItem.url
                    // The picture size the user chose for this channel before, if any.
                    var aspect = channelMemory.aspectRatio()
                    videoOutput.aspectRatio = aspect !== undefined ? aspect : currentItem.aspect
                    var crop = channelMemory.cropRatio()
                    if (crop !== undefined) {
                        videoOutput.cropRatio = crop
                        cropPerChannel = true
                    } else if (cropPerChannel) {
                        videoOutput.cropRatio = Qt.binding(function() { return initialCropRatio })
                        cropPerChannel = false
                    }
                }
                playlist.setCurrentGroup(currentItem.group)
                channelGroup.text = SceneLogic.groupLabel(currentItem.group)
                channelTitle.text = currentItem.title
            } else {
                // Stop whatever is opening or playing, and forget the address so that the
                // same channel announced again starts afresh.
                if (videoPlayer.state !== Vlc.Idle && videoPlayer.state !== Vlc.Stopped)
                    videoPlayer.stop()
                videoPlayer.url = ""
                playlist.setCurrentGroup("ungrouped")
                channelGroup.text = ""
                channelTitle.text = ""
            }
        }
    }

    MouseArea {
        id: globalMouseArea
        objectName: "globalMouseArea"
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.ArrowCursor
        acceptedButtons: Qt.LeftButton | Qt.RightButton

        property point pressPoint: Qt.point(0, 0)

        onPressed: {
            resetFocus()
            pressPoint = Qt.point(mouse.x, mouse.y)
        }
        onReleased: {
            if (mouse.button === Qt.RightButton)
                contextMenu.popup()
            else if (mouse.button === Qt.LeftButton)
                viewer.windowMoveFinished()
        }
        onDoubleClicked: {
            viewer.toggleFullscreen()
            toggleControls()
        }
        onPositionChanged: {
            cursorShape = Qt.ArrowCursor
            if (controls.state !== "jtv") {
                // The timer restarts first, so a movement after the overlays hid shows them.
                controlsTimer.restart()
                toggleControls()
            }
            if (!viewer.isFullscreen && (mouse.buttons & Qt.LeftButton) && platform === "windows")
                viewer.windowMoved(mouse.x - pressPoint.x, mouse.y - pressPoint.y,
                                   compositionEnabled ? shadowSize : 2)
        }
        onEntered: if (controls.state !== "jtv") toggleControls()
        onExited: if (controls.state !== "jtv") toggleControls()
        onWheel: {
            if (!playlist.mouseArea.containsMouse && !jtvItem.mouseArea.containsMouse)
                changeVolume(wheel.angleDelta.y / 8)
        }

        VlcPlayer {
            id: videoPlayer
            objectName: "videoPlayer"
            deinterlacing: initialDeinterlacing
            autoplay: true
            volume: Math.round(controls.volumeSlider.value)
            position: controls.seekbar.value
            audioPreferredLanguages: preferredAudioLanguages
            subtitlePreferredLanguages: preferredSubtitlesLanguages
            onPositionChanged: controls.seekbar.setBarX(position)
        }

        VlcVideoOutput {
            id: videoOutput
            objectName: "videoOutput"
            source: videoPlayer
            aspectRatio: initialAspectRatio
            cropRatio: initialCropRatio
            anchors.fill: parent
            // The source ratio lifts the picture a little off the control bar.
            anchors.topMargin: cropRatio === Vlc.Original ? -10 : 0
            anchors.bottomMargin: cropRatio === Vlc.Original ? 10 : 0
        }

        Text {
            id: channelGroup
            objectName: "channelGroup"
            anchors.left: parent.left
            anchors.leftMargin: 30
            anchors.baseline: channelTitle.baseline
            font.family: "Tahoma"
            font.pointSize: 12
            color: "#d9d9d9"
            text: ""
            Behavior on opacity { NumberAnimation { duration: 100 } }
        }

        Text {
            id: channelTitle
            objectName: "channelTitle"
            anchors.top: parent.top
            anchors.topMargin: 60
            anchors.left: channelGroup.right
            font.family: "Tahoma"
            font.pointSize: 16
            color: "#ffffff"
            text: ""
            Behavior on opacity { NumberAnimation { duration: 100 } }
        }

        // Retries of a broken stream, or that the channel gave no answer.
        Text {
            id: reconnectText
            objectName: "reconnectText"
            anchors.top: channelTitle.bottom
            anchors.topMargin: 8
            anchors.left: parent.left
            anchors.leftMargin: 30
            font.family: "Tahoma"
            font.pointSize: 12
            color: "#ffffff"
            style: Text.Raised
            styleColor: "#000000"
            text: reconnect.text
            visible: text !== ""
        }

        // A switch that brings no picture for a moment.
        Spinner {
            id: zapSpinner
            objectName: "zapSpinner"
            anchors.centerIn: parent
            visible: pictureWait.spinning
        }

        Playlist {
            id: playlist
            objectName: "playlist"
            anchors.top: parent.top
            anchors.bottom: jtvItem.top
            width: 250
        }

        Jtv {
            id: jtvItem
            objectName: "jtvItem"
            open: controls.state === "jtv"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: controls.top
            anchors.top: controls.top
            height: root.height
        }

        Controls {
            id: controls
            objectName: "controls"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 45
        }

        DropArea {
            id: dropArea
            objectName: "dropArea"
            anchors.fill: parent
            onDropped: {
                if (drop.hasUrls) {
                    drop.acceptProposedAction()
                    viewer.open(drop.urls)
                }
            }
        }
    }

    Timer {
        id: controlsTimer
        objectName: "controlsTimer"
        interval: 2000
        repeat: false
        onTriggered: {
            if (controls.state !== "jtv") {
                toggleControls()
                globalMouseArea.cursorShape = Qt.BlankCursor
            }
        }
    }

    Timer {
        id: jtvTimer
        objectName: "jtvTimer"
        interval: 60000
        repeat: true
        running: root.inIptv
        // Catches up after a suspend, when the boundary timer came late.
        onTriggered: jtvModel.updateCurrent()
    }

    Bubble {
        id: bubble
        objectName: "bubble"
    }

    // Built a moment after the scene, off the path to the first picture; a right click
    // before then builds it at once and opens it when it is there.
    Loader {
        id: contextMenu
        objectName: "contextMenuLoader"

        property bool popupWanted: false

        function popup() {
            if (status === Loader.Ready) {
                item.popup()
            } else {
                popupWanted = true
                active = true
            }
        }

        active: false
        asynchronous: true
        // By its address: naming the type would load the controls module with the scene.
        source: "ContextMenu.qml"
        onLoaded: {
            if (popupWanted) {
                popupWanted = false
                item.popup()
            }
        }

        Timer {
            interval: 1000
            running: true
            onTriggered: contextMenu.active = true
        }
    }

    Keys.onPressed: {
        switch (event.key) {
        case Qt.Key_Left:
            viewer.playPrev()
            event.accepted = true
            break
        case Qt.Key_Right:
            viewer.playNext()
            event.accepted = true
            break
        case Qt.Key_Backspace:
            viewer.playPreviousChannel()
            event.accepted = true
            break
        case Qt.Key_Up:
            changeVolume(10)
            event.accepted = true
            break
        case Qt.Key_Down:
            changeVolume(-10)
            event.accepted = true
            break
        case Qt.Key_Space:
            if (videoPlayer.state === Vlc.Playing)
                videoPlayer.pause()
            else
                videoPlayer.play()
            event.accepted = true
            break
        case Qt.Key_P:
            playlist.isActive = !playlist.isActive
            viewer.savePlaylistState(playlist.isActive)
            event.accepted = true
            break
        case Qt.Key_T:
            toggleJtv()
            event.accepted = true
            break
        case Qt.Key_F:
            viewer.toggleFullscreen()
            event.accepted = true
            break
        case Qt.Key_Escape:
            if (viewer.isFullscreen)
                viewer.toggleFullscreen()
            break
        case Qt.Key_Delete:
            if (config.mode === Config.LocalFile) {
                var id = playlistModel.selectedItemId()
                if (!currentItem.empty && currentItem.id === id)
                    viewer.playNext()
                playlistModel.deleteSelectedItem()
            }
            break
        }
    }
}
