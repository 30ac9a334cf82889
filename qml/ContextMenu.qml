import QtQuick 2.12
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4
import VLCQt 1.1
import MyTools 1.0

// The player's full command set, opened at the pointer by a right click on the picture.
Menu {
    id: root
    objectName: "contextMenu"

    readonly property bool inIptv: config.mode === Config.Iptv

    style: DarkMenuStyle {}

    MenuItem {
        objectName: "playItem"
        text: qsTr("Воспроизвести")
        visible: videoPlayer.state !== Vlc.Playing
        onTriggered: videoPlayer.play()
    }
    MenuItem {
        objectName: "pauseItem"
        text: qsTr("Пауза")
        visible: videoPlayer.state === Vlc.Playing
        onTriggered: videoPlayer.pause()
    }
    MenuItem {
        objectName: "prevItem"
        text: qsTr("Предыдущий")
        onTriggered: viewer.playPrev()
    }
    MenuItem {
        objectName: "nextItem"
        text: qsTr("Следующий")
        onTriggered: viewer.playNext()
    }
    MenuItem {
        objectName: "previousChannelItem"
        text: qsTr("Предыдущий канал")
        shortcut: "Backspace"
        visible: root.inIptv
        enabled: viewer.hasPreviousChannel
        onTriggered: viewer.playPreviousChannel()
    }
    MenuSeparator {}
    TrackMenu {
        objectName: "audioTrackMenu"
        title: qsTr("Аудиодорожка")
        trackModel: videoPlayer.audioTrackModel
        currentTrack: videoPlayer.audioTrack
        onChosen: {
            videoPlayer.audioTrack = track
            channelMemory.rememberAudioTrack(track)
        }
    }
    Menu {
        objectName: "videoMenu"
        title: qsTr("Видео")
        style: DarkMenuStyle {}

        TrackMenu {
            objectName: "videoTrackMenu"
            title: qsTr("Видеодорожка")
            trackModel: videoPlayer.videoTrackModel
            currentTrack: videoPlayer.videoTrack
            onChosen: videoPlayer.videoTrack = track
        }
        MenuSeparator {}
        MenuItem {
            objectName: "fullscreenItem"
            text: qsTr("Во весь экран")
            checkable: true
            checked: viewer.isFullscreen
            onTriggered: viewer.toggleFullscreen()
        }
        MenuItem {
            objectName: "stayOnTopItem"
            text: qsTr("Поверх всех окон")
            checkable: true
            checked: viewer.stayOnTop
            onTriggered: viewer.stayOnTop = !viewer.stayOnTop
        }
        MenuSeparator {}
        RatioMenu {
            objectName: "aspectMenu"
            title: qsTr("Соотношение сторон")
            value: videoOutput.aspectRatio
            onChosen: {
                videoOutput.aspectRatio = ratio
                channelMemory.rememberAspectRatio(ratio)
            }
        }
        RatioMenu {
            objectName: "cropMenu"
            title: qsTr("Кадрирование")
            value: videoOutput.cropRatio
            onChosen: {
                videoOutput.cropRatio = ratio
                cropPerChannel = channelMemory.currentUrl.toString() !== ""
                channelMemory.rememberCropRatio(ratio)
            }
        }
        MenuSeparator {}
        DeinterlacingMenu {
            objectName: "deinterlacingMenu"
            title: qsTr("Устранение чересстрочности")
            value: videoPlayer.deinterlacing
            onChosen: videoPlayer.deinterlacing = mode
        }
    }
    TrackMenu {
        objectName: "subtitleTrackMenu"
        title: qsTr("Субтитры")
        trackModel: videoPlayer.subtitleTrackModel
        currentTrack: videoPlayer.subtitleTrack
        onChosen: {
            videoPlayer.subtitleTrack = track
            channelMemory.rememberSubtitleTrack(track)
        }
    }
    MenuSeparator {
        objectName: "jtvSeparator"
        visible: root.inIptv
    }
    MenuItem {
        objectName: "jtvItem"
        text: qsTr("Телепрограмма")
        visible: root.inIptv
        onTriggered: toggleJtv()
    }
    MenuSeparator {}
    MenuItem {
        objectName: "settingsItem"
        text: qsTr("Параметры")
        onTriggered: viewer.showSettingsForm()
    }
    MenuSeparator {}
    MenuItem {
        objectName: "quitItem"
        text: qsTr("Выход")
        onTriggered: viewer.quit()
    }
}
