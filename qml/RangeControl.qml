import QtQuick 2.12
import NovalineScenes 1.0

// A value in [min, max] drawn as a position along span pixels, the common part of the
// volume slider and the seek bar. value changes through setValue and updateValue only;
// setBarX moves the position and leaves the value, so playback does not feed back.
Item {
    id: root

    property real min: 0
    property real max: 1
    property real value: min
    property real init: (min + max) / 2
    // Where the value stands, in pixels from the left, and how far it can go.
    property real position: 0
    property real span: width

    function setValue(v) {
        setBarX(Math.max(min, Math.min(v, max)))
        updateValue()
    }
    function setBarX(v) {
        if (min < max)
            position = SceneLogic.barPosition(v, min, max, span)
    }
    function updateValue() {
        value = SceneLogic.valueAt(position, min, max, span)
    }

    Component.onCompleted: setValue(init)
}
