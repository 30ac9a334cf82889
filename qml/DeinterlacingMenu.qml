import QtQuick 2.12
import QtQuick.Controls 1.4
import VLCQt 1.1

// The deinterlacing modes, checked on the current value.
Menu {
    id: root

    property int value: 0
    signal chosen(int mode)

    style: DarkMenuStyle {}

    ExclusiveGroup { id: group }

    MenuItem {
        text: "отключено"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Disabled
        onTriggered: root.chosen(Vlc.Disabled)
    }
    MenuItem {
        text: "Отбрасывание"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Discard
        onTriggered: root.chosen(Vlc.Discard)
    }
    MenuItem {
        text: "Смешивание"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Blend
        onTriggered: root.chosen(Vlc.Blend)
    }
    MenuItem {
        text: "Среднее"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Mean
        onTriggered: root.chosen(Vlc.Mean)
    }
    MenuItem {
        text: "Удвоение"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Bob
        onTriggered: root.chosen(Vlc.Bob)
    }
    MenuItem {
        text: "Линейное"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Linear
        onTriggered: root.chosen(Vlc.Linear)
    }
    MenuItem {
        text: "X"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.X
        onTriggered: root.chosen(Vlc.X)
    }
    MenuItem {
        text: "Yadif"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Yadif
        onTriggered: root.chosen(Vlc.Yadif)
    }
    MenuItem {
        text: "Yadif(2x)"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Yadif2x
        onTriggered: root.chosen(Vlc.Yadif2x)
    }
    MenuItem {
        text: "Фоспор"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.Phospor
        onTriggered: root.chosen(Vlc.Phospor)
    }
    MenuItem {
        text: "NTSC(IVTC)"
        checkable: true
        exclusiveGroup: group
        checked: root.value === Vlc.IVTC
        onTriggered: root.chosen(Vlc.IVTC)
    }
}
