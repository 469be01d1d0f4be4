#include "evaluation/LivePitch.h"

#include "evaluation/PitchCode.h"

namespace evaluation {

int CLivePitch::Smooth(int code) {
    ring_[index_] = code;
    const int average = (ring_[0] + ring_[1] + ring_[2]) / 3;
    ring_[index_] = average;
    index_ = (index_ + 1) % 3;
    return average;
}

int CLivePitch::Next(int hopCode, int reference, int nextNote, float envelopePeak) {
    int code = hopCode;
    if (reference == kNoPitch) {
        // During a rest the display shows where the next note will be.
        code = nextNote;
    } else {
        while (code - reference > 24) {
            code -= 48;
        }
        while (reference - code > 24) {
            code += 48;
        }
    }
    if (code < kLowestPitchCode) {
        code = kLowestPitchCode;
    }
    const int live = Smooth(code);
    return envelopePeak < kLeastEnvelope ? kNoPitch : live;
}

}  // namespace evaluation
