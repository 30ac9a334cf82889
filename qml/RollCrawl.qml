import QtQuick 2.12

// Text that crawls to the left when it does not fit, with a copy following it so that
// the loop shows no jump.
Item {
    id: root

    property alias text: first.text
    property alias font: first.font
    property alias color: first.color
    property bool running: true
    readonly property bool overflowing: first.implicitWidth > width
    readonly property alias offset: row.x

    clip: true
    height: first.implicitHeight

    function rewind() {
        row.x = 0
        if (crawl.running)
            crawl.restart()
    }
    onWidthChanged: rewind()
    onTextChanged: rewind()

    Row {
        id: row
        x: 0
        spacing: 20

        Text { id: first }
        // The copy is laid out only while the text does not fit.
        Text {
            objectName: "crawlCopy"
            text: root.overflowing ? first.text : ""
            font: first.font
            color: first.color
            visible: root.overflowing
        }
    }

    // Stopping leaves the row where it is; starting again begins from x = 0.
    SequentialAnimation {
        id: crawl
        running: root.running && root.overflowing
        loops: Animation.Infinite
        NumberAnimation {
            target: row
            property: "x"
            from: 0
            to: -(first.implicitWidth + 20)
            duration: 5000
            easing.type: Easing.Linear
        }
        PauseAnimation { duration: 3000 }
    }
}
