import QtQuick 2.12

// The turning wheel shown while something loads; it turns only while visible.
Image {
    id: spinner
    width: 50
    height: 50
    source: "../images/loader.png"
    cache: false
    rotation: 0

    // Ticks, not smooth: 40 degrees every 50 ms, a turn in 450 ms.
    Timer {
        interval: 50
        repeat: true
        running: spinner.visible
        triggeredOnStart: true
        onTriggered: spinner.rotation = (spinner.rotation + 40) % 360
    }
}
