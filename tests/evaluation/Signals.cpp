#include "evaluation/Signals.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace testsignals {

std::vector<float> Harmonic(const FrequencyCurve& hz, double seconds, double amplitude) {
    const int n = static_cast<int>(seconds * kRate);
    std::vector<float> out(n);
    double phase = 0.0;  // cycles of the fundamental
    double norm = 0.0;
    for (int m = 1; m <= 6; ++m) {
        norm += 1.0 / m;
    }
    for (int i = 0; i < n; ++i) {
        const double f = hz(static_cast<double>(i) / kRate);
        double v = 0.0;
        if (f > 0.0) {
            for (int m = 1; m <= 6; ++m) {
                v += std::sin(2.0 * M_PI * m * phase) / m;
            }
        }
        out[i] = static_cast<float>(amplitude * v / norm * 1.6);
        phase += f / kRate;
        phase -= std::floor(phase);
    }
    return out;
}

std::vector<float> Steady(double hz, double seconds, double amplitude) {
    return Harmonic([hz](double) { return hz; }, seconds, amplitude);
}

std::vector<float> Silence(double seconds) {
    return std::vector<float>(static_cast<size_t>(seconds * kRate), 0.0f);
}

std::vector<float> Noise(double seconds, double amplitude, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(-amplitude, amplitude);
    std::vector<float> out(static_cast<size_t>(seconds * kRate));
    for (float& v : out) {
        v = static_cast<float>(d(gen));
    }
    return out;
}

FrequencyCurve Glide(double from, double to, double at, double length) {
    return [=](double t) {
        if (t <= at) {
            return from;
        }
        if (t >= at + length) {
            return to;
        }
        return from * std::pow(to / from, (t - at) / length);
    };
}

FrequencyCurve Vibrato(double centre, double rate, double depthSemitones) {
    return [=](double t) {
        return centre * std::pow(2.0, depthSemitones * std::sin(2.0 * M_PI * rate * t) / 12.0);
    };
}

std::vector<short> ToShort(const std::vector<float>& v) {
    std::vector<short> out(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        out[i] = static_cast<short>(std::clamp(std::lround(v[i]), -32768L, 32767L));
    }
    return out;
}

void Append(std::vector<float>& a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
}

}  // namespace testsignals
