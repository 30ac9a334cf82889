import QtQuick 2.12
import VLCQt 1.1

// The picture ratios, checked on the current value.
ChoiceMenu {
    signal chosen(int ratio)
    onPicked: chosen(choice)

    model: [
        { text: qsTr("по умолчанию"), value: Vlc.Original },
        { text: "16:9", value: Vlc.R_16_9 },
        { text: "16:10", value: Vlc.R_16_10 },
        { text: "185:100", value: Vlc.R_185_100 },
        { text: "221:100", value: Vlc.R_221_100 },
        { text: "235:100", value: Vlc.R_235_100 },
        { text: "239:100", value: Vlc.R_239_100 },
        { text: "4:3", value: Vlc.R_4_3 },
        { text: "5:4", value: Vlc.R_5_4 },
        { text: "5:3", value: Vlc.R_5_3 },
        { text: "1:1", value: Vlc.R_1_1 }
    ]
}
