#pragma once
// Generated signals and measurements shared by the dsp tests.
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace dsp_test {

struct ToneFit {
    double amplitude;
    double phase;  // radians, of a * sin + b * cos: x ~ amplitude * sin(w n + phase)
};

// Least-squares fit of one sinusoid of known frequency (the window should
// hold a whole number of periods).
template <typename T>
ToneFit FitTone(const std::vector<T>& x, size_t begin, size_t count, double freq, double rate,
                size_t stride = 1, size_t offset = 0) {
    const double w = 2.0 * M_PI * freq / rate;
    double s = 0, c = 0;
    for (size_t i = 0; i < count; ++i) {
        const double n = static_cast<double>(begin + i);
        const double v = static_cast<double>(x[(begin + i) * stride + offset]);
        s += v * std::sin(w * n);
        c += v * std::cos(w * n);
    }
    s *= 2.0 / count;
    c *= 2.0 / count;
    return ToneFit{std::hypot(s, c), std::atan2(c, s)};
}

// Interleaved 16-bit tone, `channels` identical channels.
inline std::vector<int16_t> Tone(size_t frames, int channels, double freq, double rate,
                                 double amplitude, double phase = 0.0) {
    std::vector<int16_t> out(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2.0 * M_PI * freq * i / rate + phase);
        for (int c = 0; c < channels; ++c) {
            out[i * channels + c] = static_cast<int16_t>(std::lround(v));
        }
    }
    return out;
}

inline std::vector<int16_t> Noise(size_t samples, int amplitude, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<int16_t> out(samples);
    for (auto& v : out) {
        v = static_cast<int16_t>(dist(gen));
    }
    return out;
}

}  // namespace dsp_test
