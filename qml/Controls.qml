import QtQuick 2.12
import VLCQt 1.1
import MyTools 1.0
import NovalineScenes 1.0

// The control bar along the bottom of the player scene. It also carries the overlay
// states of the player scene.
Rectangle {
    id: root

    property alias seekbar: seekbarElement
    property alias volumeSlider: volumeSliderElement
    property alias mouseArea: controlsMouseArea
    readonly property bool containsMouse: controlsMouseArea.containsMouse
    readonly property bool playing: videoPlayer.state === Vlc.Playing
    readonly property bool inIptv: config.mode === Config.Iptv

    color: "#1a1a1a"
    opacity: 0.8
    Behavior on opacity { NumberAnimation { duration: 100 } }

    states: [
        State {
            name: "normal"
            PropertyChanges { target: root; opacity: 0.8 }
            PropertyChanges { target: playlist; opacity: 0.8 }
            PropertyChanges { target: channelTitle; opacity: 1 }
            PropertyChanges { target: channelGroup; opacity: 1 }
        },
        State {
            name: "hidden"
            PropertyChanges { target: root; opacity: 0 }
            PropertyChanges { target: playlist; opacity: 0 }
            PropertyChanges { target: channelTitle; opacity: 0 }
            PropertyChanges { target: channelGroup; opacity: 0 }
        },
        State {
            name: "jtv"
            PropertyChanges { target: root; opacity: 0.8 }
            PropertyChanges { target: playlist; opacity: 0 }
            PropertyChanges { target: channelTitle; opacity: 0 }
            PropertyChanges { target: channelGroup; opacity: 0 }
            AnchorChanges { target: jtvItem; anchors.top: globalMouseArea.top }
        }
    ]

    transitions: [
        Transition {
            to: "jtv"
            AnchorAnimation { duration: 200; easing.type: Easing.Linear }
        },
        Transition {
            from: "jtv"
            to: "normal"
            AnchorAnimation { duration: 200; easing.type: Easing.Linear }
        }
    ]

    MouseArea {
        id: controlsMouseArea
        objectName: "controlsMouseArea"
        anchors.fill: parent
        hoverEnabled: true
        onClicked: resetFocus()

        SeekBar {
            id: seekbarElement
            objectName: "seekbar"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.top
            visible: videoPlayer.seekable && (videoPlayer.state === Vlc.Playing || videoPlayer.state === Vlc.Paused)
            z: 1
        }

        MyButton {
            id: playPauseButton
            objectName: "playPauseButton"
            width: 13
            height: 17
            anchors.left: parent.left
            anchors.leftMargin: 17
            anchors.verticalCenter: parent.verticalCenter
            image: root.playing ? "../images/pauseButton.png" : "../images/playButton.png"
            onClicked: {
                resetFocus()
                if (root.playing) {
                    videoPlayer.pause()
                    bubble.show(playPauseButton, "Воспроизвести")
                } else {
                    videoPlayer.play()
                    bubble.show(playPauseButton, "Пауза")
                }
            }
            onEntered: bubble.show(playPauseButton, root.playing ? "Пауза" : "Воспроизвести")
            onExited: bubble.hide()
        }

        MyButton {
            id: prevButton
            objectName: "prevButton"
            width: 13
            height: 11
            anchors.left: playPauseButton.right
            anchors.leftMargin: 17
            anchors.verticalCenter: parent.verticalCenter
            image: "../images/prevButton.png"
            onClicked: {
                resetFocus()
                viewer.playPrev()
                bubble.show(prevButton, "Назад")
            }
            onEntered: bubble.show(prevButton, "Назад")
            onExited: bubble.hide()
        }

        MyButton {
            id: nextButton
            objectName: "nextButton"
            width: 13
            height: 11
            anchors.left: prevButton.right
            anchors.leftMargin: 11
            anchors.verticalCenter: parent.verticalCenter
            image: "../images/nextButton.png"
            onClicked: {
                resetFocus()
                viewer.playNext()
                bubble.show(nextButton, "Вперед")
            }
            onEntered: bubble.show(nextButton, "Вперед")
            onExited: bubble.hide()
        }

        Text {
            id: currentTimeText
            objectName: "currentTimeText"
            anchors.left: nextButton.right
            anchors.leftMargin: 14
            anchors.verticalCenter: parent.verticalCenter
            font.family: "Tahoma"
            font.pixelSize: 12
            color: "#939393"
            text: timeToString(videoPlayer.time)
            visible: videoPlayer.length > 0
        }

        Text {
            id: durationText
            objectName: "durationText"
            anchors.left: currentTimeText.right
            anchors.leftMargin: 3
            anchors.verticalCenter: parent.verticalCenter
            font.family: "Tahoma"
            font.pixelSize: 12
            color: "#616161"
            text: "/ " + timeToString(videoPlayer.length)
            visible: videoPlayer.length > 0
        }

        Text {
            id: startTimeText
            objectName: "startTimeText"
            anchors.left: videoPlayer.length > 0 ? durationText.right : nextButton.right
            anchors.leftMargin: 14
            anchors.baseline: programmTitleText.baseline
            font.family: "Tahoma"
            font.pixelSize: 12
            color: "#d4d4d4"
            text: jtvModel.currentIndex > -1
                  ? SceneLogic.timeRange(jtvModel.currentTime, jtvModel.currentEndTime) : ""
        }

        Text {
            id: programmTitleText
            objectName: "programmTitleText"
            anchors.left: startTimeText.right
            anchors.leftMargin: 10
            anchors.right: muteButton.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            font.family: "Tahoma"
            font.pixelSize: 14
            color: "white"
            clip: true
            text: jtvModel.currentTitle
            visible: jtvModel.currentIndex > -1

            MouseArea {
                anchors.fill: parent
                cursorShape: Qt.PointingHandCursor
                onClicked: toggleJtv()
            }
        }

        MyButton {
            id: muteButton
            objectName: "muteButton"
            width: 18
            height: 13
            anchors.right: volumeSliderElement.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            property int lastVolume: 0
            readonly property bool muted: volumeSliderElement.value < 5
            image: muted ? "../images/volOff.png" : "../images/volOn.png"
            onClicked: {
                resetFocus()
                if (muted) {
                    volumeSliderElement.setValue(lastVolume)
                    lastVolume = 0
                    bubble.show(muteButton, "Выкл. звук")
                } else {
                    lastVolume = Math.round(volumeSliderElement.value)
                    volumeSliderElement.setValue(0)
                    bubble.show(muteButton, "Вкл. звук")
                }
            }
            onEntered: bubble.show(muteButton, muted ? "Вкл. звук" : "Выкл. звук")
            onExited: bubble.hide()
        }

        MySlider {
            id: volumeSliderElement
            objectName: "volumeSlider"
            width: 70
            anchors.right: jtvButton.left
            anchors.rightMargin: 20
            anchors.verticalCenter: parent.verticalCenter
            min: 0
            max: 200
            init: initialVolume
            onChanged: viewer.saveVolume(value)
        }

        MyButton {
            id: jtvButton
            objectName: "jtvButton"
            width: root.inIptv ? 18 : 0
            height: 13
            anchors.right: tvButton.left
            anchors.rightMargin: root.inIptv ? 10 : 0
            anchors.verticalCenter: parent.verticalCenter
            visible: root.inIptv
            image: "../images/tvProgram.png"
            selected: root.state === "jtv"
            onClicked: {
                resetFocus()
                toggleJtv()
                bubble.show(jtvButton, "Телепрограмма")
            }
            onEntered: bubble.show(jtvButton, "Телепрограмма")
            onExited: bubble.hide()
        }

        MyButton {
            id: tvButton
            objectName: "tvButton"
            width: root.inIptv ? 0 : 18
            height: 13
            anchors.right: playlistButton.left
            anchors.rightMargin: root.inIptv ? 0 : 10
            anchors.verticalCenter: parent.verticalCenter
            visible: !root.inIptv
            image: "qrc:/images/tvButton.png"
            onClicked: {
                resetFocus()
                viewer.loadIptv()
            }
            onEntered: bubble.show(tvButton, "Переключиться в режим ТВ")
            onExited: bubble.hide()
        }

        MyButton {
            id: playlistButton
            objectName: "playlistButton"
            width: 18
            height: 13
            anchors.right: aspectButton.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            image: "../images/playlist.png"
            selected: playlist.isActive
            onClicked: {
                resetFocus()
                playlist.isActive = !playlist.isActive
                viewer.savePlaylistState(playlist.isActive)
                bubble.show(playlistButton, "Список каналов")
            }
            onEntered: bubble.show(playlistButton, "Список каналов")
            onExited: bubble.hide()
        }

        MyButton {
            id: aspectButton
            objectName: "aspectButton"
            width: 18
            height: 13
            anchors.right: fullsrceenButton.left
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            image: "../images/aspectRatio.png"
            readonly property string stateName: SceneLogic.aspectStateName(videoOutput.aspectRatio)
            readonly property string tip: "Размер изображения (" + stateName + ")"
            onClicked: {
                resetFocus()
                videoOutput.aspectRatio = SceneLogic.nextAspectRatio(videoOutput.aspectRatio)
                channelMemory.rememberAspectRatio(videoOutput.aspectRatio)
                bubble.show(aspectButton, tip)
            }
            onEntered: bubble.show(aspectButton, tip)
            onExited: bubble.hide()
        }

        MyButton {
            id: fullsrceenButton
            objectName: "fullscreenButton"
            width: 18
            height: 13
            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            image: viewer.isFullscreen ? "../images/screenFull.png" : "../images/screenSmall.png"
            onClicked: {
                resetFocus()
                viewer.toggleFullscreen()
            }
            onEntered: bubble.show(fullsrceenButton, viewer.isFullscreen ? "Оконный режим" : "Полноэкранный режим")
            onExited: bubble.hide()
        }

        MouseArea {
            id: cornerButton
            objectName: "cornerButton"
            width: 11
            height: 11
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.margins: 1
            cursorShape: Qt.SizeFDiagCursor
            visible: !viewer.isFullscreen
            property point pressPoint: Qt.point(0, 0)
            onPressed: {
                resetFocus()
                pressPoint = Qt.point(mouse.x, mouse.y)
            }
            onPositionChanged: {
                if (pressed)
                    viewer.windowResized(mouse.x - pressPoint.x, mouse.y - pressPoint.y)
            }
            onReleased: viewer.windowResizeFinished()

            Image {
                anchors.fill: parent
                source: "../images/corner.png"
                cache: false
            }
        }

        Text {
            id: versionText
            objectName: "versionText"
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 2
            anchors.right: cornerButton.left
            anchors.rightMargin: 5
            font.pixelSize: 8
            color: "grey"
            text: shortVersion
        }
    }
}
