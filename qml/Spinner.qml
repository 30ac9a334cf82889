import QtQuick 2.12

// The turning wheel shown while something loads; it turns only while visible.
Image {
    id: spinner
    width: 50
    height: 50
    source: "../images/loader.png"
    cache: false
    rotation: 0

    SequentialAnimation on rotation {
        running: spinner.visible
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
