import QtQuick 2.12
import QtGraphicalEffects 1.0

// Image button: brightens under the pointer and when selected.
MouseArea {
    id: root

    property string image: ""
    property bool selected: false
    // The software scene graph has no shader effects: the picture is drawn plainly,
    // dimmed when neither selected nor under the pointer.
    readonly property bool effects: GraphicsInfo.api !== GraphicsInfo.Software

    hoverEnabled: true
    cursorShape: Qt.PointingHandCursor

    Image {
        id: picture
        anchors.fill: parent
        source: root.image
        cache: false
        visible: !root.effects
        opacity: root.effects || root.selected ? 1 : (root.containsMouse ? 0.9 : 0.75)
    }

    BrightnessContrast {
        visible: root.effects
        anchors.fill: picture
        source: picture
        contrast: 0
        brightness: root.selected ? 1 : (root.containsMouse ? 0.5 : 0)
    }
}
