import QtQuick 2.12

// One checkable entry per track the stream reports; id -1 turns the kind of track off.
ChoiceMenu {
    property var trackModel: null
    property int currentTrack: -1
    signal chosen(int track)
    onPicked: chosen(choice)

    model: trackModel
    value: currentTrack
    textRole: "title"
    valueRole: "id"
    offText: qsTr("отключить")
    enabled: trackModel ? trackModel.count > 0 : false
}
