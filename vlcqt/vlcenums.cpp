#include "vlcenums.h"

namespace Vlc {

double ratioValue(int ratio)
{
    switch (ratio) {
    case R_16_9: return 16.0 / 9.0;
    case R_16_10: return 16.0 / 10.0;
    case R_185_100: return 1.85;
    case R_221_100: return 2.21;
    case R_235_100: return 2.35;
    case R_239_100: return 2.39;
    case R_4_3: return 4.0 / 3.0;
    case R_5_4: return 5.0 / 4.0;
    case R_5_3: return 5.0 / 3.0;
    case R_1_1: return 1.0;
    default: return 0.0;
    }
}

const char *deinterlacingName(int mode)
{
    switch (mode) {
    case Discard: return "discard";
    case Blend: return "blend";
    case Mean: return "mean";
    case Bob: return "bob";
    case Linear: return "linear";
    case X: return "x";
    case Yadif: return "yadif";
    case Yadif2x: return "yadif2x";
    case Phospor: return "phosphor";
    case IVTC: return "ivtc";
    default: return "";
    }
}

} // namespace Vlc
