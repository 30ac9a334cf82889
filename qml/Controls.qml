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

    // "normal" shows everything as declared (bar and panel at 0.8, the channel texts
    // at 1); the others fade what they hide.
    states: [
        State {
            name: "normal"
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
            tooltip: root.playing ? qsTr("Пауза") : qsTr("Воспроизвести")
            onClicked: root.playing ? videoPlayer.pause() : videoPlayer.play()
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
            tooltip: qsTr("Назад")
            onClicked: viewer.playPrev()
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
            tooltip: qsTr("Вперед")
            onClicked: viewer.playNext()
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
            tooltip: muted ? qsTr("Вкл. звук") : qsTr("Выкл. звук")
            onClicked: {
                if (muted) {
                    volumeSliderElement.setValue(lastVolume)
                    lastVolume = 0
                } else {
                    lastVolume = Math.round(volumeSliderElement.value)
                    volumeSliderElement.setValue(0)
                }
            }
        }

        MySlider {
            id: volumeSliderElement
            objectName: "volumeSlider"
            width: 70
            anchors.right: rightButtons.left
            anchors.rightMargin: 20
            anchors.verticalCenter: parent.verticalCenter
            min: 0
            max: 200
            init: initialVolume
            onChanged: viewer.saveVolume(value)
        }

        // The buttons at the right, 10 pixels apart; the one of the guide and the one of
        // TV mode take each other's place.
        Row {
            id: rightButtons
            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            spacing: 10

            MyButton {
                id: jtvButton
                objectName: "jtvButton"
                width: root.inIptv ? 18 : 0
                visible: root.inIptv
                image: "../images/tvProgram.png"
                selected: root.state === "jtv"
                tooltip: qsTr("Телепрограмма")
                onClicked: toggleJtv()
            }

            MyButton {
                id: tvButton
                objectName: "tvButton"
                visible: !root.inIptv
                width: root.inIptv ? 0 : 18
                image: "qrc:/images/tvButton.png"
                tooltip: qsTr("Переключиться в режим ТВ")
                onClicked: viewer.loadIptv()
            }

            MyButton {
                id: playlistButton
                objectName: "playlistButton"
                image: "../images/playlist.png"
                selected: playlist.isActive
                tooltip: qsTr("Список каналов")
                onClicked: {
                    playlist.isActive = !playlist.isActive
                    viewer.savePlaylistState(playlist.isActive)
                }
            }

            MyButton {
                id: aspectButton
                objectName: "aspectButton"
                image: "../images/aspectRatio.png"
                readonly property string stateName: SceneLogic.aspectStateName(videoOutput.aspectRatio)
                tooltip: qsTr("Размер изображения (%1)").arg(stateName)
                onClicked: {
                    videoOutput.aspectRatio = SceneLogic.nextAspectRatio(videoOutput.aspectRatio)
                    channelMemory.rememberAspectRatio(videoOutput.aspectRatio)
                }
            }

            MyButton {
                id: fullsrceenButton
                objectName: "fullscreenButton"
                image: viewer.isFullscreen ? "../images/screenFull.png" : "../images/screenSmall.png"
                tooltip: viewer.isFullscreen ? qsTr("Оконный режим") : qsTr("Полноэкранный режим")
                onClicked: viewer.toggleFullscreen()
            }
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
