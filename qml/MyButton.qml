import QtQuick 2.12
import QtGraphicalEffects 1.0

// Image button: brightens under the pointer and when selected.
MouseArea {
    id: root

    property string image: ""
    property bool selected: false

    hoverEnabled: true
    cursorShape: Qt.PointingHandCursor

    Image {
        id: picture
        anchors.fill: parent
        source: root.image
        cache: false
        visible: false
    }

    BrightnessContrast {
        anchors.fill: picture
        source: picture
        contrast: 0
        brightness: root.selected ? 1 : (root.containsMouse ? 0.5 : 0)
    }
}
