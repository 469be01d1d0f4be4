#pragma once
// The pitch code: a signed count of quarter tones (48 per octave) relative to
// 440 Hz. kNoPitch marks a rest or a frame without pitch; valid codes run
// from -127 to 127.
#include <cstdint>

namespace evaluation {

constexpr int kNoPitch = -128;
constexpr int kLowestPitchCode = -127;
constexpr int kHighestPitchCode = 127;

// Per-hop conversion used for the frame table and the live display: the
// value is truncated toward zero, not rounded, so below 440 Hz a note reads
// one code high half of the time (220 Hz gives -47). Frequencies that are not
// positive give kNoPitch.
int HopPitchCode(float hz);

// Rounding conversion used by the note scorer's frame buffer.
int RoundedPitchCode(float hz);

// Saturates an arithmetic result into the valid code range; never wraps into
// kNoPitch.
constexpr int SaturatePitchCode(int code) {
    return code < kLowestPitchCode ? kLowestPitchCode
                                   : (code > kHighestPitchCode ? kHighestPitchCode : code);
}

// Frequency of a code (440 Hz · 2^(code/48)); 0 for kNoPitch.
double PitchCodeToHz(int code);

}  // namespace evaluation
