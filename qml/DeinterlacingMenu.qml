import QtQuick 2.12
import VLCQt 1.1

// The deinterlacing modes, checked on the current value. The filters' own names are
// not translated.
ChoiceMenu {
    signal chosen(int mode)
    onPicked: chosen(choice)

    model: [
        { text: qsTr("отключено"), value: Vlc.Disabled },
        { text: qsTr("Отбрасывание"), value: Vlc.Discard },
        { text: qsTr("Смешивание"), value: Vlc.Blend },
        { text: qsTr("Среднее"), value: Vlc.Mean },
        { text: qsTr("Удвоение"), value: Vlc.Bob },
        { text: qsTr("Линейное"), value: Vlc.Linear },
        { text: "X", value: Vlc.X },
        { text: "Yadif", value: Vlc.Yadif },
        { text: "Yadif(2x)", value: Vlc.Yadif2x },
        { text: qsTr("Фоспор"), value: Vlc.Phospor },
        { text: "NTSC(IVTC)", value: Vlc.IVTC }
    ]
}
