#pragma once
// Helpers shared by the exported expression detectors and the feature
// tracker's report.

namespace evaluation {

constexpr float kLoudnessCapDb = 72.0f;

// Level of loudness window i: 20 * log10 of the largest of the 2 * blockLength
// values from i * blockLength, capped at 72 dB; 0 when that value is not
// above 0. The caller keeps the window inside the values.
float LoudnessWindowLevel(const float* values, int blockLength, int i);

// Number of loudness windows in a track of count values (count / blockLength
// - 2, never negative).
int LoudnessWindowCount(int count, int blockLength);

}  // namespace evaluation
