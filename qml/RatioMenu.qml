import QtQuick 2.12
import QtQuick.Controls 1.4
import VLCQt 1.1

// The picture ratios, checked on the current value.
Menu {
    id: root

    property int value: 0
    signal chosen(int ratio)

    style: DarkMenuStyle {}

    ExclusiveGroup { id: group }

    MenuItem {
        text: "по умолчанию"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Original
        onTriggered: root.chosen(Vlc.Original)
    }
    MenuItem {
        text: "16:9"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_16_9
        onTriggered: root.chosen(Vlc.R_16_9)
    }
    MenuItem {
        text: "16:10"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_16_10
        onTriggered: root.chosen(Vlc.R_16_10)
    }
    MenuItem {
        text: "185:100"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_185_100
        onTriggered: root.chosen(Vlc.R_185_100)
    }
    MenuItem {
        text: "221:100"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_221_100
        onTriggered: root.chosen(Vlc.R_221_100)
    }
    MenuItem {
        text: "235:100"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_235_100
        onTriggered: root.chosen(Vlc.R_235_100)
    }
    MenuItem {
        text: "239:100"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_239_100
        onTriggered: root.chosen(Vlc.R_239_100)
    }
    MenuItem {
        text: "4:3"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_4_3
        onTriggered: root.chosen(Vlc.R_4_3)
    }
    MenuItem {
        text: "5:4"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_5_4
        onTriggered: root.chosen(Vlc.R_5_4)
    }
    MenuItem {
        text: "5:3"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_5_3
        onTriggered: root.chosen(Vlc.R_5_3)
    }
    MenuItem {
        text: "1:1"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.R_1_1
        onTriggered: root.chosen(Vlc.R_1_1)
    }
}
