#pragma once

#include <QObject>

// The enumerations of the "VLCQt" QML module (exposed to QML as the uncreatable
// type "Vlc"). Their integer values are stored in settings and playlist entries,
// so they never change.
namespace Vlc {
Q_NAMESPACE

enum Ratio {
    Original = 0,
    Ignore = 1,
    R_16_9 = 2,
    R_16_10 = 3,
    R_185_100 = 4,
    R_221_100 = 5,
    R_235_100 = 6,
    R_239_100 = 7,
    R_4_3 = 8,
    R_5_4 = 9,
    R_5_3 = 10,
    R_1_1 = 11
};
Q_ENUM_NS(Ratio)

enum Deinterlacing {
    Disabled = 0,
    Discard = 1,
    Blend = 2,
    Mean = 3,
    Bob = 4,
    Linear = 5,
    X = 6,
    Yadif = 7,
    Yadif2x = 8,
    Phospor = 9,
    IVTC = 10
};
Q_ENUM_NS(Deinterlacing)

enum State {
    Idle = 0,
    Opening = 1,
    Buffering = 2,
    Playing = 3,
    Paused = 4,
    Stopped = 5,
    Ended = 6,
    Error = 7
};
Q_ENUM_NS(State)

// Same values as Image.fillMode, so scenes may use either.
enum FillMode {
    Stretch = 0,
    PreserveAspectFit = 1,
    PreserveAspectCrop = 2
};
Q_ENUM_NS(FillMode)

// Width / height of a ratio value; 0 for Original, Ignore and unknown values.
double ratioValue(int ratio);
// libVLC's name of a deinterlacing mode; empty for Disabled and unknown values.
const char *deinterlacingName(int mode);

} // namespace Vlc
