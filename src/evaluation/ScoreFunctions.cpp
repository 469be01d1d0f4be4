#include "evaluation/ScoreFunctions.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "evaluation/ScoringExports.h"
#include "evaluation/TotalScore.h"

namespace evaluation {

namespace {

constexpr double kPi = 3.14159265359;

std::atomic<int> gFunction{kSymmetricSine};
std::atomic<int> gTolerance{0};
std::atomic<int> gSlope{25};
std::atomic<int> gRange{12};

// NaN counts as the far end for a deviation and as no tolerance.
double Unit(double v, double nanValue) {
    if (std::isnan(v)) {
        return nanValue;
    }
    return std::clamp(v, 0.0, 1.0);
}

double SymmetricRatio(double d, double e) {
    return 0.5 + 0.5 * std::sin((1.0 - 3.0 * e) / (2.0 - 2.0 * e) * kPi + kPi * d / (1.0 - e));
}

double AsymmetricRatio(double d, double e) {
    const double c = 1.0 / (2.0 * (1.0 - e));
    return std::sin((1.0 - c) * kPi + c * kPi * d);
}

// Both curves are 1 at d = e and 0 at d = 1. A deviation within the tolerance
// is a full score; that also covers e = 1, where the curves divide by zero.
double Ratio(double x, double tol, bool symmetric) {
    const double d = Unit(x, 1.0);
    const double e = Unit(tol, 0.0);
    if (d <= e) {
        return 1.0;
    }
    return std::clamp(symmetric ? SymmetricRatio(d, e) : AsymmetricRatio(d, e), 0.0, 1.0);
}

float Capped(int count, int full, float weight) {
    // A "full" of 0 or less would divide by zero: any count reaches the cap.
    if (full <= 0) {
        return count > 0 ? weight : 0.0f;
    }
    return std::min(static_cast<float>(count) / static_cast<float>(full) * weight, weight);
}

}  // namespace

void ResetScoreFunction() {
    const ScoreFunctionSettings defaults;
    gFunction = defaults.function;
    gTolerance = defaults.tolerance;
    gSlope = defaults.slope;
    gRange = defaults.range;
}

ScoreFunctionSettings CurrentScoreFunction() {
    return {gFunction.load(), gTolerance.load(), gSlope.load(), gRange.load()};
}

float NoteScore(int deviation, const ScoreFunctionSettings& s) {
    if (s.function == kLinearScore) {
        if (deviation <= s.tolerance) {
            return 100.0f;
        }
        const double score = 100.0 - (static_cast<double>(deviation) - s.tolerance) * s.slope;
        return static_cast<float>(std::clamp(score, 0.0, 100.0));
    }
    if (s.range <= 0) {
        return deviation <= s.tolerance ? 100.0f : 0.0f;
    }
    const double x = static_cast<double>(deviation) / s.range;
    const double tol = static_cast<double>(s.tolerance) / s.range;
    return static_cast<float>(100.0 * Ratio(x, tol, s.function != kAsymmetricSine));
}

RadarValues ComputeRadar(float pitchScore, int vibratoCount, int validPortamentoCount,
                         float performance, float stability) {
    RadarValues r;
    r.pitch = pitchScore;
    r.vibrato = Capped(vibratoCount, kVibratoFull, 100.0f);
    r.portamento = Capped(validPortamentoCount, kPortamentoFull, 100.0f);
    r.performance = std::min(performance / kPerformanceFull * 100.0f, 100.0f);
    r.stability = stability;
    GetTotalScore(pitchScore, kVibratoWeight, kPortamentoWeight, kPerformanceWeight, kPitchWeight,
                  vibratoCount, kVibratoFull, validPortamentoCount, kPortamentoFull, performance,
                  r.total);
    return r;
}

}  // namespace evaluation

float GetNoteScore(int deviation) {
    return evaluation::NoteScore(deviation, evaluation::CurrentScoreFunction());
}

int SetLinearScoringParam(int tolerance, int slope) {
    evaluation::gTolerance = tolerance;
    evaluation::gSlope = slope;
    return slope;
}

int SetSineScoringParam(int tolerance, int range) {
    // A range of 0 or less has no curve: refused, the settings in force stay
    // and their range is returned.
    if (range <= 0) {
        return evaluation::gRange.load();
    }
    evaluation::gTolerance = tolerance;
    evaluation::gRange = range;
    return range;
}

int SetScoreFunction(int function) {
    evaluation::gFunction = function;
    return function;
}

double symmetric_score_ratio(double x, double tol) {
    return evaluation::Ratio(x, tol, true);
}

double asymmetric_score_ratio(double x, double tol) {
    return evaluation::Ratio(x, tol, false);
}

int GetTotalScore(float pitchScore, float vibratoWeight, float portamentoWeight,
                  float performanceWeight, float pitchWeight, int vibratoCount, int vibratoFull,
                  int portamentoCount, int portamentoFull, float performance, float& total) {
    float sum = evaluation::Capped(vibratoCount, vibratoFull, vibratoWeight);
    sum += pitchScore * pitchWeight / 100.0f;
    sum += evaluation::Capped(portamentoCount, portamentoFull, portamentoWeight);
    sum +=
        std::min(performance / evaluation::kPerformanceFull * performanceWeight, performanceWeight);
    total = std::isnan(sum) ? 0.0f : sum;
    return 1;
}
