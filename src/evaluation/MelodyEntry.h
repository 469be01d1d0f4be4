#pragma once
// MelodyEntry: one packed 32-bit entry of a reference melody. Bits 0-23 hold
// the start time in milliseconds from the start of the song, bits 24-31 the
// pitch code as a signed byte (kNoPitch for a rest). An entry lasts until the
// next entry's time; every melody ends with a rest.
#include <cstdint>

#include "evaluation/PitchCode.h"

using MelodyEntry = std::uint32_t;

namespace evaluation {

constexpr std::uint32_t kMelodyTimeMask = 0xFFFFFF;
constexpr std::uint32_t kMaxMelodyTimeMs = kMelodyTimeMask;

// time must fit in 24 bits (the melody reader never builds a larger one);
// code is kNoPitch or a valid pitch code.
constexpr MelodyEntry MakeMelodyEntry(std::uint32_t timeMs, int code) {
    return (timeMs & kMelodyTimeMask) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(static_cast<std::int8_t>(code)))
            << 24);
}
constexpr int MelodyTime(MelodyEntry e) {
    return static_cast<int>(e & kMelodyTimeMask);
}
constexpr int MelodyPitch(MelodyEntry e) {
    return static_cast<std::int8_t>(e >> 24);
}
constexpr bool IsRest(MelodyEntry e) {
    return MelodyPitch(e) == kNoPitch;
}

}  // namespace evaluation
