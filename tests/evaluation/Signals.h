#pragma once
// Synthetic voices for the evaluation tests: harmonic tones with a decaying
// spectrum (pure sines are a poor stand-in for a voice), glides, vibrato,
// silence and noise, as 16-bit sample values at 16 kHz.
#include <functional>
#include <vector>

namespace testsignals {

constexpr int kRate = 16000;

// Instantaneous frequency in Hz at time t seconds (0 for silence).
using FrequencyCurve = std::function<double(double)>;

// Six harmonics with amplitudes 1/m, peak about `amplitude`, phase-continuous
// along the curve.
std::vector<float> Harmonic(const FrequencyCurve& hz, double seconds, double amplitude = 8000);
std::vector<float> Steady(double hz, double seconds, double amplitude = 8000);
std::vector<float> Silence(double seconds);
std::vector<float> Noise(double seconds, double amplitude, unsigned seed = 1);

// Glide from `from` to `to` Hz starting at `at` seconds and lasting `length`
// seconds (geometric, so the steps in semitones are even).
FrequencyCurve Glide(double from, double to, double at, double length);
// Sinusoidal vibrato around `centre` Hz: `rate` Hz, depth in semitones.
FrequencyCurve Vibrato(double centre, double rate, double depthSemitones);

std::vector<short> ToShort(const std::vector<float>& v);
void Append(std::vector<float>& a, const std::vector<float>& b);

}  // namespace testsignals
