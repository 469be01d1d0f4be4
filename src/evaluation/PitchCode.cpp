#include "evaluation/PitchCode.h"

#include <cmath>
#include <limits>

namespace evaluation {

int HopPitchCode(float hz) {
    if (!(hz > 0.0f)) {
        return kNoPitch;
    }
    const float x = 48.0f * std::log(hz / 110.0f) * 1.442695f - 96.0f + 0.5f;
    if (x < static_cast<float>(kLowestPitchCode)) {
        return kLowestPitchCode;
    }
    if (x > static_cast<float>(kHighestPitchCode)) {
        return kHighestPitchCode;
    }
    return static_cast<int>(x);  // truncation toward zero
}

int RoundedPitchCode(float hz) {
    if (std::isnan(hz)) {
        return kLowestPitchCode;
    }
    // ln of 0 is -inf, which lands in the lowest code as any very low pitch.
    const float x = hz > 0.0f ? 48.0f * std::log(hz / 440.0f) * 1.442695f
                              : -std::numeric_limits<float>::infinity();
    if (x > 127.0f) {
        return kHighestPitchCode;
    }
    if (x > 0.0f) {
        return static_cast<int>(x + 0.5f);
    }
    if (x > -126.5f) {
        return static_cast<int>(x - 0.5f);
    }
    return kLowestPitchCode;
}

double PitchCodeToHz(int code) {
    if (code == kNoPitch) {
        return 0.0;
    }
    return 440.0 * std::pow(2.0, code / 48.0);
}

}  // namespace evaluation
