#include <gtest/gtest.h>

#include <cmath>

#include "evaluation/ScoreFunctions.h"
#include "evaluation/ScoringExports.h"
#include "evaluation/TotalScore.h"

namespace {

struct ScoreFunctionGuard {
    ScoreFunctionGuard() { evaluation::ResetScoreFunction(); }
    ~ScoreFunctionGuard() { evaluation::ResetScoreFunction(); }
};

}  // namespace

TEST(GetNoteScore, CurvesForTheDefaultsAndEachFunction) {
    ScoreFunctionGuard guard;
    struct Case {
        int function;
        int deviation;
        float score;
    } cases[] = {
        // symmetric (default: tolerance 0, range 12)
        {2, 0, 100.0f},
        {2, 2, 93.30f},
        {2, 3, 85.36f},
        {2, 4, 75.0f},
        {2, 6, 50.0f},
        {2, 8, 25.0f},
        {2, 12, 0.0f},
        {2, 40, 0.0f},
        {7, 4, 75.0f},  // any other value: symmetric
        // asymmetric
        {1, 0, 100.0f},
        {1, 2, 96.59f},
        {1, 3, 92.39f},
        {1, 4, 86.60f},
        {1, 6, 70.71f},
        {1, 8, 50.0f},
        {1, 12, 0.0f},
        // linear, slope 25
        {0, 0, 100.0f},
        {0, 2, 50.0f},
        {0, 4, 0.0f},
        {0, 9, 0.0f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetScoreFunction(c.function), c.function);
        EXPECT_NEAR(GetNoteScore(c.deviation), c.score, 0.01f) << c.function << " " << c.deviation;
    }
}

TEST(GetNoteScore, DeviationEqualToTheToleranceScoresFull) {
    ScoreFunctionGuard guard;
    for (int function : {0, 1, 2}) {
        SetScoreFunction(function);
        EXPECT_EQ(SetSineScoringParam(3, 12), 12);
        EXPECT_EQ(SetLinearScoringParam(3, 25), 25);
        EXPECT_FLOAT_EQ(GetNoteScore(3), 100.0f) << function;
        EXPECT_LT(GetNoteScore(4), 100.0f) << function;
    }
}

TEST(GetNoteScore, DegenerateParametersGiveDefinedScores) {
    ScoreFunctionGuard guard;
    // A range of 0 or less is refused; the range in force is returned.
    EXPECT_EQ(SetSineScoringParam(0, 0), 12);
    EXPECT_EQ(SetSineScoringParam(0, -5), 12);
    EXPECT_NEAR(GetNoteScore(4), 75.0f, 0.01f);
    // Tolerance at or past the range: d and e both clamp to 1, full score.
    SetSineScoringParam(12, 12);
    for (int function : {1, 2}) {
        SetScoreFunction(function);
        for (int deviation : {0, 12, 100}) {
            const float s = GetNoteScore(deviation);
            EXPECT_FALSE(std::isnan(s));
            EXPECT_FLOAT_EQ(s, 100.0f);
        }
    }
    // A negative slope never lifts a linear score above 100.
    SetScoreFunction(0);
    SetLinearScoringParam(0, -10);
    EXPECT_FLOAT_EQ(GetNoteScore(5), 100.0f);
}

TEST(ScoreRatio, RatiosOnNormalizedValues) {
    EXPECT_NEAR(symmetric_score_ratio(4.0 / 12, 0), 0.75, 1e-9);
    EXPECT_NEAR(asymmetric_score_ratio(8.0 / 12, 0), 0.5, 1e-9);
    EXPECT_EQ(symmetric_score_ratio(0.2, 0.3), 1.0);
    EXPECT_EQ(asymmetric_score_ratio(0.3, 0.3), 1.0);
    EXPECT_EQ(symmetric_score_ratio(2.0, 0), 0.0);  // clamped to 1
    EXPECT_EQ(symmetric_score_ratio(1.0, 1.0), 1.0);
    EXPECT_EQ(asymmetric_score_ratio(1.0, 1.0), 1.0);
    EXPECT_FALSE(std::isnan(symmetric_score_ratio(NAN, 0.0)));
    EXPECT_FALSE(std::isnan(asymmetric_score_ratio(0.5, NAN)));
}

TEST(GetTotalScore, WorkedExampleAndRadar) {
    float total = -1;
    EXPECT_EQ(GetTotalScore(85.2731f, 3, 6, 3, 88, 5, 15, 3, 30, 4.8375f, total), 1);
    EXPECT_NEAR(total, 78.5753f, 1e-4);

    const evaluation::RadarValues r = evaluation::ComputeRadar(85.2731f, 5, 3, 4.8375f, 72.0513f);
    EXPECT_NEAR(r.pitch, 85.2731f, 1e-4);
    EXPECT_NEAR(r.vibrato, 33.3333f, 1e-3);  // needs floating-point division
    EXPECT_NEAR(r.portamento, 10.0f, 1e-4);
    EXPECT_NEAR(r.performance, 64.5f, 1e-4);
    EXPECT_NEAR(r.stability, 72.0513f, 1e-4);
    EXPECT_NEAR(r.total, 78.5753f, 1e-4);
}

TEST(GetTotalScore, CapsAndZeroFulls) {
    struct Case {
        int vibrato, vibratoFull, portamento, portamentoFull;
        float performance, total;
    } cases[] = {
        {100, 15, 100, 30, 100.0f, 100.0f},  // every part capped
        {0, 15, 0, 30, 0.0f, 88.0f},
        {4, 0, 0, 0, 0.0f, 91.0f},  // a "full" of 0: the weight is the cap
        {0, 0, 0, 0, 0.0f, 88.0f},
    };
    for (const Case& c : cases) {
        float total = -1;
        EXPECT_EQ(GetTotalScore(100.0f, 3, 6, 3, 88, c.vibrato, c.vibratoFull, c.portamento,
                                c.portamentoFull, c.performance, total),
                  1);
        EXPECT_FALSE(std::isnan(total));
        EXPECT_NEAR(total, c.total, 1e-4) << c.vibrato << " " << c.vibratoFull;
    }
}
