import QtQuick 2.12
import QtGraphicalEffects 1.0
import NovalineScenes 1.0

// Image button of the control bar: brightens under the pointer and when selected,
// takes the keyboard focus back to the picture on a click, and shows its tooltip in
// the scene's bubble while the pointer is over it.
MouseArea {
    id: root

    property string image: ""
    property bool selected: false
    // Follows the button's state: a click that changes it shows the new text at once.
    property string tooltip: ""
    // The software scene graph has no shader effects: the picture is drawn plainly,
    // dimmed when neither selected nor under the pointer.
    readonly property bool effects: SceneLogic.shaderEffects

    // The size of most buttons of the bar.
    implicitWidth: 18
    implicitHeight: 13
    hoverEnabled: true
    cursorShape: Qt.PointingHandCursor

    function showTooltip() {
        if (root.tooltip !== "")
            bubble.show(root, root.tooltip)
    }

    onEntered: showTooltip()
    onExited: bubble.hide()
    onClicked: resetFocus()
    onTooltipChanged: if (root.containsMouse) showTooltip()

    Image {
        id: picture
        anchors.fill: parent
        source: root.image
        cache: false
        visible: !root.effects
        opacity: root.effects || root.selected ? 1 : (root.containsMouse ? 0.9 : 0.75)
    }

    Loader {
        anchors.fill: picture
        active: root.effects
        sourceComponent: BrightnessContrast {
            source: picture
            contrast: 0
            brightness: root.selected ? 1 : (root.containsMouse ? 0.5 : 0)
        }
    }
}
