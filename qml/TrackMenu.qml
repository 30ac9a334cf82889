import QtQuick 2.12
import QtQuick.Controls 1.4
import QtQml.Models 2.2

// One checkable entry per track the stream reports; id -1 turns the kind of track off.
Menu {
    id: root

    property var trackModel: null
    property int currentTrack: -1
    signal chosen(int track)

    enabled: trackModel ? trackModel.count > 0 : false
    style: DarkMenuStyle {}

    property ExclusiveGroup group: ExclusiveGroup {}

    Instantiator {
        model: root.trackModel
        MenuItem {
            text: model.id === -1 ? "отключить" : model.title
            checkable: true
            exclusiveGroup: root.group
            checked: root.currentTrack === model.id
            onTriggered: root.chosen(model.id)
        }
        onObjectAdded: root.insertItem(index, object)
        onObjectRemoved: root.removeItem(object)
    }
}
