import QtQuick 2.0
import MyTools 1.0

// Stands in for the real root scene: sets the minimum size and reports itself loaded.
Item {
    property int currentMode: config.mode === Config.Iptv ? 0 : 1
    Component.onCompleted: {
        viewer.setMinimumWidth(370)
        viewer.setMinimumHeight(278)
        viewer.formLoaded = true
    }
}
