#pragma once
// The performance total and the five radar values, from the pitch score, the
// validated expression counts, the performance measure (mean level times
// level variation) and the stability.

namespace evaluation {

struct RadarValues {
    float pitch = 0;
    float vibrato = 0;
    float portamento = 0;
    float performance = 0;
    float stability = 0;
    float total = 0;
};

constexpr float kVibratoWeight = 3.0f;
constexpr float kPortamentoWeight = 6.0f;
constexpr float kPerformanceWeight = 3.0f;
constexpr float kPitchWeight = 88.0f;
constexpr int kVibratoFull = 15;
constexpr int kPortamentoFull = 30;
constexpr float kPerformanceFull = 7.5f;

// total = min(vibrato / 15 * 3, 3) + pitch * 88 / 100 + min(portamento / 30 *
// 6, 6) + min(performance / 7.5 * 3, 3), in single precision and that order.
RadarValues ComputeRadar(float pitchScore, int vibratoCount, int validPortamentoCount,
                         float performance, float stability);

}  // namespace evaluation
